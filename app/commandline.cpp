#include "app/commandline.h"

#include <QCommandLineParser>

namespace {

const QCommandLineOption HelpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
const QCommandLineOption VersionOption(QStringList{QStringLiteral("v"), QStringLiteral("version")});
const QCommandLineOption MinimizedOption(QStringLiteral("minimized"));

} // namespace

CommandLine parseCommandLine(const QStringList& arguments, bool strict)
{
    QCommandLineParser parser;
    // "-platform" and the toolkit's other one-dash words must not read as -p -l -a...
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption(HelpOption);
    parser.addOption(VersionOption);
    parser.addOption(MinimizedOption);

    CommandLine line;
    const bool parsed = parser.parse(arguments.isEmpty() ? QStringList{QStringLiteral("tivane")} : arguments);
    if (parser.isSet(HelpOption)) {
        line.action = CommandLine::Help;
    } else if (parser.isSet(VersionOption)) {
        line.action = CommandLine::Version;
    } else if (strict && !parsed) {
        line.action = CommandLine::Error;
        line.error = parser.errorText();
    } else if (strict && !parser.positionalArguments().isEmpty()) {
        line.action = CommandLine::Error;
        line.error = QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().constFirst());
    }
    line.minimized = parser.isSet(MinimizedOption);
    return line;
}

QString helpText()
{
    return QStringLiteral("Usage: tivane [--minimized]\n"
                          "A desktop ping monitor: sends one ICMP echo request to every ticked host of a list, once\n"
                          "or continuously, and shows each answer.\n"
                          "\n"
                          "Options:\n"
                          "  -h, --help     Show this help and exit.\n"
                          "  -v, --version  Show the version and exit.\n"
                          "  --minimized    Start hidden in the notification area when the desktop has one,\n"
                          "                 as \"Start with the session\" under View does.\n"
                          "\n"
                          "The host list is list.txt beside the program when there is one; otherwise\n"
                          "$XDG_DATA_HOME/Tivane/list.txt (~/.local/share/Tivane/list.txt), which the first start\n"
                          "creates from the example list.\n");
}

QString versionText()
{
    return QStringLiteral("tivane %1.%2.%3\n")
        .arg(TIVANE_VERSION_MAJOR)
        .arg(TIVANE_VERSION_MINOR)
        .arg(TIVANE_VERSION_PATCH);
}
