#pragma once

// Child processes for the tests that run the programs: argument and environment vectors for exec, a run
// to the end with both outputs collected, a program running beside the test with its outputs in files or
// on pipes, and whole files read back.

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tessor::testsupport {

// Polls condition every `every` until it holds or limit has passed; whether it held.
template <class F>
bool WaitFor(F condition, std::chrono::milliseconds limit,
             std::chrono::milliseconds every = std::chrono::milliseconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition())
            return true;
        std::this_thread::sleep_for(every);
    }
    return condition();
}

// Pointers to the strings' characters, ended by a null pointer, as exec and posix_spawn take them.
inline std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    out.reserve(strings.size() + 1);
    for (std::string& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// The extra entries ("NAME=value") ahead of this process's environment, so that they win; entries of
// this environment whose names are in drop are left out.
inline std::vector<std::string> Environment(const std::vector<std::string>& extra = {},
                                            const std::vector<std::string>& drop = {}) {
    std::vector<std::string> env(extra);
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        bool dropped = false;
        for (const std::string& name : drop)
            dropped = dropped || entry.rfind(name + "=", 0) == 0;
        if (!dropped)
            env.push_back(entry);
    }
    return env;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

struct RunResult {
    int status = -1; // exit status, or -1 when the program did not end by itself
    std::string out;
    std::string err;
    double ms = 0;
};

// Runs args[0] with standard input from stdinPath and the environment env, and collects both outputs.
// A program still running after guardMs is killed (a guard against a hang, not a measurement).
inline RunResult RunProgram(std::vector<std::string> args, const std::string& stdinPath,
                            std::vector<std::string> env, int guardMs) {
    std::vector<char*> argv = Pointers(args);
    std::vector<char*> envp = Pointers(env);
    int out[2], err[2];
    RunResult result;
    if (pipe2(out, O_CLOEXEC) != 0)
        return result;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, stdinPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    if (rc == 0) {
        const auto deadline = start + std::chrono::milliseconds(guardMs);
        pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
        std::string* sinks[2] = {&result.out, &result.err};
        int open = 2;
        while (open > 0 && std::chrono::steady_clock::now() < deadline) {
            if (poll(fds, 2, 100) <= 0)
                continue;
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd < 0 || fds[i].revents == 0)
                    continue;
                char chunk[4096];
                const ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
                if (n > 0) {
                    sinks[i]->append(chunk, static_cast<std::size_t>(n));
                } else {
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
        if (open > 0)
            kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        result.ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        result.status = open == 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    close(out[0]);
    close(err[0]);
    return result;
}

// Kills a running child (a pid above 0) and reaps it; *pid becomes -1.
inline void KillChild(pid_t* pid) {
    if (*pid <= 0)
        return;
    kill(*pid, SIGKILL);
    waitpid(*pid, nullptr, 0);
    *pid = -1;
}

// A child process with its standard output and error in files; killed when still running at the end.
class Process {
public:
    Process() = default;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process() { Kill(); }

    // Starts args[0]; out and err may name the same file, which then takes both outputs in order.
    bool Start(std::vector<std::string> args, const std::string& out, const std::string& err,
               const std::string& in = "/dev/null") {
        std::vector<char*> argv = Pointers(args);
        constexpr int kWrite = O_WRONLY | O_CREAT | O_TRUNC;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, in.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), kWrite, 0644);
        if (err == out)
            posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        else
            posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), kWrite, 0644);
        const int rc = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0)
            m_pid = -1;
        return rc == 0;
    }

    pid_t Pid() const { return m_pid; }

    // Sends a signal and waits for the exit; the exit status, or -1 when it did not end within the time.
    int SignalAndWait(int signal, std::chrono::milliseconds limit) {
        if (m_pid <= 0)
            return -1;
        kill(m_pid, signal);
        return Wait(limit);
    }

    // The exit status (128 + the signal's number for a program a signal ended), or -1 when it has not
    // ended within limit; a limit of zero looks once.
    int Wait(std::chrono::milliseconds limit) {
        if (m_pid <= 0)
            return -1;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (std::chrono::steady_clock::now() >= deadline)
                return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    // Asks the program to end (SIGTERM) and kills it when it has not ended within grace.
    void Stop(std::chrono::milliseconds grace) {
        if (SignalAndWait(SIGTERM, grace) == -1)
            Kill();
    }

    void Kill() { KillChild(&m_pid); }

private:
    pid_t m_pid = -1;
};

// Reads from fd into buffer until it holds terminator, and returns what came up to and including it; empty
// when the stream ends or nothing came within guardMs (a guard against a hang, not a measurement).
inline std::string ReadUntil(int fd, const std::string& terminator, std::string* buffer, int guardMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(guardMs);
    for (;;) {
        const std::size_t end = buffer->find(terminator);
        if (end != std::string::npos) {
            std::string text = buffer->substr(0, end + terminator.size());
            buffer->erase(0, end + terminator.size());
            return text;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        if (left <= 0)
            return std::string();
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0)
            continue;
        char chunk[256];
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0)
            return std::string();
        buffer->append(chunk, static_cast<std::size_t>(n));
    }
}

// A child process with its standard input, output and error on pipes: lines are written to its input
// and read from either output.
class PipedProcess {
public:
    enum class Stream { Out, Err };

    explicit PipedProcess(int guardMs) : m_guardMs(guardMs) {}
    PipedProcess(const PipedProcess&) = delete;
    PipedProcess& operator=(const PipedProcess&) = delete;
    ~PipedProcess() {
        Kill();
        for (int* fd : {&m_in, &m_out, &m_err}) {
            if (*fd >= 0)
                close(*fd);
            *fd = -1;
        }
    }

    bool Start(std::vector<std::string> args) {
        std::vector<char*> argv = Pointers(args);
        int in[2], out[2], err[2];
        if (pipe2(in, O_CLOEXEC) != 0)
            return false;
        if (pipe2(out, O_CLOEXEC) != 0) {
            CloseBoth(in);
            return false;
        }
        if (pipe2(err, O_CLOEXEC) != 0) {
            CloseBoth(in);
            CloseBoth(out);
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        const int rc = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        close(err[1]);
        m_in = in[1];
        m_out = out[0];
        m_err = err[0];
        if (rc != 0)
            m_pid = -1;
        return rc == 0;
    }

    bool WriteLine(const std::string& text) {
        const std::string line = text + "\n";
        return write(m_in, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    }

    // The next line (without its end); empty when the stream ended or the guard ran out.
    std::string ReadLine(Stream stream) {
        std::string line = ReadUntil(Fd(stream), "\n", Buffer(stream), m_guardMs);
        if (!line.empty())
            line.pop_back();
        return line;
    }

    // Reads lines until one contains text; false when the stream ended or the guard ran out first.
    bool WaitForLine(Stream stream, const std::string& text) {
        for (;;) {
            const std::string line = ReadUntil(Fd(stream), "\n", Buffer(stream), m_guardMs);
            if (line.empty())
                return false;
            if (line.find(text) != std::string::npos)
                return true;
        }
    }

    // Writes a command line and waits for the line on standard error that acknowledges it.
    bool Command(const std::string& command, const std::string& acknowledgement) {
        return WriteLine(command) && WaitForLine(Stream::Err, acknowledgement);
    }

    // Ends the program with SIGTERM; its exit status, or -1 when it did not exit by itself.
    int Terminate() {
        if (m_pid <= 0)
            return -1;
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void Kill() { KillChild(&m_pid); }

private:
    static void CloseBoth(int fds[2]) {
        close(fds[0]);
        close(fds[1]);
    }
    int Fd(Stream stream) const { return stream == Stream::Out ? m_out : m_err; }
    std::string* Buffer(Stream stream) { return stream == Stream::Out ? &m_outBuffer : &m_errBuffer; }

    int m_guardMs;
    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    int m_err = -1;
    std::string m_outBuffer;
    std::string m_errBuffer;
};

} // namespace tessor::testsupport
