#include "app/alertsdialog.h"

#include "app/spinbox.h"
#include "monitor/hoststats.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
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
    m_downAfter = boundedSpinBox(this, "spnDownAfter", 1, monitor::HostMonitor::MaxDownAfter, settings.rules.downAfter);
    form->addRow(QStringLiteral("A host is &down after"), m_downAfter);
    const auto spin = [this](const char* name, int low, int high, int value, const QString& suffix) {
        return boundedSpinBox(this, name, low, high, value, suffix);
    };
    using monitor::AlertRules;
    m_upAfter = spin("spnUpAfter", 1, AlertRules::MaxUpAfter, settings.rules.upAfter, QString());
    form->addRow(QStringLiteral("and &up after"), m_upAfter);
    m_recentProbes =
        spin("spnRecentProbes", 2, AlertRules::MaxRecentProbes, settings.rules.recentProbes, QStringLiteral(" probes"));
    form->addRow(QStringLiteral("&Recent loss and round trip over the last"), m_recentProbes);
    m_lossPercent = spin("spnDegradedLoss", 0, 100, settings.rules.degradedLossPercent, QStringLiteral("% lost"));
    m_lossPercent->setSpecialValueText(QStringLiteral("never by loss"));
    form->addRow(QStringLiteral("An up host is de&graded at"), m_lossPercent);
    m_rttMs = spin("spnDegradedRtt", 0, AlertRules::MaxDegradedRttMs, settings.rules.degradedRttMs,
                   QStringLiteral(" ms average round trip"));
    m_rttMs->setSpecialValueText(QStringLiteral("never by round trip"));
    form->addRow(QStringLiteral("or at"), m_rttMs);
    // "1 reply in a row", not "1 replies".
    const auto counted = [](QSpinBox* box, const QString& one, const QString& many) {
        const auto follow = [box, one, many](int value) { box->setSuffix(value == 1 ? one : many); };
        follow(box->value());
        QObject::connect(box, &QSpinBox::valueChanged, box, follow);
    };
    counted(m_downAfter, QStringLiteral(" failed probe in a row"), QStringLiteral(" failed probes in a row"));
    counted(m_upAfter, QStringLiteral(" reply in a row"), QStringLiteral(" replies in a row"));
    layout->addLayout(form);

    m_outageLog = new QCheckBox(QStringLiteral("Keep an &outage log"), this);
    m_outageLog->setObjectName(QStringLiteral("chkOutageLog"));
    m_outageLog->setChecked(settings.outageLog);
    layout->addWidget(m_outageLog);
    auto* where = new QLabel(QStringLiteral("One line for each host going down, degraded or coming back, added to\n%1")
                                 .arg(QDir::toNativeSeparators(settings.logPath)),
                             this);
    where->setObjectName(QStringLiteral("lblLogPath"));
    where->setTextInteractionFlags(Qt::TextSelectableByMouse);
    where->setIndent(20);
    layout->addWidget(where);

    m_runCommand = new QCheckBox(QStringLiteral("Run a &command on each change"), this);
    m_runCommand->setObjectName(QStringLiteral("chkRunCommand"));
    m_runCommand->setChecked(settings.runCommand);
    layout->addWidget(m_runCommand);
    m_command = new QLineEdit(settings.command, this);
    m_command->setObjectName(QStringLiteral("txtCommand"));
    m_command->setPlaceholderText(QStringLiteral("notify-send \"Tivane\" \"A host changed\""));
    m_command->setEnabled(settings.runCommand);
    m_command->setToolTip(QStringLiteral("Run without a shell, with TIVANE_NAME, TIVANE_ADDRESS, TIVANE_STATE, "
                                         "TIVANE_PREVIOUS_STATE, TIVANE_STATUS, TIVANE_STATUS_TEXT, TIVANE_RTT_MS, "
                                         "TIVANE_LOSS_PERCENT and TIVANE_SINCE set"));
    connect(m_runCommand, &QCheckBox::toggled, m_command, &QWidget::setEnabled);
    layout->addWidget(m_command);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

AlertSettings AlertsDialog::settings() const
{
    AlertSettings s;
    s.rules.downAfter = m_downAfter->value();
    s.rules.upAfter = m_upAfter->value();
    s.rules.recentProbes = m_recentProbes->value();
    s.rules.degradedLossPercent = m_lossPercent->value();
    s.rules.degradedRttMs = m_rttMs->value();
    s.outageLog = m_outageLog->isChecked();
    s.logPath = m_logPath;
    s.runCommand = m_runCommand->isChecked();
    s.command = m_command->text().trimmed();
    return s;
}
