// The installed programs' command lines, run as processes: --help and --version end at once with 0, bad
// usage ends with 2 and a message on standard error, and tessor-demo reports only what it read.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

struct ProgramRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs a program with no display and no platform choice, and collects its output and exit code.
ProgramRun RunProgram(std::vector<std::string> args) {
    ProgramRun run;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("DISPLAY=", 0) != 0 && entry.rfind("WAYLAND_DISPLAY=", 0) != 0 &&
            entry.rfind("QT_QPA_PLATFORM=", 0) != 0)
            env.push_back(entry);
    }
    std::vector<char*> argv, envp;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    if (spawned != 0) {
        close(out[0]);
        close(err[0]);
        return run;
    }
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    for (int open = 2; open > 0;) {
        if (poll(fds, 2, 60000) <= 0)
            break; // guard against a hang
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (pollfd& f : fds)
        if (f.fd >= 0)
            close(f.fd);
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    return run;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(Programs, HelpVersionAndBadUsage) {
    const std::string version = TESSOR_VERSION;
    const struct {
        const char* program;
        const char* name;
    } programs[] = {
        {TESSOR_CONFIGURATOR_PATH, "tessor-configurator"},
        {TESSOR_SIM_PATH, "tessor-sim"},
        {TESSOR_DEMO_PATH, "tessor-demo"},
    };
    for (const auto& p : programs) {
        SCOPED_TRACE(p.name);
        const ProgramRun shownVersion = RunProgram({p.program, "--version"});
        EXPECT_EQ(shownVersion.exitCode, 0);
        EXPECT_EQ(shownVersion.out, std::string(p.name) + " " + version + "\n");
        const ProgramRun help = RunProgram({p.program, "--help"});
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_TRUE(Contains(help.out, std::string("Usage: ") + p.name)) << help.out;
        EXPECT_TRUE(Contains(help.out, "--version")) << help.out;
        const ProgramRun bad = RunProgram({p.program, "--no-such-option"});
        EXPECT_EQ(bad.exitCode, 2);
        EXPECT_TRUE(bad.out.empty()) << bad.out;
        EXPECT_TRUE(Contains(bad.err, p.name) && Contains(bad.err, "no-such-option")) << bad.err;
    }
    // The window takes no file or device argument; the window system's own options pass through.
    const ProgramRun stray = RunProgram({TESSOR_CONFIGURATOR_PATH, "COM1"});
    EXPECT_EQ(stray.exitCode, 2);
    EXPECT_TRUE(Contains(stray.err, "COM1")) << stray.err;
    const ProgramRun withPlatform =
        RunProgram({TESSOR_CONFIGURATOR_PATH, "-platform", "offscreen", "--version"});
    EXPECT_EQ(withPlatform.exitCode, 0);
    EXPECT_EQ(RunProgram({TESSOR_DEMO_PATH}).exitCode, 2);
    EXPECT_EQ(RunProgram({TESSOR_DEMO_PATH, "--side", "xx", "--in-process"}).exitCode, 2);
}

TEST(Programs, DemoNamesTheOpenErrorAndPrintsOnlyWhatItRead) {
    const ProgramRun missing = RunProgram({TESSOR_DEMO_PATH, "/dev/tessor-no-such-device"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(Contains(missing.err, "/dev/tessor-no-such-device: No such file or directory"))
        << missing.err;

    const ProgramRun good = RunProgram({TESSOR_DEMO_PATH, "--in-process", "--wait-ms", "4000"});
    EXPECT_EQ(good.exitCode, 0) << good.err;
    EXPECT_TRUE(Contains(good.out, "Local modem: LT") && Contains(good.out, "Ethernet counters")) << good.out;

    // A silent board: after the time-out nothing that looks like a reading is printed.
    const std::string pathFile = testing::TempDir() + "tessor-programs-sim-path";
    std::remove(pathFile.c_str());
    pid_t sim = -1;
    std::vector<std::string> simArgs{TESSOR_SIM_PATH, "--silent",    "--no-pacing",
                                     "--no-stdin",    "--path-file", pathFile};
    std::vector<char*> argv;
    for (std::string& a : simArgs)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawn(&sim, argv[0], &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    ASSERT_EQ(spawned, 0);
    std::string slave;
    for (int i = 0; i < 200 && slave.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        if (FILE* f = std::fopen(pathFile.c_str(), "r")) {
            char line[256] = {};
            if (std::fgets(line, sizeof line, f))
                slave = std::string(line).substr(0, std::string(line).find('\n'));
            std::fclose(f);
        }
    }
    ASSERT_FALSE(slave.empty());
    const ProgramRun silent = RunProgram({TESSOR_DEMO_PATH, "--wait-ms", "0", slave});
    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);
    EXPECT_EQ(silent.exitCode, 1);
    EXPECT_EQ(silent.out, "Connected to " + slave + "\n");
    EXPECT_TRUE(Contains(silent.err, slave + " did not answer")) << silent.err;
}

} // namespace
