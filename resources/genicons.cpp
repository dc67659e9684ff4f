// Build tool: draws the program's icon at the fixed sizes of the hicolor icon theme.
// Usage: tivane-genicons OUTDIR LARGE.svg SMALL.svg
// writes OUTDIR/<n>x<n>/apps/tivane.png for each size; sizes up to 20 px use the simplified
// small drawing, as the window icon does.

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fputs("usage: tivane-genicons OUTDIR LARGE.svg SMALL.svg\n", stderr);
        return 2;
    }
    QCoreApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[1]);
    QSvgRenderer large(QString::fromLocal8Bit(argv[2]));
    QSvgRenderer small(QString::fromLocal8Bit(argv[3]));
    if (!large.isValid() || !small.isValid()) {
        std::fputs("tivane-genicons: an SVG drawing could not be read\n", stderr);
        return 1;
    }
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            (size <= 20 ? small : large).render(&painter, QRectF(0, 0, size, size));
        }
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(out).arg(size);
        QSaveFile file(folder + QStringLiteral("/tivane.png"));
        // flush() first: Qt 6.4's commit() overlooks a flush that fails at close and keeps a cut-off file.
        if (!QDir().mkpath(folder) || !file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.flush() ||
            !file.commit()) {
            std::fprintf(stderr, "tivane-genicons: %s could not be written\n", qPrintable(file.fileName()));
            return 1;
        }
    }
    return 0;
}
