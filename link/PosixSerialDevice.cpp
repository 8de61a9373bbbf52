#include "link/PosixSerialDevice.h"

#include "link/NetworkSerialDevice.h"
#include "link/WriteLoop.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace tessor {

namespace {

speed_t SpeedCode(std::uint32_t baud) {
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B9600;
    }
}

bool Configure(int fd, const LineSettings& s) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    switch (s.byteSize) {
    case 5:
        tio.c_cflag |= CS5;
        break;
    case 6:
        tio.c_cflag |= CS6;
        break;
    case 7:
        tio.c_cflag |= CS7;
        break;
    default:
        tio.c_cflag |= CS8;
        break;
    }
    if (s.parity == 1)
        tio.c_cflag |= PARENB | PARODD;
    else if (s.parity == 2)
        tio.c_cflag |= PARENB;
    if (s.stopBits != 0)
        tio.c_cflag |= CSTOPB;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    const speed_t speed = SpeedCode(s.baud);
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

} // namespace

std::unique_ptr<PosixSerialDevice> PosixSerialDevice::Open(const std::string& path,
                                                           const LineSettings& settings, int* errorCode) {
    auto fail = [errorCode](int err) {
        if (errorCode)
            *errorCode = err;
        return std::unique_ptr<PosixSerialDevice>();
    };
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(errno);
    bool exclusive = false;
    auto closeAndFail = [&](int err) {
        if (exclusive)
            (void)ioctl(fd, TIOCNXCL);
        ::close(fd);
        return fail(err);
    };
    if (!isatty(fd))
        return closeAndFail(ENOTTY);
    if (ioctl(fd, TIOCEXCL) != 0)
        return closeAndFail(errno);
    exclusive = true;
    if (!Configure(fd, settings))
        return closeAndFail(errno);
    // A pseudo-terminal has no modem lines; that failure is expected and harmless.
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)ioctl(fd, TIOCMBIS, &lines);
    if (tcflush(fd, TCIOFLUSH) != 0)
        return closeAndFail(errno);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return closeAndFail(errno);
    if (errorCode)
        *errorCode = 0;
    return std::unique_ptr<PosixSerialDevice>(new PosixSerialDevice(fd, pipeFds[0], pipeFds[1]));
}

PosixSerialDevice::PosixSerialDevice(int fd, int wakeRead, int wakeWrite)
    : m_fd(fd), m_wakeRead(wakeRead), m_wakeWrite(wakeWrite) {}

PosixSerialDevice::~PosixSerialDevice() {
    // The exclusive flag belongs to the terminal, not to this descriptor: a pseudo-terminal keeps it
    // after the close for as long as its master is open, and would refuse the next ordinary user.
    (void)ioctl(m_fd, TIOCNXCL);
    ::close(m_fd);
    ::close(m_wakeRead);
    ::close(m_wakeWrite);
}

IoResult PosixSerialDevice::Write(const std::uint8_t* data, std::size_t len) {
    WriteLoop loop;
    loop.fd = m_fd;
    loop.wakeFd = m_wakeRead;
    loop.interrupted = &m_interrupted;
    loop.hangUpOnPollError = true;
    loop.attempt = [this](const std::uint8_t* bytes, std::size_t n) { return ::write(m_fd, bytes, n); };
    loop.failure = [](ssize_t, int error, std::size_t done) -> IoResult {
        const int err = error != 0 ? error : EIO;
        return {err == EIO ? IoResult::HungUp : IoResult::Error, err, done};
    };
    return WriteAll(loop, data, len);
}

IoResult PosixSerialDevice::Read(std::uint8_t* data, std::size_t len) {
    for (;;) {
        if (m_interrupted.load())
            return {IoResult::Interrupted, 0, 0};
        const ssize_t n = ::read(m_fd, data, len);
        if (n > 0)
            return {IoResult::Ok, 0, static_cast<std::size_t>(n)};
        if (n == 0)
            return {IoResult::HungUp, EIO, 0};
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return {errno == EIO ? IoResult::HungUp : IoResult::Error, errno, 0};
        pollfd p[2] = {{m_fd, POLLIN, 0}, {m_wakeRead, POLLIN, 0}};
        const int rc = ::poll(p, 2, -1);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            return {IoResult::Error, errno, 0};
        }
        if (p[1].revents & POLLIN)
            return {IoResult::Interrupted, 0, 0};
        // POLLHUP with data still queued: read it first; the next read reports the hang-up.
        if ((p[0].revents & (POLLHUP | POLLERR)) && !(p[0].revents & POLLIN))
            return {IoResult::HungUp, EIO, 0};
    }
}

bool PosixSerialDevice::Purge() {
    return tcflush(m_fd, TCIOFLUSH) == 0;
}

void PosixSerialDevice::Interrupt() {
    m_interrupted.store(true);
    const std::uint8_t b = 1;
    (void)!::write(m_wakeWrite, &b, 1);
}

std::string ResolveComName(const std::string& name, ComSettingLookup lookup) {
    std::string n = name;
    if (!n.empty() && n.back() == ':')
        n.pop_back();
    if (n.size() < 4 || n.compare(0, 3, "COM") != 0)
        return n;
    char* end = nullptr;
    const long index = std::strtol(n.c_str() + 3, &end, 10);
    if (!end || *end != '\0' || index < 1 || index > 255)
        return n;
    const std::string var = "TESSOR_" + n;
    if (const char* env = std::getenv(var.c_str()); env && *env)
        return env;
    if (lookup) {
        std::string stored = lookup(static_cast<int>(index));
        if (!stored.empty())
            return stored;
    }
    return SystemComDevice(static_cast<int>(index));
}

std::string SystemComDevice(int n) {
    return "/dev/ttyS" + std::to_string(n - 1);
}

std::string AdapterNameHint() {
    return "for a USB adapter a stable name under /dev/serial/by-id/";
}

std::unique_ptr<SerialDevice> OpenSerialDevice(const std::string& device, const LineSettings& settings,
                                               int* errorCode) {
    if (IsNetworkPortName(device))
        return NetworkSerialDevice::Open(device, settings, errorCode);
    return PosixSerialDevice::Open(device, settings, errorCode);
}

std::string SystemErrorMessage(int err) {
    if (IsNetworkErrorCode(err))
        return NetworkErrorMessage(err);
    return std::strerror(err);
}

std::string SystemErrorText(int err) {
    if (IsNetworkErrorCode(err))
        return NetworkErrorMessage(err); // the tool's own numbers mean nothing to a user
    return std::to_string(err) + " (" + SystemErrorMessage(err) + ")";
}

int NoDeviceError() {
    return ENODEV;
}

OpenFailure ClassifyOpenError(int err) {
    switch (err) {
    case EACCES:
    case EPERM:
        return OpenFailure::Forbidden;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return OpenFailure::Missing;
    case EBUSY:
        return OpenFailure::Busy;
    default:
        return OpenFailure::Other;
    }
}

std::string DeviceOwnerGroup(const std::string& device) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0)
        return std::string();
    if (const group* g = ::getgrgid(st.st_gid))
        return g->gr_name;
    return std::to_string(st.st_gid);
}

} // namespace tessor
