#pragma once

#include "mdlping.h"

#include <QString>
#include <cstdint>
#include <functional>

class Prober;

namespace platform {
class ReportList;
class ToolBar;
class ProgressBar;
class MessageBox;
class SoundPlayer;
struct AppInfo;
} // namespace platform

// The controls and services a sweep works on. All are owned by the main window.
struct SweepContext
{
    platform::ReportList& list;
    platform::ToolBar& toolbar;
    platform::ProgressBar& bar;
    platform::MessageBox& messages;
    Prober& prober;
    platform::SoundPlayer& sound;
    const platform::AppInfo& app;
};

// Toolbar positions the sweep and the commands address.
namespace tb {
inline constexpr int Ping = 1;
inline constexpr int Stop = 2;
inline constexpr int Placeholder = 3;
inline constexpr int IpList = 4;
inline constexpr int View = 5;
inline constexpr int SoundAlert = 6;
inline constexpr int About = 7;
inline constexpr int Exit = 8;
} // namespace tb

// List icon numbers the sweep sets.
namespace icons {
inline constexpr int Ok = 7;
inline constexpr int Failed = 8;
inline constexpr int Green = 10;
inline constexpr int Yellow = 11;
inline constexpr int Red = 12;
inline constexpr int Gray = 13;
inline constexpr int Timeout = 14;
} // namespace icons

// Runs sweeps over the host list: one echo request per ticked row, in list order, with the
// outcome written into the row. Yields to the event loop after every row, so any command,
// Stop included, can run between two probes.
class Sweep
{
public:
    explicit Sweep(const SweepContext& context) : m_ctx(context) {}

    // One sweep over the list.
    void PingList();
    // Sweeps until stopped, starting them at least a second apart.
    void PingContinuous();
    // The Stop command: ends a sweep after its current row, a continuous run at once between sweeps.
    void stop();
    bool isRunning() const { return m_depth > 0 || m_continuous; }

    // Icon for a round-trip time in the "Timeout" column.
    static int rttIcon(std::int32_t rtt);
    // "OK", or the code with its text ("11010: Request Timed Out").
    static QString statusText(std::int32_t status);

    bool StopPing = false;
    mdlPing::ICMP_ECHO_REPLY EchoReply;
    std::int32_t LastStatus = 0;
    QString CurrentIP;

    // Shortest time between the starts of two sweeps of a continuous run.
    int continuousIntervalMs = 1000;
    // Runs before each sweep of a continuous run (tests count sweeps with it).
    std::function<void()> onContinuousSweep;

private:
    void probeRow(int i);
    void setIdleButtons();
    void setBusyButtons();
    void waitForNextSweep(qint64 startedMs);

    SweepContext m_ctx;
    int m_depth = 0;
    bool m_continuous = false;
    bool m_toldNotPermitted = false;
    class QEventLoop* m_wait = nullptr;
};
