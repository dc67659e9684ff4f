#include "app/sweepview.h"

#include "app/toolbarlayout.h"
#include "platform/appinfo.h"
#include "platform/messagebox.h"
#include "platform/progressbar.h"
#include "platform/reportlist.h"
#include "platform/soundplayer.h"
#include "platform/toolbar.h"
#include "probe/statuscodes.h"
#include "resources/pictures.h"

#include <QTimer>

namespace {
constexpr int StatusCol = 2;
constexpr int TimeCol = 3;
} // namespace

HostRowsModel::HostRowsModel(platform::ReportListModel* rows, QObject* parent)
    : QIdentityProxyModel(parent), m_rows(rows)
{
    setSourceModel(rows);
}

QVariant HostRowsModel::data(const QModelIndex& index, int role) const
{
    if (role < monitor::KeyRole || role > monitor::AddressRole || !index.isValid())
        return QIdentityProxyModel::data(index, role);
    const platform::ReportListModel::Row& row = m_rows->row(index.row() + 1);
    switch (role) {
    case monitor::KeyRole:
        return QVariant::fromValue(row.key);
    case monitor::TickedRole:
        return row.checked;
    case monitor::NameRole:
        return row.text;
    default:
        return row.sub[0];
    }
}

int SweepView::rttIcon(std::int32_t rtt)
{
    if (rtt <= 100)
        return icons::Green;
    if (rtt <= 5000)
        return icons::Yellow;
    if (rtt <= 10000)
        return icons::Red;
    return icons::Gray;
}

SweepView::SweepView(const SweepContext& context, Sweep& sweep, QObject* parent) : QObject(parent), m_ctx(context)
{
    connect(&sweep, &Sweep::runningChanged, this, &SweepView::setRunning);
    connect(&sweep, &Sweep::visiting, this, &SweepView::visiting);
    connect(&sweep, &Sweep::entrySkipped, this, &SweepView::clearOutcome);
    connect(&sweep, &Sweep::entryOutcome, this, &SweepView::writeOutcome);
    connect(&sweep, &Sweep::progress, this, [this](int value) { m_ctx.bar.setValue(float(value)); });
    connect(&sweep, &Sweep::follow, this, &SweepView::follow);
    connect(&sweep, &Sweep::startupFailed, this, &SweepView::explainStartupFailed);
    // Not from inside the engine's report: the box runs an event loop of its own.
    connect(&sweep, &Sweep::notPermitted, this,
            [this] { QTimer::singleShot(0, this, &SweepView::explainNotPermitted); });
    // Once the user works in the list, the sweep no longer moves the selection or the view.
    connect(&m_ctx.list, &platform::ReportList::userInteracted, &sweep, &Sweep::userTookOver);
}

void SweepView::setRunning(bool running)
{
    m_ctx.toolbar.setButtonEnabled(tb::Ping, !running);
    m_ctx.toolbar.setButtonEnabled(tb::Stop, running);
}

void SweepView::visiting(const QModelIndex& entry, int total, bool select)
{
    if (select)
        m_ctx.list.select(entry.row() + 1);
    m_ctx.bar.setMin(1.0f);
    m_ctx.bar.setMax(float(total));
}

void SweepView::clearOutcome(const QModelIndex& entry)
{
    const int row = entry.row() + 1;
    platform::ReportList& list = m_ctx.list;
    list.setSubText(row, StatusCol, QString());
    list.setSubIcon(row, StatusCol, 0);
    list.setSubToolTip(row, StatusCol, QString());
    list.setSubText(row, TimeCol, QString());
    list.setSubIcon(row, TimeCol, 0);
}

void SweepView::writeOutcome(const QModelIndex& entry, const mdlPing::Outcome& outcome)
{
    const int row = entry.row() + 1;
    const std::int32_t status = outcome.status;
    platform::ReportList& list = m_ctx.list;
    // A name may resolve to another address at each sweep: say which one this outcome is about.
    const QString probedLine = outcome.probed.isEmpty() ? QString() : QStringLiteral("probed ") + outcome.probed;
    auto withProbed = [&probedLine](const QString& text) {
        return probedLine.isEmpty() ? text : text + QLatin1Char('\n') + probedLine;
    };
    list.setSubText(row, StatusCol, Sweep::statusText(status));
    if (status == 0) {
        list.setSubIcon(row, StatusCol, icons::Ok);
        list.setSubToolTip(row, StatusCol, probedLine);
    } else if (status == statusCode(Status::TimedOut)) {
        list.setSubIcon(row, StatusCol, icons::Timeout);
        list.setSubToolTip(row, StatusCol, withProbed(mdlPing::GetStatusText(status)));
    } else {
        list.setSubIcon(row, StatusCol, icons::Failed);
        list.setSubToolTip(row, StatusCol, status == -1 ? outcome.reason : withProbed(mdlPing::GetStatusText(status)));
        if (m_ctx.toolbar.buttonValue(tb::SoundAlert) == 1)
            m_ctx.sound.play(m_ctx.app.file(QStringLiteral("Notify.wav")));
    }

    if (status == -1) {
        // Nothing was sent, so there is no time to show.
        list.setSubText(row, TimeCol, QString());
        list.setSubIcon(row, TimeCol, 0);
    } else {
        list.setSubText(row, TimeCol, QString::number(outcome.roundTripMs));
        list.setSubIcon(row, TimeCol, rttIcon(outcome.roundTripMs));
    }
}

void SweepView::follow(const QModelIndex& entry, bool select)
{
    const int row = entry.row() + 1;
    if (select)
        m_ctx.list.select(row);
    m_ctx.list.ensureVisible(row);
}

void SweepView::explainStartupFailed()
{
    m_ctx.messages.show(QStringLiteral("Windows Sockets not responding correctly."), platform::MsgExclamation,
                        m_ctx.app.Title);
}

void SweepView::explainNotPermitted()
{
    m_ctx.messages.show(QStringLiteral("This user may not send ICMP echo requests, so no host can be probed.\n\n"
                                       "To allow it, grant the program the raw-socket capability:\n"
                                       "    sudo setcap cap_net_raw+ep %1\n"
                                       "or open unprivileged ICMP sockets to your group:\n"
                                       "    sudo sysctl net.ipv4.ping_group_range=\"0 2147483647\"")
                            .arg(m_ctx.app.file(QStringLiteral("tivane"))),
                        platform::MsgExclamation, m_ctx.app.Title);
}
