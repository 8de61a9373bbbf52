#include "app/CommandLine.h"

#include "app/ComPorts.h"

#include "VersionInfo.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace tessor {

namespace {

const char* const kProgram = "tessor-configurator";

// Options that the application object itself takes; accepted here so that they reach it.
void AddWindowSystemOptions(QCommandLineParser& parser) {
    const char* const withValue[] = {"platform",
                                     "platformpluginpath",
                                     "platformtheme",
                                     "plugin",
                                     "qwindowgeometry",
                                     "qwindowicon",
                                     "qwindowtitle",
                                     "display",
                                     "geometry",
                                     "style",
                                     "stylesheet",
                                     "session",
                                     "title"};
    const char* const flags[] = {"reverse", "widgetcount", "sync", "nograb", "dograb", "visual"};
    for (const char* name : withValue) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : flags) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

QString Usage(const QString& problem) {
    return QStringLiteral("%1: %2\nTry '%1 --help' for more information.\n")
        .arg(QString::fromLatin1(kProgram), problem);
}

} // namespace

CommandLineOutcome ParseCommandLine(const QStringList& arguments) {
    CommandLineOutcome outcome;
    if (arguments.size() <= 1)
        return outcome;

    QCommandLineParser parser;
    // Single-dash words are the window system's options (-platform xcb), not bundles of letters.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Configures and monitors a pair of Ethernet-over-VDSL line modems through the serial "
                       "console of one of them.\nThe COM port is chosen in the Initialize Hardware dialog; "
                       "COMn is the device named by TESSOR_COMn,\nelse the setting Ports/COMn, else "
                       "%1, %2, %3.")
            .arg(DefaultComDevice(1), DefaultComDevice(2), DefaultComDevice(3)));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and end."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the program's version and end."));
    parser.addOption(help);
    parser.addOption(version);
    AddWindowSystemOptions(parser);

    if (!parser.parse(arguments)) {
        outcome = CommandLineOutcome{false, 2, QString(), Usage(parser.errorText())};
    } else if (parser.isSet(help)) {
        QString text = parser.helpText();
        // Without an application object the parser does not know the program name.
        text.replace(QStringLiteral("<executable_name>"), QString::fromLatin1(kProgram));
        outcome = CommandLineOutcome{false, 0, text, QString()};
    } else if (parser.isSet(version)) {
        outcome = CommandLineOutcome{false, 0,
                                     QStringLiteral("%1 %2\n").arg(QString::fromLatin1(kProgram),
                                                                   QString::fromUtf8(version::kFileVersion)),
                                     QString()};
    } else if (!parser.positionalArguments().isEmpty()) {
        outcome = CommandLineOutcome{
            false, 2, QString(),
            Usage(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()))};
    }
    return outcome;
}

} // namespace tessor
