#include "app/windowsettings.h"

#include "app/optionsdialog.h"
#include "monitor/hoststats.h"
#include "platform/settingsstore.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QSet>
#include <QUrl>
#include <algorithm>

namespace {

const QString SecSettings = QStringLiteral("Settings");
const QString SecView = QStringLiteral("View");
const QString SecToolBar = QStringLiteral("ToolBar");
const QString SecAlerts = QStringLiteral("Alerts");
const QString SecHistory = QStringLiteral("History");

// Stored geometry beyond any real desktop (about 66,000 px) is clamped while still a float, so
// that turning it into pixels cannot overflow.
constexpr float MaxStoredTwips = 1'000'000.f;

// The stored value converted, or the default when it is absent or cannot be converted.
template <typename T, typename Convert>
T readOr(const platform::SettingsStore& store, const QString& section, const QString& key, T defaultValue,
         Convert convert)
{
    if (!store.contains(section, key))
        return defaultValue;
    try {
        return convert(store.read(section, key, QString()));
    } catch (const platform::ConversionError&) {
        return defaultValue;
    }
}

bool readBool(const platform::SettingsStore& store, const QString& section, const QString& key, bool defaultValue)
{
    return readOr(store, section, key, defaultValue, platform::toBool);
}

int readTwips(const platform::SettingsStore& store, const QString& key, int defaultValue)
{
    const float v = readOr(store, SecSettings, key, float(defaultValue), platform::toSingle);
    return int(std::clamp(v, -MaxStoredTwips, MaxStoredTwips));
}

// Bounds on what a settings file may make the window hold; a larger value is read as absent.
constexpr int MaxColumns = 32;
constexpr int MaxColumnWidth = 10000;
constexpr int MaxUnticked = 32767;
constexpr qsizetype MaxUntickedText = 4 * 1024 * 1024;
// The unticked entries' own file beside the settings: a long list of them cannot push the
// settings file past what its reader takes. One identity a line, UTF-8, with only '%' and the
// line breaks percent-encoded; 32,767 names of a few hundred bytes each fit.
const QString UntickedFile = QStringLiteral("unticked.txt");
constexpr qint64 MaxUntickedBytes = qint64(16) << 20;

QByteArray encodeUnticked(const QStringList& identities)
{
    QByteArray out;
    int count = 0;
    for (const QString& identity : identities) {
        QByteArray line = identity.toUtf8();
        line.replace('%', "%25").replace('\n', "%0A").replace('\r', "%0D");
        // The first ones (those on show come first) are kept when not all fit.
        if (++count > MaxUnticked || out.size() + line.size() + 1 > MaxUntickedBytes)
            break;
        out += line + '\n';
    }
    return out;
}

QStringList decodeUnticked(const QByteArray& bytes)
{
    QStringList out;
    for (const QByteArray& line : bytes.split('\n')) {
        if (line.isEmpty())
            continue;
        if (out.size() == MaxUnticked)
            break;
        out.append(QString::fromUtf8(QByteArray::fromPercentEncoding(line)));
    }
    return out;
}

QVector<int> readWidths(const platform::SettingsStore& store)
{
    if (!store.contains(SecView, QStringLiteral("ColumnWidths")))
        return {};
    const QStringList parts = store.read(SecView, QStringLiteral("ColumnWidths"), QString()).split(u',');
    if (parts.size() > MaxColumns)
        return {};
    QVector<int> widths;
    for (const QString& part : parts) {
        bool ok = false;
        const int w = part.trimmed().toInt(&ok);
        if (!ok || w < 1 || w > MaxColumnWidth)
            return {};
        widths.append(w);
    }
    return widths;
}

// Each identity percent-encoded, so that no name or address can break the list apart.
QStringList readUnticked(const platform::SettingsStore& store)
{
    const QString text = store.read(SecView, QStringLiteral("Unticked"), QString());
    if (text.isEmpty() || text.size() > MaxUntickedText)
        return {};
    const QStringList parts = text.split(u',');
    if (parts.size() > MaxUnticked)
        return {};
    QStringList out;
    for (const QString& part : parts)
        out.append(QUrl::fromPercentEncoding(part.toLatin1()));
    return out;
}

} // namespace

QString WindowSettings::entryIdentity(const QString& name, const QString& address)
{
    return name + u'|' + address;
}

WindowSettings WindowSettings::load(const platform::SettingsStore& store)
{
    WindowSettings s;
    s.gridLines = readBool(store, SecView, QStringLiteral("GridLines"), s.gridLines);
    s.checkboxes = readBool(store, SecView, QStringLiteral("Checkboxes"), s.checkboxes);
    s.alwaysOnTop = readBool(store, SecView, QStringLiteral("AlwaysOnTop"), s.alwaysOnTop);
    s.saveWndPos = readBool(store, SecView, QStringLiteral("SaveWndPos"), s.saveWndPos);
    s.hideUnselected = readBool(store, SecView, QStringLiteral("HideUnselected"), s.hideUnselected);
    s.pingAllAtOnce = readBool(store, SecView, QStringLiteral("PingAllAtOnce"), s.pingAllAtOnce);
    s.startWithSession = readBool(store, SecView, QStringLiteral("StartWithSession"), s.startWithSession);
    s.resumeMonitoring = readBool(store, SecView, QStringLiteral("ResumeMonitoring"), s.resumeMonitoring);
    s.closeToTray = readBool(store, SecView, QStringLiteral("CloseToTray"), s.closeToTray);
    s.soundAlert = readOr(store, SecToolBar, QStringLiteral("sndAlert"), s.soundAlert, platform::toInt32);
    s.statistics = readBool(store, SecView, QStringLiteral("Statistics"), s.statistics);
    const int downAfter =
        readOr(store, SecAlerts, QStringLiteral("DownAfter"), s.alertRules.downAfter, platform::toInt32);
    if (downAfter >= 1 && downAfter <= monitor::HostMonitor::MaxDownAfter)
        s.alertRules.downAfter = downAfter;
    s.outageLog = readBool(store, SecAlerts, QStringLiteral("OutageLog"), s.outageLog);
    // A value out of range in the file keeps its default rather than a clamped surprise.
    const auto readIn = [&](const char* key, int fallback, int low, int high) {
        const int v = readOr(store, SecAlerts, QString::fromLatin1(key), fallback, platform::toInt32);
        return v >= low && v <= high ? v : fallback;
    };
    s.alertRules.upAfter = readIn("UpAfter", s.alertRules.upAfter, 1, monitor::AlertRules::MaxUpAfter);
    s.alertRules.recentProbes =
        readIn("RecentProbes", s.alertRules.recentProbes, 2, monitor::AlertRules::MaxRecentProbes);
    s.alertRules.degradedLossPercent = readIn("DegradedLossPercent", s.alertRules.degradedLossPercent, 0, 100);
    const int interval =
        readOr(store, QStringLiteral("Probe"), QStringLiteral("IntervalMs"), s.probeIntervalMs, platform::toInt32);
    if (ProbeSettings::intervalValid(interval))
        s.probeIntervalMs = interval;
    const int timeout =
        readOr(store, QStringLiteral("Probe"), QStringLiteral("TimeoutMs"), s.probeTimeoutMs, platform::toInt32);
    if (ProbeSettings::timeoutValid(timeout))
        s.probeTimeoutMs = timeout;
    const int payload =
        readOr(store, QStringLiteral("Probe"), QStringLiteral("PayloadBytes"), s.probePayloadBytes, platform::toInt32);
    if (ProbeSettings::payloadValid(payload))
        s.probePayloadBytes = payload;
    // Each value on its own: one out of range keeps its default, the others are taken.
    using monitor::HistoryLimits;
    HistoryLimits& h = s.historyLimits;
    const auto days = [&](const char* key, qint64 fallbackMs) {
        const int v = readOr(store, SecHistory, QString::fromLatin1(key), int(fallbackMs / HistoryLimits::Day),
                             platform::toInt32);
        return v >= 1 && v <= HistoryLimits::MaxDays ? v * HistoryLimits::Day : fallbackMs;
    };
    h.rawMs = days("RawDays", h.rawMs);
    h.minuteMs = days("MinuteDays", h.minuteMs);
    h.hourMs = days("HourDays", h.hourMs);
    const int megabytes = readOr(store, SecHistory, QStringLiteral("MaxMegabytes"),
                                 int(h.maxBytes / HistoryLimits::Megabyte), platform::toInt32);
    if (megabytes >= HistoryLimits::MinMegabytes && megabytes <= HistoryLimits::MaxMegabytes)
        h.maxBytes = megabytes * HistoryLimits::Megabyte;
    s.runCommand = readBool(store, SecAlerts, QStringLiteral("RunCommand"), s.runCommand);
    s.alertCommand = store.read(SecAlerts, QStringLiteral("Command"), QString());
    s.alertRules.degradedRttMs =
        readIn("DegradedRttMs", s.alertRules.degradedRttMs, 0, monitor::AlertRules::MaxDegradedRttMs);
    s.columnWidths = readWidths(store);
    // Until the first save, the entries are still where earlier versions kept them.
    if (QFileInfo::exists(store.besidePath(UntickedFile)))
        s.unticked = decodeUnticked(store.readBeside(UntickedFile, MaxUntickedBytes));
    else
        s.unticked = readUnticked(store);
    return s;
}

bool WindowSettings::compositorPlacesWindows()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

QRect WindowSettings::loadGeometry(const platform::SettingsStore& store)
{
    const QRect d = WindowSettings().geometryTwips;
    int top = readTwips(store, QStringLiteral("WndT"), d.y());
    int left = readTwips(store, QStringLiteral("WndL"), d.x());
    const int height = readTwips(store, QStringLiteral("WndH"), d.height());
    const int width = readTwips(store, QStringLiteral("WndW"), d.width());
    if (top < 0)
        top = d.y();
    if (left < 0)
        left = d.x();
    return QRect(left, top, width, height);
}

bool WindowSettings::save(platform::SettingsStore& store) const
{
    if (saveWndPos) {
        const QRect& g = geometryTwips;
        if (positionKnown) {
            store.write(SecSettings, QStringLiteral("WndT"), QString::number(g.y()));
            store.write(SecSettings, QStringLiteral("WndL"), QString::number(g.x()));
        }
        store.write(SecSettings, QStringLiteral("WndH"), QString::number(g.height()));
        store.write(SecSettings, QStringLiteral("WndW"), QString::number(g.width()));
    }
    store.write(SecView, QStringLiteral("GridLines"), platform::boolText(gridLines));
    store.write(SecView, QStringLiteral("Checkboxes"), platform::boolText(checkboxes));
    store.write(SecView, QStringLiteral("AlwaysOnTop"), platform::boolText(alwaysOnTop));
    store.write(SecView, QStringLiteral("SaveWndPos"), platform::boolText(saveWndPos));
    store.write(SecView, QStringLiteral("HideUnselected"), platform::boolText(hideUnselected));
    store.write(SecView, QStringLiteral("PingAllAtOnce"), platform::boolText(pingAllAtOnce));
    store.write(SecView, QStringLiteral("StartWithSession"), platform::boolText(startWithSession));
    store.write(SecView, QStringLiteral("ResumeMonitoring"), platform::boolText(resumeMonitoring));
    store.write(SecView, QStringLiteral("CloseToTray"), platform::boolText(closeToTray));
    store.write(SecToolBar, QStringLiteral("sndAlert"), QString::number(soundAlert));
    store.write(SecView, QStringLiteral("Statistics"), platform::boolText(statistics));
    store.write(SecAlerts, QStringLiteral("DownAfter"), QString::number(alertRules.downAfter));
    store.write(SecAlerts, QStringLiteral("OutageLog"), platform::boolText(outageLog));
    store.write(SecAlerts, QStringLiteral("UpAfter"), QString::number(alertRules.upAfter));
    store.write(SecAlerts, QStringLiteral("RecentProbes"), QString::number(alertRules.recentProbes));
    store.write(SecAlerts, QStringLiteral("DegradedLossPercent"), QString::number(alertRules.degradedLossPercent));
    store.write(SecAlerts, QStringLiteral("DegradedRttMs"), QString::number(alertRules.degradedRttMs));
    store.write(QStringLiteral("Probe"), QStringLiteral("IntervalMs"), QString::number(probeIntervalMs));
    store.write(QStringLiteral("Probe"), QStringLiteral("TimeoutMs"), QString::number(probeTimeoutMs));
    store.write(QStringLiteral("Probe"), QStringLiteral("PayloadBytes"), QString::number(probePayloadBytes));
    store.write(SecHistory, QStringLiteral("RawDays"),
                QString::number(historyLimits.rawMs / monitor::HistoryLimits::Day));
    store.write(SecHistory, QStringLiteral("MinuteDays"),
                QString::number(historyLimits.minuteMs / monitor::HistoryLimits::Day));
    store.write(SecHistory, QStringLiteral("HourDays"),
                QString::number(historyLimits.hourMs / monitor::HistoryLimits::Day));
    store.write(SecHistory, QStringLiteral("MaxMegabytes"),
                QString::number(historyLimits.maxBytes / monitor::HistoryLimits::Megabyte));
    store.write(SecAlerts, QStringLiteral("RunCommand"), platform::boolText(runCommand));
    store.write(SecAlerts, QStringLiteral("Command"), alertCommand);
    QStringList widths;
    for (const int w : columnWidths)
        widths.append(QString::number(w));
    store.write(SecView, QStringLiteral("ColumnWidths"), widths.join(u','));
    // The key of earlier versions goes only once its entries are safe in their own file.
    const QByteArray ticks = encodeUnticked(unticked);
    if ((ticks.isEmpty() && !QFileInfo::exists(store.besidePath(UntickedFile))) ||
        store.writeBeside(UntickedFile, ticks))
        store.remove(SecView, QStringLiteral("Unticked"));
    return store.sync();
}

QStringList WindowSettings::keepUnticked(const QStringList& remembered, const QVector<std::pair<QString, bool>>& shown)
{
    // The entries on show say their own tick; those of a list not on show keep what they had.
    QStringList out;
    QSet<QString> onShow;
    QSet<QString> seen;
    for (const auto& [identity, ticked] : shown) {
        onShow.insert(identity);
        if (!ticked && !seen.contains(identity)) {
            seen.insert(identity);
            out.append(identity);
        }
    }
    for (const QString& identity : remembered) {
        if (!onShow.contains(identity) && !seen.contains(identity)) {
            seen.insert(identity);
            out.append(identity);
        }
    }
    return out;
}
