#pragma once

// Test support for the windows: the simulated modem pair behind a running transport, installed as the
// process-wide port, and recorders that answer the tool's boxes and file dialogs.

#include "link/ConsolePort.h"
#include "link/RegisterAccess.h"
#include "ops/ProcessAccess.h"
#include "sim/SimSerialDevice.h"
#include "support/FakePrompt.h"
#include "support/RegResultCheck.h"
#include "ui/Boxes.h"

#include <QMessageBox>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tessor::test {

// Records every box and answers from a queue; without a queued answer it presses OK when offered,
// else the first button offered.
class BoxRecorder {
public:
    BoxRecorder() {
        ui::SetBoxHookForTesting([this](const ui::BoxRequest& r) {
            std::lock_guard<std::mutex> lock(m_mutex);
            boxes.push_back(r);
            if (!answers.empty()) {
                const auto a = answers.front();
                answers.pop_front();
                return a;
            }
            if (r.buttons & QMessageBox::Ok)
                return QMessageBox::Ok;
            for (auto b : {QMessageBox::Retry, QMessageBox::Yes, QMessageBox::Cancel, QMessageBox::No})
                if (r.buttons & b)
                    return b;
            return QMessageBox::Ok;
        });
    }
    ~BoxRecorder() { ui::SetBoxHookForTesting(nullptr); }
    std::vector<ui::BoxRequest> Boxes() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return boxes;
    }
    std::vector<ui::BoxRequest> boxes;
    std::deque<QMessageBox::StandardButton> answers;

private:
    std::mutex m_mutex;
};

// Answers file dialogs with queued names (empty: cancelled) and records the requests.
class FileDialogRecorder {
public:
    FileDialogRecorder() {
        ui::SetFileDialogHookForTesting([this](const ui::FileDialogRequest& r) {
            requests.push_back(r);
            if (names.empty())
                return QString();
            const QString n = names.front();
            names.pop_front();
            return n;
        });
    }
    ~FileDialogRecorder() { ui::SetFileDialogHookForTesting(nullptr); }
    std::vector<ui::FileDialogRequest> requests;
    std::deque<QString> names;
};

// The simulated pair behind a running transport. Time stands still unless the test advances it, the
// line trains at once, and restarts do not sleep.
// Command lines a simulator was sent since its wire log was last cleared, without their line feeds.
inline std::vector<std::string> CommandLines(const sim::CSimulator& simulator) {
    std::vector<std::string> lines;
    const std::string sent = simulator.BytesToBoard();
    std::size_t start = 0;
    for (std::size_t end; (end = sent.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(sent.substr(start, end - start));
    return lines;
}

class SimBoard {
public:
    static sim::SimConfig DefaultConfig(ModemSide side = kSideLT) {
        sim::SimConfig config;
        config.localSide = side;
        config.trainMs = 0;
        config.manualClock = true;
        return config;
    }

    explicit SimBoard(const sim::SimConfig& config = DefaultConfig()) {
        g_bStopThreads.store(0);
        g_promptLetter.store(0);
        SetRestartSleepForTesting([](int ms) { RestartSleeps().push_back(ms); });
        RestartSleeps().clear();
        simulator = std::make_shared<sim::CSimulator>(config);
        port = std::make_unique<CConsolePort>(&prompt);
        port->SetDeviceOpener([this](const std::string&, const LineSettings&, int*) {
            return sim::CSimulator::CreateDevice(simulator);
        });
        // Answered exchanges may wait long on a loaded machine; a test that expects the time-out box asks
        // for ShortWaits(). The product keeps 3500 x 5 ms.
        GenerousWaits();
        port->Open(9600, 8, 0, 0, "COM1:");
        g_pConsolePort.store(port.get());
        worker = std::thread([this] { port->ConsoleWorkerThread(); });
        // Let the line come up before the test starts.
        simulator->AdvanceTime(10);
        LocalReg(kRead, "8C71", " 1");
        simulator->ClearWireLog();
    }

    ~SimBoard() {
        port->RequestStop();
        worker.join();
        g_pConsolePort.store(nullptr);
        SetRestartSleepForTesting(nullptr);
    }

    // Command lines sent to the board since the last ClearTraffic, without their line feeds.
    std::vector<std::string> Commands() const { return CommandLines(*simulator); }
    void ClearTraffic() { simulator->ClearWireLog(); }
    // The command lines sent since the last time, the record then emptied.
    std::vector<std::string> TakeCommands() {
        std::vector<std::string> commands = Commands();
        ClearTraffic();
        return commands;
    }
    // Sets a local register without the side effects of a console write (the line is not re-evaluated).
    void PokeLocal(std::uint16_t address, std::uint8_t value) {
        simulator->WithPair(
            [&](sim::CSimModemPair& p) { p.Modem(sim::CSimModemPair::kLocal).regs[address] = value; });
    }

    // A silent board times out after 0.2 s, which keeps the silent-board tests quick.
    void ShortWaits() { port->SetPollTiming(200, std::chrono::microseconds(1000)); }
    void GenerousWaits() { port->SetPollTiming(60000, std::chrono::microseconds(1000)); }

    static std::vector<int>& RestartSleeps() {
        static std::vector<int> sleeps;
        return sleeps;
    }

    FakePrompt prompt;
    std::shared_ptr<sim::CSimulator> simulator;
    std::unique_ptr<CConsolePort> port;
    std::thread worker;
};

} // namespace tessor::test
