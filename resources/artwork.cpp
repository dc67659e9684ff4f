#include "resources/artwork.h"

#include <QIconEngine>
#include <QPainter>

#include <array>
#include <mutex>

// Q_INIT_RESOURCE has to be used outside any namespace.
static void registerArtworkResource()
{
    Q_INIT_RESOURCE(artwork);
}

namespace artwork {

namespace {

constexpr std::array<const char*, ToolbarImageCount> kToolbarFiles = {
    "ping", "stop", "iplist", "view", "bell", "about", "exit",
};

constexpr std::array<const char*, ListImageCount> kListFiles = {
    "srv_on",  "pc_on", "unknown", "deleted", "srv_off", "pc_off", nullptr, // 7 is the shared tick
    "warning", "alert", "green",   "yellow",  "red",     "gray",   "timeout",
};

const QString kTickPath = QStringLiteral(":/artwork/app/tick.svg");

constexpr std::array<const char*, TrayImageCount> kTrayBadges = {"none", "up", "down", "degraded"};

// Picks between SVG drawings by the pixel size asked for, so small sizes can use a simplified
// drawing while large ones keep the detail. Each drawing still scales freely.
class SizedSvgEngine : public QIconEngine
{
public:
    struct Variant
    {
        int maxPixels; // used for requests up to this many device pixels
        QIcon icon;
    };

    SizedSvgEngine(QList<Variant> variants, QList<QSize> sizes)
        : m_variants(std::move(variants)), m_sizes(std::move(sizes))
    {
    }

    QIconEngine* clone() const override { return new SizedSvgEngine(*this); }
    QString key() const override { return QStringLiteral("tivane-sized-svg"); }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return pick(size, 1.0).pixmap(size, 1.0, mode, state);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        // Qt hands over the size in device pixels already.
        QPixmap pm = pick(size, 1.0).pixmap(size, 1.0, mode, state);
        pm.setDevicePixelRatio(scale);
        return pm;
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal scale = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        pick(rect.size(), scale).paint(painter, rect, Qt::AlignCenter, mode, state);
    }

    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return pick(size, 1.0).actualSize(size, mode, state);
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override { return m_sizes; }

    bool isNull() override { return m_variants.isEmpty(); }

private:
    const QIcon& pick(const QSize& size, qreal scale) const
    {
        const qreal pixels = qMin(size.width(), size.height()) * scale;
        for (const Variant& v : m_variants) {
            if (pixels <= v.maxPixels)
                return v.icon;
        }
        return m_variants.constLast().icon;
    }

    QList<Variant> m_variants; // ordered by maxPixels, the last one catches everything larger
    QList<QSize> m_sizes;
};

// The window icon with a state badge in its lower right corner. The badge takes a larger share
// of small icons, where it would otherwise be a few pixels only.
class BadgedEngine : public QIconEngine
{
public:
    BadgedEngine(QIcon base, QIcon badge) : m_base(std::move(base)), m_badge(std::move(badge)) {}

    QIconEngine* clone() const override { return new BadgedEngine(*this); }
    QString key() const override { return QStringLiteral("tivane-badged"); }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        m_base.paint(painter, rect, Qt::AlignCenter, mode, state);
        const qreal scale = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        const int pixels = qMin(rect.width(), rect.height());
        const int side = qMax(1, qRound(pixels * (pixels * scale <= 24 ? 0.62 : 0.5)));
        const QRect badge(rect.right() + 1 - side, rect.bottom() + 1 - side, side, side);
        m_badge.paint(painter, badge, Qt::AlignCenter, mode, state);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        QPixmap pm(size);
        pm.fill(Qt::transparent);
        {
            QPainter p(&pm);
            p.setRenderHint(QPainter::Antialiasing);
            paint(&p, QRect(QPoint(0, 0), size), mode, state);
        }
        pm.setDevicePixelRatio(scale);
        return pm;
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        return {QSize(16, 16), QSize(22, 22), QSize(24, 24), QSize(32, 32), QSize(48, 48)};
    }

    bool isNull() override { return m_base.isNull(); }

private:
    QIcon m_base;
    QIcon m_badge;
};

QString resourcePath(const char* group, const char* name)
{
    return QStringLiteral(":/artwork/") + QLatin1StringView(group) + QLatin1Char('/') + QLatin1StringView(name) +
           QStringLiteral(".svg");
}

QIcon svgIcon(const QString& path)
{
    init();
    return path.isEmpty() ? QIcon() : QIcon(path);
}

} // namespace

void init()
{
    static std::once_flag once;
    std::call_once(once, registerArtworkResource);
}

QString toolbarIconPath(int index)
{
    if (index < 1 || index > ToolbarImageCount)
        return {};
    return resourcePath("toolbar", kToolbarFiles[index - 1]);
}

QString listIconPath(int index)
{
    if (index < 1 || index > ListImageCount)
        return {};
    if (index == Tick)
        return kTickPath;
    return resourcePath("list", kListFiles[index - 1]);
}

QString trayBadgePath(int index)
{
    if (index < 1 || index > TrayImageCount)
        return {};
    return resourcePath("tray", kTrayBadges[index - 1]);
}

QIcon trayIcon(int index)
{
    const QString badge = trayBadgePath(index);
    if (badge.isEmpty())
        return {};
    init();
    return QIcon(new BadgedEngine(windowIcon(), QIcon(badge)));
}

QString trayIconName(int index)
{
    switch (index) {
    case TrayNoneProbed:
        return QStringLiteral("tivane-idle");
    case TrayAllUp:
        return QStringLiteral("tivane-up");
    case TraySomeDown:
        return QStringLiteral("tivane-down");
    case TraySomeDegraded:
        return QStringLiteral("tivane-degraded");
    default:
        return {};
    }
}

QIcon toolbarIcon(int index)
{
    return svgIcon(toolbarIconPath(index));
}

QIcon listIcon(int index)
{
    return svgIcon(listIconPath(index));
}

QIcon windowIcon()
{
    init();
    const QList<QSize> sizes = {QSize(16, 16), QSize(32, 32), QSize(48, 48)};
    return QIcon(new SizedSvgEngine({{20, QIcon(QStringLiteral(":/artwork/app/window16.svg"))},
                                     {INT_MAX, QIcon(QStringLiteral(":/artwork/app/window.svg"))}},
                                    sizes));
}

QIcon logo()
{
    init();
    return QIcon(new SizedSvgEngine({{INT_MAX, QIcon(QStringLiteral(":/artwork/app/logo.svg"))}}, {QSize(102, 102)}));
}

QIcon tick()
{
    init();
    const QList<QSize> sizes = {QSize(16, 16), QSize(24, 24), QSize(32, 32), QSize(48, 48)};
    return QIcon(new SizedSvgEngine({{INT_MAX, QIcon(kTickPath)}}, sizes));
}

} // namespace artwork
