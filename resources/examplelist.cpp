#include "resources/examplelist.h"

#include <QFile>

// Q_INIT_RESOURCE has to be used outside any namespace.
static void registerExampleResource()
{
    Q_INIT_RESOURCE(examplelist);
}

namespace examplelist {

QByteArray bytes()
{
    static const bool registered = (registerExampleResource(), true);
    Q_UNUSED(registered);
    QFile file(QStringLiteral(":/examples/list.example.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace examplelist
