#pragma once

// Child processes of the benchmarks: the simulator on a pseudo-terminal, programs with their outputs in
// files, and the configurator launcher whose standard output is collected.

#include <string>
#include <sys/types.h>
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
    pid_t m_pid = -1;
    std::string m_slave;
};

// Starts command[0] with standard input from /dev/null and its outputs in the files named (the same file
// for both is opened once). The process id, or -1 when fork failed.
pid_t StartWithFiles(const std::vector<std::string>& command, const std::string& outPath,
                     const std::string& errPath);

// Ends a child: SIGTERM, then SIGKILL when it has not ended within 3 s.
void StopChild(pid_t pid);

// A whole file as text; empty when it cannot be read.
std::string ReadFile(const std::string& path);

// Runs a program to its end with extra environment entries ("NAME=value"); returns its standard output
// (standard error goes to errorLog) and sets *status to its exit status (-1 when it did not end normally).
std::string RunAndCollect(const std::string& program, const std::vector<std::string>& args,
                          const std::vector<std::string>& extraEnv, const std::string& errorLog, int* status);

// The monotonic clock in nanoseconds, the same clock in every process of the machine.
long long MonotonicNs();

} // namespace tessor::bench
