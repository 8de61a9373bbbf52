#pragma once

// Child processes of the benchmarks, on the tests' own helpers (tests/support/ChildProcess.h): the
// simulator on a pseudo-terminal, and programs run to their end with their standard output collected.

#include "tests/support/ChildProcess.h"

#include <string>
#include <vector>

namespace tessor::bench {

// A running tessor-sim; stopped (SIGTERM, then SIGKILL) by Stop() or the destructor.
class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess() { Stop(); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts the program with the given options plus --no-stdin and --path-file, and waits until it has
    // announced its slave device. False (with *error) when it did not start.
    bool Start(const std::string& program, const std::vector<std::string>& options,
               const std::string& workDir, const std::string& name, std::string* error);
    void Stop();
    const std::string& SlavePath() const { return m_slave; }

private:
    testsupport::Process m_process;
    std::string m_slave;
};

// How long a child is given to end after SIGTERM before it is killed.
constexpr std::chrono::milliseconds kStopGrace{3000};

// A whole file as text; empty when it cannot be read.
using testsupport::ReadFile;

// Runs a program to its end with extra environment entries ("NAME=value"); returns its standard output
// (standard error goes to errorLog) and sets *status to its exit status (-1 when it did not end normally).
std::string RunAndCollect(const std::string& program, const std::vector<std::string>& args,
                          const std::vector<std::string>& extraEnv, const std::string& errorLog, int* status);

// The monotonic clock in nanoseconds, the same clock in every process of the machine.
long long MonotonicNs();

} // namespace tessor::bench
