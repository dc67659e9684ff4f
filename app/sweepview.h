#pragma once

#include "app/toolbarlayout.h"
#include "monitor/sweep.h"
#include "probe/statuscodes.h"
#include "resources/pictures.h"

#include <QIdentityProxyModel>
#include <QObject>
#include <cstdint>

class Prober;

namespace platform {
class ReportList;
class ReportListModel;
class ToolBar;
class ProgressBar;
class MessageBox;
class SoundPlayer;
struct AppInfo;
} // namespace platform

// The controls and services a sweep is shown with. All are owned by the main window.
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

// The report list's rows as the hosts a sweep works on: the row's key and tick, its text as
// the name and its first sub-item as the address. Indexes follow the list's sorts and removals.
class HostRowsModel : public QIdentityProxyModel
{
    Q_OBJECT
public:
    explicit HostRowsModel(platform::ReportListModel* rows, QObject* parent = nullptr);
    QVariant data(const QModelIndex& index, int role) const override;

private:
    const platform::ReportListModel* m_rows;
};

// Shows a sweep in the window: writes each outcome into its row's "Status" and "Timeout"
// cells, switches Ping and Stop, moves the progress bar, follows the sweep with the selection
// and the scroll position, plays the alert and tells the user what the sweep could not do.
class SweepView : public QObject
{
    Q_OBJECT
public:
    SweepView(const SweepContext& context, Sweep& sweep, QObject* parent = nullptr);

    // Icon for a round-trip time in the "Timeout" column.
    static int rttIcon(std::int32_t rtt);

private:
    void setRunning(bool running);
    void visiting(const QModelIndex& entry, int total, bool select);
    void clearOutcome(const QModelIndex& entry);
    void writeOutcome(const QModelIndex& entry, const mdlPing::Outcome& outcome);
    void follow(const QModelIndex& entry, bool select);
    void explainStartupFailed();
    void explainNotPermitted();

    SweepContext m_ctx;
};
