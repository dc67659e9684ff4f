#include "bench/resident.h"
#include "hostlist/hostlistfile.h"
#include "hostlist/hostlistview.h"
#include "platform/reportlist.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const QString path = dir.filePath(QStringLiteral("list.txt"));
    {
        QByteArray data;
        for (int i = 1; i <= hostlist::MaxEntries; ++i)
            data += "1|host " + QByteArray::number(i) + "|10." + QByteArray::number(i / 65536) + '.' +
                    QByteArray::number(i / 256 % 256) + '.' + QByteArray::number(i % 256) + "\r\n";
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
            return 1;
    }

    platform::ReportList list;
    list.setColumns(
        {QStringLiteral("Name"), QStringLiteral("Address"), QStringLiteral("Status"), QStringLiteral("Timeout")},
        {200, 200, 200, 100});
    list.resize(800, 600);
    list.show();
    QCoreApplication::processEvents();

    QElapsedTimer clock;
    clock.start();
    try {
        hostlist::HostListFile file(path);
        hostlist::LoadList(list, file);
    } catch (const hostlist::HostListError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    // Include the first paint after the load: that is when the user sees the list.
    QCoreApplication::processEvents();
    const qint64 ms = clock.elapsed();
    if (list.count() != hostlist::MaxEntries)
        return 1;

    std::printf("load_32767_ms: %lld ms\n", static_cast<long long>(ms));
    std::printf("rss_32767_mb: %ld MB\n", static_cast<long>(residentMegabytes()));
    return 0;
}
