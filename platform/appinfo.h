#pragma once

#include <QString>

namespace platform {

// The application object: identity texts of the program and the folder it runs from.
// Path is injectable so tests can point list.txt and the wave files at a temporary folder.
struct AppInfo
{
    QString Path; // the executable's directory, no trailing separator
    QString Title = QStringLiteral("Tivane");
    QString ProductName = QStringLiteral("Tivane");
    int Major = TIVANE_VERSION_MAJOR;
    int Minor = TIVANE_VERSION_MINOR;
    int Revision = TIVANE_VERSION_PATCH;
    QString FileDescription;
    QString LegalCopyright;
    QString LegalTrademarks;

    // Identity of the running program, with Path = QCoreApplication::applicationDirPath().
    static AppInfo current();

    // Path joined with a file name using the platform's separator ("list.txt" -> "<Path>/list.txt").
    QString file(const QString& name) const;

    // "0.1.50"
    QString versionText() const;
};

} // namespace platform
