#pragma once

// End-to-end support: the tessor-sim program on a pseudo-terminal as a child process, and helpers to run
// the real application (CConfiguratorApp with the sheet's own port factory) against it.

#include "support/ChildProcess.h"

#include <QListWidget>
#include <QString>
#include <QStringList>

#include <ostream>
#include <string>
#include <vector>

// Readable failure messages for texts.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

#ifndef TESSOR_SIM_PATH
#error "TESSOR_SIM_PATH must name the tessor-sim executable"
#endif

namespace tessor::e2e {

// Guard against a hang, not a measurement.
constexpr int kGuardMs = 15000;

// The tessor-sim program: fault commands on its standard input, acknowledged on its standard error; the
// current slave is always reachable through a symbolic link.
class SimProcess {
public:
    // Starts the program with the link at linkPath and waits until it has announced its slave.
    bool Start(const std::string& linkPath, std::vector<std::string> options = {}) {
        m_link = linkPath;
        std::vector<std::string> args{TESSOR_SIM_PATH, "--no-pacing", "--link", linkPath};
        args.insert(args.end(), options.begin(), options.end());
        return m_process.Start(args) && !m_process.ReadLine(Stream::Out).empty();
    }

    const std::string& Link() const { return m_link; }

    // Sends a fault command and waits for the program's acknowledgement (a log line containing ack).
    bool Command(const std::string& command, const std::string& ack) {
        return m_process.Command(command, ack);
    }

private:
    using Stream = testsupport::PipedProcess::Stream;
    testsupport::PipedProcess m_process{kGuardMs};
    std::string m_link;
};

// The terminal's list from the bottom up: the order the lines were added, which is the order of the log
// file. The window shows the newest operation on top, each operation's lines in the order they came, so
// here a read appears as its reply line followed by its command line.
inline QStringList ListLines(const QListWidget* list) {
    QStringList lines;
    for (int i = list->count() - 1; i >= 0; --i)
        lines << list->item(i)->text();
    return lines;
}

} // namespace tessor::e2e
