#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QSpinBox;

// What the Alerts dialog sets.
struct AlertSettings
{
    int downAfter = 3;      // failed probes in a row before a host counts as down
    bool outageLog = false; // one line per state change appended to logPath
    QString logPath;        // shown only: where the log goes
};

// "Alerts": when a host counts as down, and whether state changes go to the outage log.
class AlertsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AlertsDialog(const AlertSettings& settings, QWidget* parent = nullptr);

    // What the dialog holds now (the path as it was given).
    AlertSettings settings() const;

private:
    QSpinBox* m_downAfter = nullptr;
    QCheckBox* m_outageLog = nullptr;
    QString m_logPath;
};
