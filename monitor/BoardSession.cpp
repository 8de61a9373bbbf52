#include "monitor/BoardSession.h"

#include "link/SerialPort.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace tessor::monitor {

namespace {

using State = CBoardSession::State;

// The monitor answers the transport's questions itself: nobody is there to press a button.
class CMonitorPrompt : public IUserPrompt {
public:
    explicit CMonitorPrompt(std::shared_ptr<State> state) : m_state(std::move(state)) {}

    void ShowProblem(const std::string& text) override {
        std::string line = text;
        while (!line.empty() && (line.back() == '\n' || line.back() == ' '))
            line.pop_back();
        if (m_state->log)
            m_state->log(line);
    }

    // A silent board is not waited for: the command is cancelled and the board marked down.
    Answer AskHardwareNotResponding(const std::string&) override {
        if (!m_state->deviceLost.load() && !m_state->interrupted.load()) {
            m_state->timedOut.store(true);
            m_state->timeOuts.fetch_add(1);
        }
        return Answer::Cancel;
    }

private:
    std::shared_ptr<State> m_state;
};

// Notes when the device fails or hangs up, before the transport sees the failure.
class CWatchedDevice : public SerialDevice {
public:
    CWatchedDevice(std::unique_ptr<SerialDevice> device, std::shared_ptr<State> state)
        : m_device(std::move(device)), m_state(std::move(state)) {}

    IoResult Write(const std::uint8_t* data, std::size_t len) override {
        return Note(m_device->Write(data, len));
    }
    IoResult Read(std::uint8_t* data, std::size_t len) override { return Note(m_device->Read(data, len)); }
    bool Purge() override { return m_device->Purge(); }
    void Interrupt() override { m_device->Interrupt(); }

private:
    IoResult Note(const IoResult& r) {
        if ((r.status == IoResult::HungUp || r.status == IoResult::Error) &&
            !m_state->deviceLost.exchange(true)) {
            if (m_state->onLost)
                m_state->onLost();
        }
        return r;
    }

    std::unique_ptr<SerialDevice> m_device;
    std::shared_ptr<State> m_state;
};

std::string ResolvePath(const std::string& device) {
    char buffer[PATH_MAX];
    if (realpath(device.c_str(), buffer))
        return buffer;
    return device;
}

} // namespace

std::unique_ptr<CBoardSession> CBoardSession::Open(const std::string& device,
                                                   std::chrono::milliseconds answerTimeout, Log log,
                                                   std::string* error,
                                                   const CConsolePort::DeviceOpener& opener) {
    std::unique_ptr<CBoardSession> s(new CBoardSession());
    s->m_state = std::make_shared<State>();
    s->m_state->log = [device, log](const std::string& text) {
        if (log)
            log(device + ": " + text);
    };
    s->m_resolved = ResolvePath(device);
    s->m_prompt = std::make_unique<CMonitorPrompt>(s->m_state);
    s->m_port = std::make_unique<CConsolePort>(s->m_prompt.get());

    const auto polls = answerTimeout / CConsolePort::kDefaultPollPeriod;
    s->m_port->SetPollTiming(polls > 0 ? static_cast<int>(polls) : 1, CConsolePort::kDefaultPollPeriod);
    // The device is opened once per connection: a lost one is reopened by the monitor, by name.
    std::shared_ptr<State> state = s->m_state;
    s->m_port->SetDeviceOpener([state, opener](const std::string& path, const LineSettings& settings,
                                               int* errorCode) -> std::unique_ptr<SerialDevice> {
        std::unique_ptr<SerialDevice> raw =
            opener ? opener(path, settings, errorCode) : OpenSerialDevice(path, settings, errorCode);
        if (!raw)
            return nullptr;
        return std::make_unique<CWatchedDevice>(std::move(raw), state);
    });
    if (!s->m_port->Open(9600, 8, 0, 0, s->m_resolved.c_str())) {
        const int err = s->m_port->LastOpenError();
        if (error)
            *error = SystemErrorMessage(err);
        return nullptr;
    }
    s->m_port->SetDeviceOpener([](const std::string&, const LineSettings&, int* errorCode) {
        *errorCode = ENODEV;
        return std::unique_ptr<SerialDevice>();
    });
    CConsolePort* port = s->m_port.get();
    s->m_state->onLost = [port] { port->RequestStop(); };
    s->m_worker = std::thread([port] { port->ConsoleWorkerThread(); });
    return s;
}

CBoardSession::~CBoardSession() {
    m_state->interrupted.store(true);
    m_port->RequestStop();
    if (m_worker.joinable())
        m_worker.join();
    m_port->Close();
}

void CBoardSession::Interrupt() {
    m_state->interrupted.store(true);
    m_port->RequestStop();
}

RegResult CBoardSession::Exchange(std::uint8_t op, const char* address, const char* value) {
    const RegResult result = m_port->Exchange(op, address, value);
    if (result.outcome == Outcome::Garbled)
        m_state->corrupted.fetch_add(1);
    return result;
}

bool CBoardSession::ConnectionBroken() const {
    return m_state->timedOut.load() || m_state->deviceLost.load() || m_state->interrupted.load() ||
           m_port->NoComm();
}

} // namespace tessor::monitor
