#include "sim/PtyServer.h"

#include "sim/SimFaultCommands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <poll.h>
#include <sstream>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace tessor::sim {

namespace {

constexpr auto kIdlePoll = std::chrono::milliseconds(100);
constexpr auto kAbsentRetry = std::chrono::milliseconds(50);

void SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) {
        fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    }
}

// Writes text to path through a temporary file and a rename, so a reader never sees half of it.
bool WriteFileAtomically(const std::string& path, const std::string& text) {
    const std::string temp = path + ".tmp";
    FILE* file = std::fopen(temp.c_str(), "w");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fputs(text.c_str(), file) >= 0;
    const bool closed = std::fclose(file) == 0;
    return written && closed && std::rename(temp.c_str(), path.c_str()) == 0;
}

bool ReplaceSymlink(const std::string& link, const std::string& target) {
    const std::string temp = link + ".tmp";
    unlink(temp.c_str());
    return symlink(target.c_str(), temp.c_str()) == 0 && std::rename(temp.c_str(), link.c_str()) == 0;
}

bool ParseOnOff(const std::string& word, bool* value) {
    if (word == "on" || word == "1") {
        *value = true;
        return true;
    }
    if (word == "off" || word == "0") {
        *value = false;
        return true;
    }
    return false;
}

const char* LineStateName(CSimModemPair::LineState state) {
    switch (state) {
    case CSimModemPair::LineState::Up:
        return "up";
    case CSimModemPair::LineState::Training:
        return "training";
    default:
        return "down";
    }
}

} // namespace

CPtyServer::CPtyServer(const PtyServerOptions& options, std::ostream& log)
    : m_options(options), m_log(log), m_pair(options.sim), m_console(m_pair) {
    m_console.SetReplyDelayMs(options.replyDelayMs);
}

CPtyServer::~CPtyServer() {
    ClosePty();
    if (m_fifo >= 0) {
        close(m_fifo);
    }
    if (m_wireLog >= 0) {
        close(m_wireLog);
    }
}

const char* CPtyServer::ControlHelp() {
    return "Fault and control commands (standard input or the control FIFO, one per line):\n"
           "  silent on|off   stop answering / answer again (then a fresh prompt is sent)\n"
           "  corrupt-echo    the next echoed command comes back with a wrong first character\n"
           "  noise [N]       send N bytes of line noise now (default 8)\n"
           "  noise-next [N]  send N bytes of noise as the next command arrives, in front of its echo\n"
           "  delay MS        answer every command line MS milliseconds late (0 ends it)\n"
           "  hangup          close the pseudo-terminal (then exit, or reopen a new one)\n"
           "  reduced on|off  train with the reduced instead of the full constellation\n"
           "  drift on|off    the line's SNR wanders slowly (on) or stays flat (off)\n"
           "  burst [S]       a burst of corrected RS errors now, for S simulated seconds (default 30)\n"
           "  bursts N        start bursts at random, N an hour on average (0 ends them)\n"
           "  drops N         drop the line at random, N times an hour on average (0 ends them)\n"
           "  drop [N]        drop the line now, N times at once (default 1); it retrains at once\n"
           "  cut on|off      hold the line down (as with the cable pulled) / let it train again\n"
           "  poke ADDR VV    set a register of the local modem, as its own firmware would (no console "
           "reply)\n"
           "  reply ADDR F    answer reads starting at ADDR with fault F: error (\\rERROR), wrong-address\n"
           "                  (for ADDR+10), short (one field fewer), empty (no data), normal (ends it)\n"
           "  reply off       every reply normal again\n"
           "  count ADDR N    the counter starting at ADDR (8C91, 8CE4 .. 8D20) reads N at each read;\n"
           "                  count ADDR off counts normally again\n"
           "  status          print side, line state and time\n"
           "  help            print this list\n";
}

bool CPtyServer::Start(std::string* error) {
    if (!OpenPty(error)) {
        return false;
    }
    if (!m_options.controlFifo.empty()) {
        if (mkfifo(m_options.controlFifo.c_str(), 0600) != 0 && errno != EEXIST) {
            *error = "cannot create control FIFO " + m_options.controlFifo + ": " + std::strerror(errno);
            return false;
        }
        // Opened for reading and writing so that it never reports end of file between writers.
        m_fifo = open(m_options.controlFifo.c_str(), O_RDWR | O_NONBLOCK);
        if (m_fifo < 0) {
            *error = "cannot open control FIFO " + m_options.controlFifo + ": " + std::strerror(errno);
            return false;
        }
    }
    if (!m_options.wireLog.empty()) {
        m_wireLog = open(m_options.wireLog.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (m_wireLog < 0) {
            *error = "cannot open wire log " + m_options.wireLog + ": " + std::strerror(errno);
            return false;
        }
    }
    m_stdinOpen = m_options.readStdin;
    Announce();
    return true;
}

bool CPtyServer::OpenPty(std::string* error) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        *error = std::string("posix_openpt: ") + std::strerror(errno);
        return false;
    }
    if (grantpt(master) != 0 || unlockpt(master) != 0) {
        *error = std::string("grantpt/unlockpt: ") + std::strerror(errno);
        close(master);
        return false;
    }
    const char* name = ptsname(master);
    if (name == nullptr) {
        *error = std::string("ptsname: ") + std::strerror(errno);
        close(master);
        return false;
    }
    termios tio{};
    if (tcgetattr(master, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetispeed(&tio, B9600);
        cfsetospeed(&tio, B9600);
        tcsetattr(master, TCSANOW, &tio);
    }
    SetNonBlocking(master);
    m_master = master;
    m_slavePath = name;
    m_clientAbsent = false;
    m_input.clear();
    m_output.clear();
    WatchSlaveOpens();
    return true;
}

// While nobody has the slave open the master only reports a hang-up, so it cannot say when a client
// arrives; the opening of the slave device can. Without it the loop looks again every kAbsentRetry, which
// makes a new client's first command up to that much late.
void CPtyServer::WatchSlaveOpens() {
    m_openWatch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_openWatch >= 0 && inotify_add_watch(m_openWatch, m_slavePath.c_str(), IN_OPEN) < 0) {
        close(m_openWatch);
        m_openWatch = -1;
    }
}

// Reads what the watch has queued; true when someone opened the slave.
bool CPtyServer::SlaveOpenedSinceLastLook() {
    alignas(inotify_event) char events[4096];
    bool opened = false;
    ssize_t n;
    while ((n = read(m_openWatch, events, sizeof events)) > 0) {
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            opened = opened || (event->mask & IN_OPEN) != 0;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return opened;
}

void CPtyServer::ClosePty() {
    if (m_master >= 0) {
        close(m_master);
        m_master = -1;
    }
    if (m_openWatch >= 0) {
        close(m_openWatch);
        m_openWatch = -1;
    }
    m_input.clear();
    m_output.clear();
}

void CPtyServer::Announce() {
    // The file and the link first: a reader of standard output may use them as soon as the path shows.
    if (!m_options.pathFile.empty() && !WriteFileAtomically(m_options.pathFile, m_slavePath + "\n")) {
        m_log << "tessor-sim: cannot write " << m_options.pathFile << ": " << std::strerror(errno)
              << std::endl;
    }
    if (!m_options.linkPath.empty() && !ReplaceSymlink(m_options.linkPath, m_slavePath)) {
        m_log << "tessor-sim: cannot link " << m_options.linkPath << ": " << std::strerror(errno)
              << std::endl;
    }
    std::cout << m_slavePath << std::endl;
}

CPtyServer::Clock::duration CPtyServer::CharTime() const {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(m_options.charMs));
}

bool CPtyServer::Control(const std::string& command, std::string* reply) {
    std::istringstream in(command);
    std::string word;
    std::string argument;
    in >> word >> argument;
    std::ostringstream out;
    bool on = false;
    if (word.empty()) {
        reply->clear();
        return true;
    }
    const FaultCommand fault = RunFaultCommand(m_console, m_pair, command, reply);
    if (fault != FaultCommand::NotOurs) {
        return fault == FaultCommand::Done;
    }
    if (word == "silent" && ParseOnOff(argument, &on)) {
        // Characters still on their way in belong to the silent period: a board coming back has lost them.
        m_input.clear();
        m_console.SetSilent(on);
        out << "silent " << (on ? "on" : "off");
    } else if (word == "corrupt-echo") {
        m_console.CorruptNextEcho();
        out << "next echo corrupted";
    } else if (word == "noise-next") {
        const long count = argument.empty() ? 8 : std::strtol(argument.c_str(), nullptr, 10);
        if (count <= 0 || count > 4096) {
            *reply = "noise-next: count 1..4096";
            return false;
        }
        m_console.InjectNoiseBeforeNextEcho(static_cast<std::size_t>(count));
        out << "noise of " << count << " bytes before the next echo";
    } else if (word == "noise") {
        const long count = argument.empty() ? 8 : std::strtol(argument.c_str(), nullptr, 10);
        if (count <= 0 || count > 4096) {
            *reply = "noise: count 1..4096";
            return false;
        }
        m_console.InjectNoise(static_cast<std::size_t>(count));
        out << "sent " << count << " noise bytes";
    } else if (word == "delay" && !argument.empty()) {
        const long ms = std::strtol(argument.c_str(), nullptr, 10);
        m_console.SetReplyDelayMs(static_cast<int>(std::clamp(ms, 0L, 600000L)));
        out << "reply delay " << m_console.ReplyDelayMs() << " ms";
    } else if (word == "hangup") {
        m_hangupRequested = true;
        out << "hanging up";
    } else if (word == "reduced" && ParseOnOff(argument, &on)) {
        m_pair.SetReducedConstellation(on);
        out << "reduced constellation " << (on ? "on" : "off");
    } else if (word == "drift" && ParseOnOff(argument, &on)) {
        m_pair.SetDrift(on);
        out << "drift " << (on ? "on" : "off");
    } else if (word == "burst") {
        const long seconds = argument.empty() ? 30 : std::strtol(argument.c_str(), nullptr, 10);
        if (seconds <= 0 || seconds > 86400) {
            *reply = "burst: seconds 1..86400";
            return false;
        }
        m_pair.Sync();
        m_pair.StartBurst(static_cast<int>(seconds));
        out << "burst of about " << static_cast<long>(m_pair.BurstRate()) << " corrected errors/s for "
            << seconds << " s";
    } else if ((word == "bursts" || word == "drops") && !argument.empty()) {
        const double rate = std::strtod(argument.c_str(), nullptr);
        if (!(rate >= 0 && rate <= 3600)) {
            *reply = word + ": rate 0..3600 an hour";
            return false;
        }
        if (word == "bursts") {
            m_pair.SetBurstsPerHour(rate);
        } else {
            m_pair.SetDropsPerHour(rate);
        }
        out << word << " " << rate << " an hour";
    } else if (word == "cut" && ParseOnOff(argument, &on)) {
        m_pair.SetLineCut(on);
        out << "line " << (on ? "cut" : "restored");
    } else if (word == "poke") {
        std::string value;
        in >> value;
        char* endAddress = nullptr;
        char* endValue = nullptr;
        const unsigned long address = std::strtoul(argument.c_str(), &endAddress, 16);
        const unsigned long byte = std::strtoul(value.c_str(), &endValue, 16);
        if (argument.size() != 4 || *endAddress != '\0' || value.empty() || *endValue != '\0' ||
            byte > 0xFF) {
            *reply = "poke: ADDR (four hexadecimal digits) and a byte, such as poke 8D41 E5";
            return false;
        }
        m_pair.Sync();
        m_pair.WriteRegister(CSimModemPair::kLocal, static_cast<std::uint16_t>(address),
                             static_cast<std::uint8_t>(byte));
        out << "poked " << argument << " = " << value;
    } else if (word == "status") {
        m_pair.Sync();
        out << "local " << SideName(m_pair.LocalSide()) << ", line " << LineStateName(m_pair.GetLineState())
            << ", t=" << m_pair.NowMs() << " ms, slave " << m_slavePath;
    } else if (word == "help") {
        out << ControlHelp();
    } else {
        *reply = "unknown command: " + command + " (try help)";
        return false;
    }
    *reply = out.str();
    return true;
}

void CPtyServer::ReadControl(int fd, std::string* buffer, bool* open) {
    char chunk[256];
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n == 0) {
        *open = false; // standard input closed: keep serving without it
        return;
    }
    if (n < 0) {
        if (errno != EAGAIN && errno != EINTR) {
            *open = false;
        }
        return;
    }
    buffer->append(chunk, static_cast<std::size_t>(n));
    std::size_t end;
    while ((end = buffer->find('\n')) != std::string::npos) {
        std::string line = buffer->substr(0, end);
        buffer->erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::string reply;
        Control(line, &reply);
        if (!reply.empty()) {
            m_log << "tessor-sim: " << reply << std::endl;
        }
    }
}

void CPtyServer::ReceiveFromClient(Clock::time_point now) {
    char chunk[256];
    const ssize_t n = read(m_master, chunk, sizeof chunk);
    if (n <= 0) {
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            m_clientAbsent = true; // nobody has the slave open
        }
        return;
    }
    RecordWire(chunk, static_cast<std::size_t>(n));
    if (m_console.Silent()) {
        return; // a silent board drops what arrives
    }
    for (ssize_t i = 0; i < n; ++i) {
        Clock::time_point due = now;
        if (m_options.pacing) {
            m_rxFree = std::max(m_rxFree, now) + CharTime();
            due = m_rxFree;
        }
        m_input.push_back(TimedByte{due, chunk[i]});
    }
}

// The wire log gets whole lines, each written at once, so a reader never sees half a command.
void CPtyServer::RecordWire(const char* bytes, std::size_t count) {
    if (m_wireLog < 0) {
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        m_wireLine.push_back(bytes[i]);
        if (bytes[i] == '\n') {
            if (write(m_wireLog, m_wireLine.data(), m_wireLine.size()) < 0) {
                m_log << "tessor-sim: cannot write " << m_options.wireLog << ": " << std::strerror(errno)
                      << std::endl;
            }
            m_wireLine.clear();
        }
    }
}

void CPtyServer::FeedDueInput(Clock::time_point now) {
    while (!m_input.empty() && m_input.front().due <= now) {
        const auto byte = static_cast<std::uint8_t>(m_input.front().byte);
        const Clock::time_point due = m_input.front().due;
        m_input.pop_front();
        m_console.Receive(&byte, 1);
        // The board answers from the moment the byte arrived on the line, not from when this loop got to
        // it, so a late wake-up does not stretch the exchange.
        QueueOutput(due);
    }
}

void CPtyServer::QueueOutput(Clock::time_point now) {
    for (OutputChunk& chunk : m_console.TakeOutput()) {
        const Clock::time_point ready = now + std::chrono::milliseconds(chunk.delayMs);
        for (char c : chunk.bytes) {
            Clock::time_point due = ready;
            if (m_options.pacing) {
                m_txFree = std::max(m_txFree, ready) + CharTime();
                due = m_txFree;
            } else if (!m_output.empty()) {
                due = std::max(due, m_output.back().due);
            }
            m_output.push_back(TimedByte{due, c});
        }
    }
    if (m_master < 0) {
        m_output.clear(); // hung up: the board talks to nobody
    }
}

void CPtyServer::WriteDueOutput(Clock::time_point now) {
    if (m_master < 0) {
        return;
    }
    std::string due;
    for (const TimedByte& b : m_output) {
        if (b.due > now) {
            break;
        }
        due.push_back(b.byte);
    }
    if (due.empty()) {
        return;
    }
    const ssize_t n = write(m_master, due.data(), due.size());
    if (n > 0) {
        m_output.erase(m_output.begin(), m_output.begin() + n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        m_output.clear(); // no client: what the board sends is lost
    }
}

int CPtyServer::Run(const std::atomic<bool>& stop) {
    Clock::time_point absentUntil{};
    while (!stop.load()) {
        Clock::time_point now = Clock::now();
        if (m_hangupRequested) {
            m_hangupRequested = false;
            ClosePty();
            // The link goes with the slave: the system hands its number to the next pseudo-terminal
            // opened by anyone, and a client reopening through a stale link would reach that one.
            if (!m_options.linkPath.empty()) {
                unlink(m_options.linkPath.c_str());
            }
            m_log << "tessor-sim: hung up " << m_slavePath << std::endl;
            if (m_options.exitOnHangup) {
                return 0;
            }
            m_waitingToReopen = true;
            m_reopenAt = now + std::chrono::milliseconds(m_options.reopenMs);
        }
        if (m_waitingToReopen && now >= m_reopenAt) {
            std::string error;
            if (!OpenPty(&error)) {
                m_log << "tessor-sim: " << error << std::endl;
                return 1;
            }
            m_waitingToReopen = false;
            Announce();
        }
        FeedDueInput(now);
        QueueOutput(now);
        WriteDueOutput(now);

        std::vector<pollfd> fds;
        int masterIndex = -1;
        int stdinIndex = -1;
        int fifoIndex = -1;
        int watchIndex = -1;
        if (m_clientAbsent && m_openWatch < 0 && now >= absentUntil) {
            m_clientAbsent = false; // look again whether someone opened the slave
        }
        if (m_master >= 0 && !m_clientAbsent) {
            short events = POLLIN;
            if (!m_output.empty() && m_output.front().due <= now) {
                events |= POLLOUT;
            }
            masterIndex = static_cast<int>(fds.size());
            fds.push_back(pollfd{m_master, events, 0});
        }
        if (m_clientAbsent && m_openWatch >= 0) {
            watchIndex = static_cast<int>(fds.size());
            fds.push_back(pollfd{m_openWatch, POLLIN, 0});
        }
        if (m_stdinOpen) {
            stdinIndex = static_cast<int>(fds.size());
            fds.push_back(pollfd{STDIN_FILENO, POLLIN, 0});
        }
        if (m_fifo >= 0) {
            fifoIndex = static_cast<int>(fds.size());
            fds.push_back(pollfd{m_fifo, POLLIN, 0});
        }

        Clock::time_point wake = now + kIdlePoll;
        if (!m_input.empty()) {
            wake = std::min(wake, m_input.front().due);
        }
        if (!m_output.empty()) {
            wake = std::min(wake, m_output.front().due);
        }
        if (m_waitingToReopen) {
            wake = std::min(wake, m_reopenAt);
        }
        if (m_clientAbsent && m_openWatch < 0) {
            wake = std::min(wake, absentUntil);
        }
        // Wait to the nanosecond: a poll rounded up to whole milliseconds makes every paced byte late.
        const auto waitNs =
            std::max<long long>(0, std::chrono::duration_cast<std::chrono::nanoseconds>(wake - now).count());
        const timespec timeout{static_cast<time_t>(waitNs / 1000000000),
                               static_cast<long>(waitNs % 1000000000)};
        const int ready = ppoll(fds.data(), fds.size(), &timeout, nullptr);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            m_log << "tessor-sim: poll: " << std::strerror(errno) << std::endl;
            return 1;
        }
        now = Clock::now();
        if (masterIndex >= 0) {
            const short revents = fds[static_cast<std::size_t>(masterIndex)].revents;
            if (revents & POLLIN) {
                ReceiveFromClient(now);
            } else if (revents & (POLLHUP | POLLERR)) {
                m_clientAbsent = true;
            }
            if (m_clientAbsent) {
                absentUntil = now + kAbsentRetry;
            }
        }
        if (watchIndex >= 0 && fds[static_cast<std::size_t>(watchIndex)].revents != 0 &&
            SlaveOpenedSinceLastLook()) {
            m_clientAbsent = false;
        }
        if (stdinIndex >= 0 && fds[static_cast<std::size_t>(stdinIndex)].revents != 0) {
            ReadControl(STDIN_FILENO, &m_stdinBuffer, &m_stdinOpen);
        }
        if (fifoIndex >= 0 && fds[static_cast<std::size_t>(fifoIndex)].revents != 0) {
            bool open = true;
            ReadControl(m_fifo, &m_fifoBuffer, &open);
        }
    }
    return 0;
}

} // namespace tessor::sim
