#include "LinkFixture.h"
#include "link/PosixSerialDevice.h"

#include <cstdio>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tessor::test {
namespace {

// The master side of a pseudo-terminal that answers like a board with one register.
class PtyBoard {
public:
    PtyBoard() {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master >= 0 && grantpt(m_master) == 0 && unlockpt(m_master) == 0)
            m_slave = ptsname(m_master);
    }
    ~PtyBoard() {
        Stop();
        if (m_master >= 0)
            ::close(m_master);
    }
    const std::string& SlavePath() const { return m_slave; }

    void Serve() {
        m_thread = std::thread([this] {
            std::string line;
            while (!m_stop) {
                pollfd p{m_master, POLLIN, 0};
                if (::poll(&p, 1, 20) <= 0)
                    continue;
                char c;
                if (::read(m_master, &c, 1) != 1)
                    break;
                if (c != '\n') {
                    line += c;
                    continue;
                }
                std::string reply = line + "\n";
                if (line.rfind("RD ", 0) == 0)
                    reply += "\r" + line.substr(3, 4) + ": 3F";
                reply += "\n\rL>";
                (void)!::write(m_master, reply.data(), reply.size());
                received.push_back(line);
                line.clear();
            }
        });
    }
    void Stop() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    void CloseMaster() {
        Stop();
        ::close(m_master);
        m_master = -1;
    }

    std::vector<std::string> received;

private:
    int m_master = -1;
    std::string m_slave;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
};

TEST(PosixSerialDevice, TransportOverAPseudoTerminal) {
    PtyBoard pty;
    ASSERT_FALSE(pty.SlavePath().empty());
    pty.Serve();
    FakePrompt prompt;
    CConsolePort port(&prompt);
    ASSERT_EQ(port.Open(9600, 8, 0, 0, pty.SlavePath().c_str()), 1) << port.LastOpenError();
    std::thread worker([&port] { port.ConsoleWorkerThread(); });
    EXPECT_EQ(port.Exchange(kRead, "8C10", " 1"), Answered(0x3F));
    EXPECT_EQ(port.Exchange(kWrite, "8C10", "32"), Answered(1));
    port.RequestStop();
    worker.join();
    pty.Stop();
    EXPECT_EQ(pty.received, (std::vector<std::string>{"RD 8C10", "WR 8C10 32"}));
    EXPECT_TRUE(prompt.Problems().empty());
}

TEST(PosixSerialDevice, OpenIsExclusiveAndFailsForMissingDevices) {
    PtyBoard pty;
    int err = 0;
    auto first = PosixSerialDevice::Open(pty.SlavePath(), LineSettings{}, &err);
    ASSERT_TRUE(first) << err;
    // Root may pass the exclusive lock; everyone else is refused with EBUSY.
    if (geteuid() != 0) {
        EXPECT_FALSE(PosixSerialDevice::Open(pty.SlavePath(), LineSettings{}, &err));
        EXPECT_EQ(err, EBUSY);
    }
    EXPECT_FALSE(PosixSerialDevice::Open("/dev/does-not-exist-tty", LineSettings{}, &err));
    EXPECT_EQ(err, ENOENT);
    EXPECT_FALSE(PosixSerialDevice::Open("/dev/null", LineSettings{}, &err));
    EXPECT_EQ(err, ENOTTY);
}

// Opens the device in a child process running as an unprivileged user; returns the error number of
// the open (0 when it opened), or -1 when the child could not become that user.
int OpenAsUnprivilegedUser(const std::string& path) {
    const passwd* nobody = getpwnam("nobody");
    const uid_t uid = nobody ? nobody->pw_uid : 65534;
    const gid_t gid = nobody ? nobody->pw_gid : 65534;
    std::fflush(nullptr); // the child must not repeat what is still buffered
    const pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0 || geteuid() == 0)
            _exit(255);
        int err = 0;
        auto device = PosixSerialDevice::Open(path, LineSettings{}, &err);
        _exit(device ? 0 : (err > 0 && err < 255 ? err : 254));
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status) == 255 ? -1 : WEXITSTATUS(status);
}

// Root passes the exclusive lock, so the lock is checked from a process without root rights.
TEST(PosixSerialDevice, ExclusiveOpenRefusesAnUnprivilegedSecondOpener) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to start an unprivileged child; without root the exclusive open is "
                        "checked by OpenIsExclusiveAndFailsForMissingDevices";
    PtyBoard pty;
    ASSERT_FALSE(pty.SlavePath().empty());
    ASSERT_EQ(chmod(pty.SlavePath().c_str(), 0666), 0) << "the child must be allowed to open it";
    int err = 0;
    auto first = PosixSerialDevice::Open(pty.SlavePath(), LineSettings{}, &err);
    ASSERT_TRUE(first) << err;
    EXPECT_EQ(OpenAsUnprivilegedUser(pty.SlavePath()), EBUSY);
    first.reset();
    EXPECT_EQ(OpenAsUnprivilegedUser(pty.SlavePath()), 0) << "once closed, the same child may open it";
}

TEST(PosixSerialDevice, InterruptEndsABlockedReadAndHangUpIsReported) {
    PtyBoard pty;
    int err = 0;
    auto device = PosixSerialDevice::Open(pty.SlavePath(), LineSettings{}, &err);
    ASSERT_TRUE(device);
    std::atomic<int> status{-1};
    std::thread reader([&] {
        std::uint8_t b;
        status = device->Read(&b, 1).status;
    });
    device->Interrupt();
    reader.join();
    EXPECT_EQ(status.load(), IoResult::Interrupted);

    auto second = PosixSerialDevice::Open(pty.SlavePath(), LineSettings{}, &err);
    device.reset();
    second = PosixSerialDevice::Open(pty.SlavePath(), LineSettings{}, &err);
    ASSERT_TRUE(second) << err;
    pty.CloseMaster();
    std::uint8_t b;
    EXPECT_EQ(second->Read(&b, 1).status, IoResult::HungUp);
}

TEST(ComNames, ResolveFromEnvironmentSettingOrDefault) {
    unsetenv("TESSOR_COM2");
    EXPECT_EQ(ResolveComName("COM1:", nullptr), "/dev/ttyS0");
    EXPECT_EQ(ResolveComName("COM3:", nullptr), "/dev/ttyS2");
    auto lookup = [](int n) { return n == 2 ? std::string("/dev/ttyUSB0") : std::string(); };
    EXPECT_EQ(ResolveComName("COM2:", lookup), "/dev/ttyUSB0");
    EXPECT_EQ(ResolveComName("COM1:", lookup), "/dev/ttyS0");
    setenv("TESSOR_COM2", "/dev/pts/7", 1);
    EXPECT_EQ(ResolveComName("COM2:", lookup), "/dev/pts/7");
    unsetenv("TESSOR_COM2");
    EXPECT_EQ(ResolveComName("/dev/ttyACM0", nullptr), "/dev/ttyACM0");
    EXPECT_EQ(ResolveComName("COMX:", nullptr), "COMX");
}

} // namespace
} // namespace tessor::test
