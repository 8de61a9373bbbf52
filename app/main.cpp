#include "app/CommandLine.h"
#include "app/ConfiguratorApp.h"
#include "app/Platform.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv) {
    // The command line is read before the application object, which needs a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const tessor::CommandLineOutcome outcome = tessor::ParseCommandLine(arguments);
    if (!outcome.startWindow) {
        tessor::ConnectStartingConsole();
        std::fputs(outcome.out.toLocal8Bit().constData(), stdout);
        std::fputs(outcome.err.toLocal8Bit().constData(), stderr);
        return outcome.exitCode;
    }
    QApplication application(argc, argv);
    // The settings belong to the program whatever its file is called (a renamed .exe, the test build).
    QApplication::setApplicationName(QString::fromLatin1("tessor-configurator"));
    tessor::ApplyPlatformFont();
    tessor::CConfiguratorApp app;
    return app.Run();
}
