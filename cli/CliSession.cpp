#include "cli/CliSession.h"

#include "link/SerialPort.h"

#include <chrono>

namespace tessor::cli {

namespace {

// The line the transport shows for an exchange whose echo did not match (" - RESET - " with the
// characters the terminal does not show blanked).
const char kGarbledLine[] = "   RESET   ";

constexpr int kPollPeriodMs = 5;

} // namespace

CliSession::CliSession(std::ostream& err, int answerTimeoutMs, int retries)
    : m_err(err), m_answerTimeoutMs(answerTimeoutMs), m_retries(retries), m_retriesLeft(retries) {}

CliSession::~CliSession() {
    if (m_console) {
        m_console->RequestStop();
        if (m_worker.joinable())
            m_worker.join();
        if (g_pConsolePort.load() == m_console.get())
            g_pConsolePort.store(nullptr);
        m_console->Close();
    }
    if (g_pTerminalSink.load() == this)
        g_pTerminalSink.store(nullptr);
}

int CliSession::Open(const ResolvedPort& port) {
    m_port = port;
    m_console = std::make_unique<CConsolePort>(this);
    const std::string device = port.device;
    m_console->SetDeviceOpener([device](const std::string&, const LineSettings& settings, int* errorCode) {
        return OpenSerialDevice(device, settings, errorCode);
    });
    const int polls = (m_answerTimeoutMs + kPollPeriodMs - 1) / kPollPeriodMs;
    m_console->SetPollTiming(polls < 1 ? 1 : polls, std::chrono::milliseconds(kPollPeriodMs));
    if (!m_console->Open(9600, 8, 0, 0, port.name.c_str())) {
        const int error = m_console->LastOpenError();
        m_console.reset();
        return error;
    }
    g_bStopThreads.store(0);
    g_pTerminalSink.store(this);
    g_pConsolePort.store(m_console.get());
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

void CliSession::QueueLine(const std::string& line, std::uint8_t) {
    if (line == kGarbledLine)
        m_garbled.store(true);
}

void CliSession::FlushLines() {
    m_localOperations.fetch_add(1);
}

} // namespace tessor::cli
