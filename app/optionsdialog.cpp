#include "app/optionsdialog.h"

#include "app/spinbox.h"

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
    using S = ProbeSettings;
    m_interval = boundedSpinBox(this, "spnIntervalMs", S::MinIntervalMs, S::MaxIntervalMs, settings.intervalMs,
                                QStringLiteral(" ms"));
    m_timeout = boundedSpinBox(this, "spnTimeoutMs", S::MinTimeoutMs, S::MaxTimeoutMs, settings.timeoutMs,
                               QStringLiteral(" ms"));
    for (QSpinBox* box : {m_interval, m_timeout}) {
        box->setSingleStep(100);
        box->setGroupSeparatorShown(true);
    }
    form->addRow(QStringLiteral("&Time between sweeps of a continuous run"), m_interval);
    form->addRow(QStringLiteral("&Wait for each reply up to"), m_timeout);
    m_payload = boundedSpinBox(this, "spnPayloadBytes", S::MinPayloadBytes, S::MaxPayloadBytes, settings.payloadBytes,
                               QStringLiteral(" bytes"));
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
