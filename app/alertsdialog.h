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
    int downAfter = 3;            // failed probes in a row before a host counts as down
    int upAfter = 1;              // replies in a row before it counts as up
    int recentProbes = 20;        // the probes the recent loss and round trip are taken over
    int degradedLossPercent = 20; // degraded at this recent loss; 0 off
    int degradedRttMs = 0;        // degraded at this recent mean round trip; 0 off
    bool outageLog = false;       // one line per state change appended to logPath
    QString logPath;              // shown only: where the log goes
    bool runCommand = false;      // command runs on each change of a host's state
    QString command;              // split like a shell's words, run without a shell

    monitor::AlertRules rules() const;
    void setRules(const monitor::AlertRules& rules);
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
