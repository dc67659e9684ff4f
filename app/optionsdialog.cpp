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
    return s;
}
