#pragma once

#include <QString>

namespace platform {

// The application object: identity texts of the program and the folder it runs from.
// Path is injectable so tests can point list.txt and the wave files at a temporary folder.
struct AppInfo
{
    QString Path; // the executable's directory, no trailing separator
    // The installed data folder (<prefix>/share/tivane beside <prefix>/bin), where file() looks
    // for what is not beside the executable; empty for none.
    QString DataPath;
    QString Title = QStringLiteral("Tivane");
    QString ProductName = QStringLiteral("Tivane");
    int Major = TIVANE_VERSION_MAJOR;
    int Minor = TIVANE_VERSION_MINOR;
    int Revision = TIVANE_VERSION_PATCH;
    QString FileDescription;
    QString LegalCopyright;
    QString LegalTrademarks;

    // Identity of the running program, with Path = QCoreApplication::applicationDirPath() and
    // DataPath the data folder of an installation that the executable belongs to.
    static AppInfo current();

    // Path joined with a file name using the platform's separator ("Info.wav" -> "<Path>/Info.wav");
    // when there is no such file there but DataPath has one, that one.
    QString file(const QString& name) const;

    // "0.1.50"
    QString versionText() const;
};

} // namespace platform
