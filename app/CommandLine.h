#pragma once

#include <QString>
#include <QStringList>

namespace tessor {

// What the configurator's command line asks for. Without options the window starts as usual.
struct CommandLineOutcome {
    bool startWindow = true; // false: print and end with exitCode
    int exitCode = 0;        // 0 for --help and --version, 2 for bad usage
    QString out;             // for standard output
    QString err;             // for standard error
};

// Reads the arguments (the program name first) before any window exists, so that --help and --version
// work without a display. The window system's own options (-platform, -display, -style, ...) pass.
CommandLineOutcome ParseCommandLine(const QStringList& arguments);

} // namespace tessor
