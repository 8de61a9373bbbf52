#include "cli/CliSession.h"

#include "link/SerialPort.h"

#include <chrono>

namespace tessor::cli {

namespace {

// Before the port is open nothing reaches a board.
class CClosedBus : public IRegisterBus {
public:
    RegResult Exchange(std::uint8_t, const char*, const char*) override {
        return RegResult::Fail(Outcome::DeviceFailed);
    }
};

constexpr int kPollPeriodMs = 5;

} // namespace

CliSession::CliSession(std::ostream& err, int answerTimeoutMs, int retries)
    : m_err(err), m_answerTimeoutMs(answerTimeoutMs), m_retries(retries), m_retriesLeft(retries) {}

CliSession::~CliSession() {
    if (m_console) {
        m_console->RequestStop();
        if (m_worker.joinable())
            m_worker.join();
        m_console->Close();
    }
}

void CliSession::Cancel() {
    std::lock_guard<std::mutex> lock(m_cancelMutex);
    m_cancelled = true;
    if (m_console)
        m_console->RequestStop();
}

int CliSession::Open(const ResolvedPort& port) {
    m_port = port;
    {
        std::lock_guard<std::mutex> lock(m_cancelMutex);
        m_console = std::make_unique<CConsolePort>(this);
        if (m_cancelled)
            m_console->RequestStop();
    }
    const std::string device = port.device;
    m_console->SetDeviceOpener([device](const std::string&, const LineSettings& settings, int* errorCode) {
        return OpenSerialDevice(device, settings, errorCode);
    });
    const int polls = (m_answerTimeoutMs + kPollPeriodMs - 1) / kPollPeriodMs;
    m_console->SetPollTiming(polls < 1 ? 1 : polls, std::chrono::milliseconds(kPollPeriodMs));
    if (!m_console->Open(9600, 8, 0, 0, port.name.c_str())) {
        const int error = m_console->LastOpenError();
        std::lock_guard<std::mutex> lock(m_cancelMutex);
        m_console.reset();
        return error;
    }
    CConsolePort* console = m_console.get();
    m_worker = std::thread([console] { console->ConsoleWorkerThread(); });
    return 0;
}

bool CliSession::NoComm() const {
    return !m_console || m_console->NoComm();
}

void CliSession::ShowProblem(const std::string& text) {
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == ' '))
        line.pop_back();
    m_err << "tessor-cli: " << m_port.name << " (" << m_port.device << "): " << line << std::endl;
}

IUserPrompt::Answer CliSession::AskHardwareNotResponding(const std::string&) {
    if (m_retriesLeft.load() <= 0)
        return Answer::Cancel;
    const int left = m_retriesLeft.fetch_sub(1) - 1;
    m_err << "tessor-cli: no answer from the board on " << m_port.device << " within " << m_answerTimeoutMs
          << " ms; waiting again (" << (m_retries - left) << " of " << m_retries << ")" << std::endl;
    return Answer::Retry;
}

IRegisterBus& CliSession::Bus() {
    static CClosedBus closed;
    if (!m_console)
        return closed;
    return *m_console;
}

} // namespace tessor::cli
