#include "app/alertsdialog.h"

#include "monitor/hoststats.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

AlertsDialog::AlertsDialog(const AlertSettings& settings, QWidget* parent)
    : QDialog(parent), m_logPath(settings.logPath)
{
    setObjectName(QStringLiteral("frmAlerts"));
    setWindowTitle(QStringLiteral("Alerts"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    m_downAfter = new QSpinBox(this);
    m_downAfter->setObjectName(QStringLiteral("spnDownAfter"));
    m_downAfter->setRange(1, monitor::HostMonitor::MaxDownAfter);
    m_downAfter->setValue(std::clamp(settings.downAfter, 1, monitor::HostMonitor::MaxDownAfter));
    m_downAfter->setSuffix(QStringLiteral(" failed probes in a row"));
    form->addRow(QStringLiteral("A host is &down after"), m_downAfter);
    layout->addLayout(form);

    m_outageLog = new QCheckBox(QStringLiteral("Keep an &outage log"), this);
    m_outageLog->setObjectName(QStringLiteral("chkOutageLog"));
    m_outageLog->setChecked(settings.outageLog);
    layout->addWidget(m_outageLog);
    auto* where = new QLabel(QStringLiteral("One line for each host going down or coming back, added to\n%1")
                                 .arg(QDir::toNativeSeparators(settings.logPath)),
                             this);
    where->setObjectName(QStringLiteral("lblLogPath"));
    where->setTextInteractionFlags(Qt::TextSelectableByMouse);
    where->setIndent(20);
    layout->addWidget(where);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

AlertSettings AlertsDialog::settings() const
{
    AlertSettings s;
    s.downAfter = m_downAfter->value();
    s.outageLog = m_outageLog->isChecked();
    s.logPath = m_logPath;
    return s;
}
