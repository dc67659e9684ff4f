#pragma once

#include "monitor/hoststats.h"

#include <QDialog>
#include <QString>

class QCheckBox;
class QLineEdit;
class QSpinBox;

// What the Alerts dialog sets.
struct AlertSettings
{
    monitor::AlertRules rules; // when a host counts as down, up or degraded
    bool outageLog = false;    // one line per state change appended to logPath
    QString logPath;           // shown only: where the log goes
    bool runCommand = false;   // command runs on each change of a host's state
    QString command;           // split like a shell's words, run without a shell
};

// "Alerts": when a host counts as down, up or degraded, and whether state changes go to the
// outage log.
class AlertsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AlertsDialog(const AlertSettings& settings, QWidget* parent = nullptr);

    // What the dialog holds now (the path as it was given).
    AlertSettings settings() const;

private:
    QSpinBox* m_downAfter = nullptr;
    QSpinBox* m_upAfter = nullptr;
    QSpinBox* m_recentProbes = nullptr;
    QSpinBox* m_lossPercent = nullptr;
    QSpinBox* m_rttMs = nullptr;
    QCheckBox* m_outageLog = nullptr;
    QCheckBox* m_runCommand = nullptr;
    QLineEdit* m_command = nullptr;
    QString m_logPath;
};
