#include "bench/Process.h"

#include <chrono>
#include <fstream>
#include <thread>
#include <time.h>

namespace tessor::bench {

long long MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

bool SimProcess::Start(const std::string& program, const std::vector<std::string>& options,
                       const std::string& workDir, const std::string& name, std::string* error) {
    const std::string pathFile = workDir + "/" + name + ".path";
    const std::string log = workDir + "/" + name + ".log";
    ::unlink(pathFile.c_str());
    std::vector<std::string> argv{program, "--no-stdin", "--path-file", pathFile};
    argv.insert(argv.end(), options.begin(), options.end());
    if (!m_process.Start(argv, log, log)) {
        *error = program + ": cannot start it";
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(pathFile);
        std::string line;
        if (in && std::getline(in, line) && !line.empty()) {
            m_slave = line;
            return true;
        }
        if (m_process.Wait(std::chrono::milliseconds(0)) != -1) {
            *error = program + " ended at start (see " + log + ")";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    *error = program + " announced no device (see " + log + ")";
    Stop();
    return false;
}

void SimProcess::Stop() {
    m_process.Stop(kStopGrace);
}

std::string RunAndCollect(const std::string& program, const std::vector<std::string>& args,
                          const std::vector<std::string>& extraEnv, const std::string& errorLog,
                          int* status) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    // A guard against a hang only: the longest run stays at rest for minutes.
    constexpr int kGuardMs = 3600 * 1000;
    const testsupport::RunResult run =
        testsupport::RunProgram(argv, "/dev/null", testsupport::Environment(extraEnv), kGuardMs);
    std::ofstream(errorLog, std::ios::app) << run.err;
    *status = run.status;
    return run.out;
}

} // namespace tessor::bench
