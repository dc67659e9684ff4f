// Build tool: draws the notification-area pictures of the hosts' overall state at the fixed
// sizes of the hicolor icon theme, so that a tray host that draws icons by name finds them.
// Usage: tivane-gentrayicons OUTDIR
// writes OUTDIR/<n>x<n>/status/tivane-<state>.png for each size and state.

#include "resources/artwork.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QSaveFile>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fputs("usage: tivane-gentrayicons OUTDIR\n", stderr);
        return 2;
    }
    // A build machine has no display; drawing needs none.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[1]);
    for (int state = 1; state <= artwork::TrayImageCount; ++state) {
        for (const int size : {16, 22, 24, 32, 48}) {
            const QImage image = artwork::trayIcon(state).pixmap(size, size).toImage();
            const QString folder = QStringLiteral("%1/%2x%2/status").arg(out).arg(size);
            QSaveFile file(QStringLiteral("%1/%2.png").arg(folder, artwork::trayIconName(state)));
            // flush() first: Qt 6.4's commit() overlooks a flush that fails at close.
            if (!QDir().mkpath(folder) || !file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") ||
                !file.flush() || !file.commit()) {
                std::fprintf(stderr, "tivane-gentrayicons: %s could not be written\n", qPrintable(file.fileName()));
                return 1;
            }
        }
    }
    return 0;
}
