#include "app/optionsdialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

OptionsDialog::OptionsDialog(const ProbeSettings& settings, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(QStringLiteral("Options"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    m_interval = new QSpinBox(this);
    m_interval->setObjectName(QStringLiteral("spnIntervalMs"));
    m_interval->setRange(ProbeSettings::MinIntervalMs, ProbeSettings::MaxIntervalMs);
    m_interval->setSingleStep(100);
    m_interval->setGroupSeparatorShown(true);
    m_interval->setSuffix(QStringLiteral(" ms"));
    m_interval->setValue(std::clamp(settings.intervalMs, ProbeSettings::MinIntervalMs, ProbeSettings::MaxIntervalMs));
    form->addRow(QStringLiteral("&Time between sweeps of a continuous run"), m_interval);
    m_timeout = new QSpinBox(this);
    m_timeout->setObjectName(QStringLiteral("spnTimeoutMs"));
    m_timeout->setRange(ProbeSettings::MinTimeoutMs, ProbeSettings::MaxTimeoutMs);
    m_timeout->setSingleStep(100);
    m_timeout->setGroupSeparatorShown(true);
    m_timeout->setSuffix(QStringLiteral(" ms"));
    m_timeout->setValue(std::clamp(settings.timeoutMs, ProbeSettings::MinTimeoutMs, ProbeSettings::MaxTimeoutMs));
    form->addRow(QStringLiteral("&Wait for each reply up to"), m_timeout);
    m_payload = new QSpinBox(this);
    m_payload->setObjectName(QStringLiteral("spnPayloadBytes"));
    m_payload->setRange(ProbeSettings::MinPayloadBytes, ProbeSettings::MaxPayloadBytes);
    m_payload->setSuffix(QStringLiteral(" bytes"));
    m_payload->setValue(
        std::clamp(settings.payloadBytes, ProbeSettings::MinPayloadBytes, ProbeSettings::MaxPayloadBytes));
    m_payload->setToolTip(QStringLiteral("Data sent in each echo request, 0 to 1472 bytes. An IPv6 request carries "
                                         "at most 1452 bytes, as IPv6 routers never split a packet."));
    form->addRow(QStringLiteral("&Data in each request"), m_payload);
    layout->addLayout(form);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

ProbeSettings OptionsDialog::settings() const
{
    ProbeSettings s;
    s.intervalMs = m_interval->value();
    s.timeoutMs = m_timeout->value();
    s.payloadBytes = m_payload->value();
    return s;
}
