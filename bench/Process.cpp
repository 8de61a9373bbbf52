#include "bench/Process.h"

#include "tests/support/ChildProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace tessor::bench {

namespace {

bool WaitForExit(pid_t pid, int timeoutMs, int* status) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const pid_t r = waitpid(pid, status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR))
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace

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
    const pid_t pid = StartWithFiles(argv, log, log);
    if (pid < 0) {
        *error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    m_pid = pid;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(pathFile);
        std::string line;
        if (in && std::getline(in, line) && !line.empty()) {
            m_slave = line;
            return true;
        }
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
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
    if (m_pid <= 0)
        return;
    StopChild(m_pid);
    m_pid = -1;
}

pid_t StartWithFiles(const std::vector<std::string>& command, const std::string& outPath,
                     const std::string& errPath) {
    std::vector<std::string> argv = command;
    std::vector<char*> args = testsupport::Pointers(argv);
    // Opened (and emptied) here, so that the caller never reads what an earlier run left in them.
    constexpr int kWrite = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
    const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = ::open(outPath.c_str(), kWrite, 0644);
    const int err = errPath == outPath ? out : ::open(errPath.c_str(), kWrite, 0644);
    const pid_t pid = fork();
    if (pid == 0) {
        if (in >= 0)
            dup2(in, STDIN_FILENO);
        if (out >= 0)
            dup2(out, STDOUT_FILENO);
        if (err >= 0)
            dup2(err, STDERR_FILENO);
        execv(argv[0].c_str(), args.data());
        _exit(127);
    }
    const int forkErrno = errno;
    for (const int fd : {in, out, err == out ? -1 : err}) {
        if (fd >= 0)
            close(fd);
    }
    errno = forkErrno;
    return pid;
}

void StopChild(pid_t pid) {
    int status = 0;
    kill(pid, SIGTERM);
    if (!WaitForExit(pid, 3000, &status)) {
        kill(pid, SIGKILL);
        WaitForExit(pid, 3000, &status);
    }
}

std::string ReadFile(const std::string& path) {
    return testsupport::ReadFile(path);
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
