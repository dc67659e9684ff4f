#include "shell/mdlmore.h"

#include <QAudioDevice>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIconEngine>
#include <QMediaDevices>
#include <QMenu>
#include <QSoundEffect>
#include <QUrl>
#include <QtEndian>
#include <cstring>

namespace mdlMore {

namespace {

quint16 le16(const char* p)
{
    return qFromLittleEndian<quint16>(p);
}

quint32 le32(const char* p)
{
    return qFromLittleEndian<quint32>(p);
}

// The formats QSoundEffect decodes; anything else would only fail later inside the engine.
bool playableFormat(quint16 tag)
{
    constexpr quint16 pcm = 0x0001;
    constexpr quint16 ieeeFloat = 0x0003;
    constexpr quint16 extensible = 0xFFFE;
    return tag == pcm || tag == ieeeFloat || tag == extensible;
}

} // namespace

qint64 waveDurationMs(const QString& file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const qint64 size = f.size();
    char riff[12];
    if (f.read(riff, sizeof riff) != sizeof riff || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0)
        return -1;

    quint32 byteRate = 0;
    // Chunks may come in any order and a hostile file may chain many; a real wave needs only a few.
    constexpr int maxChunks = 64;
    qint64 pos = sizeof riff;
    for (int i = 0; i < maxChunks && pos + 8 <= size; ++i) {
        char head[8];
        if (!f.seek(pos) || f.read(head, sizeof head) != sizeof head)
            return -1;
        const quint32 length = le32(head + 4);
        if (std::memcmp(head, "fmt ", 4) == 0) {
            char fmt[16];
            if (length < sizeof fmt || f.read(fmt, sizeof fmt) != sizeof fmt || !playableFormat(le16(fmt)))
                return -1;
            byteRate = le32(fmt + 8);
        } else if (std::memcmp(head, "data", 4) == 0) {
            if (byteRate == 0)
                return -1;
            // Writers that stream leave the size open (0 or all ones); the file length is what plays.
            const qint64 present = size - (pos + 8);
            const qint64 bytes = length == 0 ? present : qMin<qint64>(length, present);
            // Round up: better to hold the next sound back a moment than to start it over this one.
            // A header with an absurd byte rate must not silence every later sound for hours.
            constexpr qint64 LongestMs = 60000;
            return qMin((bytes * 1000 + byteRate - 1) / byteRate, LongestMs);
        }
        pos += 8 + qint64(length) + (length & 1);
    }
    return -1;
}

bool PlaybackGate::tryStart(qint64 nowMs, qint64 durationMs, bool enginePlaying)
{
    if (isBusy(nowMs, enginePlaying))
        return false;
    m_until = nowMs + qMax<qint64>(durationMs, 0);
    return true;
}

WavePlayer::WavePlayer(QObject* parent) : QObject(parent)
{
    m_clock.start();
}

WavePlayer::~WavePlayer() = default;

bool WavePlayer::isPlaying() const
{
    return m_gate.isBusy(m_clock.elapsed(), m_effect && m_effect->isPlaying());
}

void WavePlayer::play(const QString& file)
{
    const qint64 now = m_clock.elapsed();
    const bool enginePlaying = m_effect && m_effect->isPlaying();
    // Setting a new source on a playing effect cuts the sound short, so refuse before touching it.
    if (m_gate.isBusy(now, enginePlaying))
        return;
    const QFileInfo info(file);
    if (!info.isFile() || !info.isReadable())
        return;
    const QString path = info.absoluteFilePath();
    const qint64 duration = waveDurationMs(path);
    if (duration <= 0)
        return;
    const bool hasOutput = m_hasOutput ? m_hasOutput() : !QMediaDevices::audioOutputs().isEmpty();
    if (!hasOutput || !m_gate.tryStart(now, duration, enginePlaying))
        return;

    // Created on first use so that a silent session never starts the multimedia back end.
    if (!m_effect)
        m_effect = std::make_unique<QSoundEffect>();
    // Past the grace period a "playing" engine is stuck, not playing; stop it before reloading.
    if (enginePlaying)
        m_effect->stop();
    // Follow the current default output: the user may have plugged in headphones since the last sound.
    m_effect->setAudioDevice(QMediaDevices::defaultAudioOutput());
    m_effect->setSource(QUrl::fromLocalFile(path));
    m_effect->play();
    ++m_accepted;
}

void PlayWave(platform::SoundPlayer& player, const QString& file)
{
    player.play(file);
}

QString trayTip(const QString& tip)
{
    if (tip.size() <= MaxTrayTipLength)
        return tip;
    qsizetype length = MaxTrayTipLength;
    if (tip.at(length - 1).isHighSurrogate())
        --length;
    return tip.left(length);
}

int trayEventCode(QSystemTrayIcon::ActivationReason reason, bool statusNotifierHost)
{
    switch (reason) {
    case QSystemTrayIcon::DoubleClick:
        return TrayLeftDoubleClick;
    case QSystemTrayIcon::Context:
        return TrayRightUp;
    case QSystemTrayIcon::Trigger:
        return statusNotifierHost ? TrayLeftDoubleClick : TrayLeftUp;
    case QSystemTrayIcon::MiddleClick:
    case QSystemTrayIcon::Unknown:
        break;
    }
    return 0;
}

namespace {

// Draws what the pictures draw and answers to a theme name.
class NamedIconEngine : public QIconEngine
{
public:
    NamedIconEngine(const QIcon& pixmaps, const QString& name) : m_icon(pixmaps), m_name(name) {}
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        m_icon.paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return m_icon.pixmap(size, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return m_icon.actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return m_icon.availableSizes(mode, state);
    }
    QString iconName() override { return m_name; }
    QString key() const override { return QStringLiteral("TivaneNamedIcon"); }
    QIconEngine* clone() const override { return new NamedIconEngine(m_icon, m_name); }

private:
    QIcon m_icon;
    QString m_name;
};

const QString WatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

} // namespace

QIcon namedIcon(const QIcon& pixmaps, const QString& themeName)
{
    if (pixmaps.isNull() || themeName.isEmpty() || !QIcon::hasThemeIcon(themeName))
        return pixmaps;
    return QIcon(new NamedIconEngine(pixmaps, themeName));
}

TrayIcon::TrayIcon(QObject* parent) : QObject(parent), m_icon(std::make_unique<QSystemTrayIcon>())
{
    connect(m_icon.get(), &QSystemTrayIcon::activated, this, &TrayIcon::onActivated);
    // The toolkit chooses between a StatusNotifierItem and an embedded icon once, as the first
    // icon is made, by whether a watcher is on the bus; so the same question is asked here now.
    // Offscreen there is no tray of either kind.
    m_statusNotifier = QGuiApplication::platformName() != QLatin1String("offscreen") && statusNotifierHost();
    if (!m_statusNotifier)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    auto* watcher = new QDBusServiceWatcher(
        WatcherService, bus, QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration,
        this);
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, &TrayIcon::availabilityChanged);
    connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this, &TrayIcon::availabilityChanged);
    // Qt D-Bus delivers bus signals only to slots named by their signature.
    for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"})
        bus.connect(WatcherService, QStringLiteral("/StatusNotifierWatcher"), WatcherService,
                    QString::fromLatin1(signal), this, SIGNAL(availabilityChanged()));
}

void TrayIcon::setMenu(QMenu* menu)
{
    if (!m_statusNotifier)
        return;
    m_icon->setContextMenu(menu);
    m_menuExported = menu != nullptr;
}

TrayIcon::~TrayIcon() = default;

bool TrayIcon::isShown() const
{
    // isVisible() only echoes show(); without a tray host nothing is on screen.
    return m_icon->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

QString TrayIcon::toolTip() const
{
    return m_icon->toolTip();
}

bool TrayIcon::add(const QIcon& icon, const QString& tip)
{
    m_icon->setToolTip(trayTip(tip));
    if (icon.isNull())
        return false;
    m_icon->setIcon(icon);
    // Left visible even without a tray host: Qt embeds the icon by itself once one appears (a
    // panel often starts after the program at login). isShown() tells the caller when that happened.
    m_icon->show();
    return isShown();
}

bool TrayIcon::modify(const QIcon& icon, const QString& tip)
{
    if (!isShown())
        return false;
    if (!icon.isNull())
        m_icon->setIcon(icon);
    m_icon->setToolTip(trayTip(tip));
    return true;
}

bool TrayIcon::remove()
{
    const bool wasShown = isShown();
    m_icon->hide();
    return wasShown;
}

bool TrayIcon::showMessage(const QString& title, const QString& text, bool warning, int timeoutMs)
{
    if (!isShown())
        return false;
    m_icon->showMessage(title, text, warning ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information, timeoutMs);
    return true;
}

bool TrayIcon::statusNotifierHost()
{
    return statusNotifierHost(QDBusConnection::sessionBus());
}

bool TrayIcon::statusNotifierHost(const QDBusConnection& bus)
{
    if (!bus.isConnected())
        return false;
    const QDBusConnectionInterface* registry = bus.interface();
    return registry && registry->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher")).value();
}

void TrayIcon::onActivated(QSystemTrayIcon::ActivationReason reason)
{
    // The host shows the exported menu itself; a second one of ours would open apart from it.
    if (m_menuExported && reason == QSystemTrayIcon::Context)
        return;
    // Ask the bus only for single activations, the one case where the answer changes the code.
    const bool statusNotifier = reason == QSystemTrayIcon::Trigger && (m_statusNotifier || statusNotifierHost());
    const int code = trayEventCode(reason, statusNotifier);
    if (code == 0)
        return;
    // Handled once the tray's own window has returned from its mouse handler: what the handler
    // does (a menu's Exit removes the icon) may destroy that window.
    QMetaObject::invokeMethod(
        this, [this, code] { Q_EMIT mouseEvent(code); }, Qt::QueuedConnection);
}

int NotifyTrayIcon(int action, TrayIcon& tray, const QIcon& icon, const QString& tip)
{
    switch (action) {
    case NIM_ADD:
        return tray.add(icon, tip) ? 1 : 0;
    case NIM_MODIFY:
        return tray.modify(icon, tip) ? 1 : 0;
    case NIM_DELETE:
        return tray.remove() ? 1 : 0;
    default:
        return 0;
    }
}

} // namespace mdlMore
