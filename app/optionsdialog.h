#pragma once

#include <QDialog>

class QSpinBox;

// How often and how a continuous run probes; kept as [Probe] in the settings.
struct ProbeSettings
{
    static constexpr int MinIntervalMs = 200;
    static constexpr int MaxIntervalMs = 3600 * 1000;

    static constexpr int MinTimeoutMs = 100;
    static constexpr int MaxTimeoutMs = 10000;

    static constexpr int MinPayloadBytes = 0;
    static constexpr int MaxPayloadBytes = 1472; // IPv4; an IPv6 request carries at most 1452

    int intervalMs = 1000; // between the starts of two sweeps of a continuous run
    int timeoutMs = 1000;  // how long a request waits for its reply
    int payloadBytes = 5;  // after each request's header: "hello", repeated to fill

    // True for a value the settings file may hold; others fall back to the default.
    static bool intervalValid(int ms) { return ms >= MinIntervalMs && ms <= MaxIntervalMs; }
    static bool timeoutValid(int ms) { return ms >= MinTimeoutMs && ms <= MaxTimeoutMs; }
    static bool payloadValid(int bytes) { return bytes >= MinPayloadBytes && bytes <= MaxPayloadBytes; }
};

// "Options": the time between sweeps of a continuous run, the reply time-out and the payload.
class OptionsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit OptionsDialog(const ProbeSettings& settings, QWidget* parent = nullptr);

    ProbeSettings settings() const;

private:
    QSpinBox* m_interval = nullptr;
    QSpinBox* m_timeout = nullptr;
    QSpinBox* m_payload = nullptr;
};
