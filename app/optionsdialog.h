#pragma once

#include <QDialog>

class QSpinBox;

// How often a continuous run probes; kept as [Probe] in the settings.
struct ProbeSettings
{
    static constexpr int MinIntervalMs = 200;
    static constexpr int MaxIntervalMs = 3600 * 1000;

    int intervalMs = 1000; // between the starts of two sweeps of a continuous run

    // True for a value the settings file may hold; others fall back to the default.
    static bool intervalValid(int ms) { return ms >= MinIntervalMs && ms <= MaxIntervalMs; }
};

// "Options": the time between sweeps of a continuous run.
class OptionsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit OptionsDialog(const ProbeSettings& settings, QWidget* parent = nullptr);

    ProbeSettings settings() const;

private:
    QSpinBox* m_interval = nullptr;
};
