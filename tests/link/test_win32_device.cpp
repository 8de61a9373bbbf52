#include "LinkFixture.h"
#include "link/PortDiscovery.h"
#include "link/Win32SerialDevice.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace tessor::test {
namespace {

// A COM port with the simulator behind it, named by TESSOR_TEST_COM (scripts/test-windows.sh maps one
// to a pseudo-terminal served by tessor-sim). Empty when the run has none.
std::string SimulatorPort() {
    const char* port = std::getenv("TESSOR_TEST_COM");
    return port ? port : "";
}

TEST(Win32SerialDevice, ControlBlockIsNineSixHundredEightNoneOneWithDtrAndRtsAsserted) {
    const ControlBlockFields f = ControlBlockFor(LineSettings{9600, 8, 0, 0});
    EXPECT_EQ(f.baudRate, 9600u);
    EXPECT_TRUE(f.binary);
    EXPECT_TRUE(f.parityCheck);
    EXPECT_FALSE(f.ctsFlow);
    EXPECT_FALSE(f.dsrFlow);
    EXPECT_EQ(f.dtrControl, 1u);
    EXPECT_FALSE(f.dsrSensitivity);
    EXPECT_TRUE(f.txContinueOnXoff);
    EXPECT_FALSE(f.xonXoffOut);
    EXPECT_FALSE(f.xonXoffIn);
    EXPECT_FALSE(f.errorReplace);
    EXPECT_FALSE(f.stripNull);
    EXPECT_EQ(f.rtsControl, 1u);
    EXPECT_FALSE(f.abortOnError);
    EXPECT_EQ(f.byteSize, 8);
    EXPECT_EQ(f.parity, 0);
    EXPECT_EQ(f.stopBits, 0);
}

TEST(Win32SerialDevice, ComNamesNeedNoMappingButMayBeRedirected) {
    _putenv_s("TESSOR_COM2", "");
    EXPECT_EQ(ResolveComName("COM1:", nullptr), "COM1");
    EXPECT_EQ(Win32DevicePath(ResolveComName("COM1:", nullptr)), "\\\\.\\COM1");
    EXPECT_EQ(Win32DevicePath("COM12"), "\\\\.\\COM12");
    EXPECT_EQ(Win32DevicePath("\\\\.\\COM7"), "\\\\.\\COM7");
    auto lookup = [](int n) { return n == 2 ? std::string("COM7") : std::string(); };
    EXPECT_EQ(ResolveComName("COM2:", lookup), "COM7");
    _putenv_s("TESSOR_COM2", "COM9");
    EXPECT_EQ(ResolveComName("COM2:", lookup), "COM9");
    _putenv_s("TESSOR_COM2", "");
    EXPECT_EQ(ResolveComName("COMX:", nullptr), "COMX");
}

TEST(Win32SerialDevice, ErrorsCarryTheSystemNumberAndMessage) {
    int err = 0;
    EXPECT_FALSE(Win32SerialDevice::Open("COM231:", LineSettings{}, &err));
    EXPECT_EQ(ClassifyOpenError(err), OpenFailure::Missing) << err;
    const std::string text = SystemErrorText(2);
    EXPECT_EQ(text.rfind("2 (", 0), 0u) << text;
    EXPECT_GT(text.size(), 10u) << text;
    EXPECT_EQ(text.find_first_of(".\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.back(), ')');
    EXPECT_EQ(ClassifyOpenError(5), OpenFailure::Busy); // the port is open in another program
}

TEST(Win32SerialDevice, InterruptibleAndTalksToTheBoard) {
    const std::string com = SimulatorPort();
    if (com.empty())
        GTEST_SKIP() << "TESSOR_TEST_COM names no COM port with the simulator behind it";
    // The port is found among the system's COM ports; a name the system does not have is missing.
    const std::vector<SerialPortInfo> ports = DiscoverSerialPorts();
    EXPECT_EQ(CheckDevice(com + ":", ports).state, DeviceCheck::State::Ready) << FormatPortList(ports);
    EXPECT_EQ(CheckDevice("COM231", ports).state, DeviceCheck::State::Missing);

    int err = 0;
    auto device = Win32SerialDevice::Open(com, LineSettings{}, &err);
    ASSERT_TRUE(device) << com << ": " << SystemErrorText(err);

    // The board speaks only when spoken to: this read waits until Interrupt() ends it.
    std::atomic<int> status{-1};
    std::thread reader([&] {
        std::uint8_t b = 0;
        status = device->Read(&b, 1).status;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(status.load(), -1);
    const auto interrupted = std::chrono::steady_clock::now();
    device->Interrupt();
    reader.join();
    EXPECT_EQ(status.load(), IoResult::Interrupted);
    // Promptly: shutdown gives the threads a few seconds in all.
    EXPECT_LT(std::chrono::steady_clock::now() - interrupted, std::chrono::milliseconds(1000));
    // A read begun after the interrupt does not wait at all.
    std::uint8_t b = 0;
    EXPECT_EQ(device->Read(&b, 1).status, IoResult::Interrupted);
    device.reset();

    // The transport through the default opener: the COM name as the program passes it.
    FakePrompt prompt;
    CConsolePort port(&prompt);
    ASSERT_EQ(port.Open(9600, 8, 0, 0, (com + ":").c_str()), 1) << SystemErrorText(port.LastOpenError());
    std::thread worker([&port] { port.ConsoleWorkerThread(); });
    EXPECT_EQ(port.Exchange(kRead, "8C70", " 1"), Answered(0x00)); // the simulator's LT side
    EXPECT_EQ(port.Exchange(kWrite, "8C12", "66"), Answered(1));
    EXPECT_EQ(port.Exchange(kRead, "8C12", " 1"), Answered(0x66));
    port.RequestStop();
    worker.join();
    EXPECT_TRUE(prompt.Problems().empty());
}

} // namespace
} // namespace tessor::test
