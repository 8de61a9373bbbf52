// The recording file under damage: rows cut by a full disk or a crash, hostile numbers, files that are not
// files, and exports that fail.
#include "recorder/LineRecorder.h"
#include "recorder/RecordingFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

// Its own namespace: the unity build puts this file beside test_recorder.cpp, whose helpers share names.
namespace tessor::rec::damage {
namespace {

constexpr std::int64_t kStart = 1796000000000; // 2026-11-30

SampleTime At(std::int64_t seconds) {
    return SampleTime{kStart + seconds * 1000, 500000 + seconds * 1000};
}

PhySample Phy(std::int64_t seconds) {
    const PhyRegisters raw{2000000u, 576u, 15u, 0xAEu, 0x06u, 3u};
    return MakePhySample(At(seconds), DecodePhy(raw, LineReferences{9180, 6920}), true);
}

std::string TempPath(const std::string& name) {
    return ::testing::TempDir() + "tessor-damage-" + name;
}

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void Store(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Journal entries with this text, or starting with it.
std::size_t Count(const LineStore& store, const std::string& text, bool prefix = false) {
    return static_cast<std::size_t>(
        std::count_if(store.events.begin(), store.events.end(),
                      [&](const Event& e) { return prefix ? e.text.rfind(text, 0) == 0 : e.text == text; }));
}

// Records phy samples at the given seconds (one run of the tool), each row one write.
void RecordRun(const std::string& path, std::int64_t from, int samples) {
    CLineRecorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.StartRecording(path, &error)) << error;
    for (int i = 0; i < samples; ++i)
        recorder.AddPhy(Phy(from + 5 * i));
}

// Where in the last row of a file a cut falls.
enum class Cut { InsideANumber, InsideTheTrailingCommas, RightAfterAComma };

std::size_t CutPosition(const std::string& text, Cut cut) {
    const std::size_t rowStart = text.rfind('\n', text.size() - 2) + 1;
    switch (cut) {
    case Cut::InsideANumber:
        return text.find(",28.79,", rowStart) + 3; // ",28" of the SNR
    case Cut::InsideTheTrailingCommas:
        return text.size() - 10;
    case Cut::RightAfterAComma:
        return text.find(",phy,", rowStart) + 5;
    }
    return 0;
}

TEST(RecordingResume, ARowCutAnywhereIsEndedAndNotedAndTheNextRunAppendsCleanRows) {
    for (Cut cut : {Cut::InsideANumber, Cut::InsideTheTrailingCommas, Cut::RightAfterAComma}) {
        SCOPED_TRACE(static_cast<int>(cut));
        const std::string path = TempPath("resume.csv");
        std::remove(path.c_str());
        RecordRun(path, 0, 4);
        const std::string whole = Contents(path);
        Store(path, whole.substr(0, CutPosition(whole, cut))); // the fourth sample's row cut short
        RecordRun(path, 100, 3);

        LineStore store;
        std::string error;
        ASSERT_TRUE(ReadRecording(path, &store, &error)) << error;
        // Three complete rows before the cut, three after it, the cut one skipped.
        ASSERT_EQ(store.phy.size(), 6u);
        EXPECT_EQ(store.phy[2].time.wallMs, At(10).wallMs);
        EXPECT_EQ(store.phy[3].time.wallMs, At(100).wallMs);
        EXPECT_EQ(store.skippedRows, 1u);
        EXPECT_EQ(Count(store, "Recording to " + path), 2u); // the second run's start is not lost
        // Line 7, after the header, the start, a phy row, line up and two phy rows.
        EXPECT_EQ(Count(store, "Damaged row skipped: line 7 of tessor-damage-resume.csv"), 1u);
        EXPECT_EQ(Count(store, "The row before this one was cut short", true), 1u);
        std::remove(path.c_str());
    }
}

TEST(RecordingResume, AFileCutInsideItsHeaderGetsTheRestOfIt) {
    const std::string path = TempPath("header.csv");
    Store(path, RecordingHeader().substr(0, 20));
    RecordRun(path, 0, 2);
    LineStore store;
    std::string error;
    ASSERT_TRUE(ReadRecording(path, &store, &error)) << error;
    EXPECT_EQ(store.phy.size(), 2u);
    EXPECT_EQ(store.skippedRows, 0u);
    std::remove(path.c_str());
}

TEST(RecordingRead, HostileNumbersMakeTheirRowDamagedAndNeverAValueOrAGap) {
    // A good row, then the same row with one field replaced by a number out of its range.
    std::string good;
    {
        LineStore one;
        one.phy.push_back(Phy(0));
        AppendPhyRow(one, 0, &good);
    }
    auto withField = [&](int field, const std::string& value) {
        std::string row = good;
        std::size_t start = 0;
        for (int i = 0; i < field; ++i)
            start = row.find(',', start) + 1;
        return row.replace(start, row.find(',', start) - start, value);
    };
    const std::vector<std::pair<int, std::string>> hostile{
        {9, "999999999999999999.00"}, // SNR: would wrap to 1661992860
        {9, "-21474836.48"},          // SNR: exactly the "no value" marker
        {11, "-2147483648"},          // RS errors per second: the marker
        {11, "4294967296"},           // would wrap to 0
        {6, "4294967295"},            // link status: one register
        {3, "16777216"},              // error value: three registers
        {14, "2"},                    // an indicator is 0 or 1
        {1, "9223372036854775807"},   // a monotonic time no clock gives
    };
    std::string text = RecordingHeader() + "\n" + good;
    for (const auto& [field, value] : hostile)
        text += withField(field, value);
    text += good;
    LineStore store;
    std::string error;
    ASSERT_TRUE(ParseRecording(text, "hostile.csv", &store, &error)) << error;
    EXPECT_EQ(store.phy.size(), 2u);
    EXPECT_EQ(store.skippedRows, hostile.size());
    for (std::size_t i = 0; i < store.phy.size(); ++i) {
        EXPECT_EQ(store.phy[i].values.snrCenti, 2879);
        // Worked out again from the raw counts: the same moment twice leaves no time to make it over.
        EXPECT_FALSE(store.phy[i].rsCentiPerSecond);
    }
    EXPECT_EQ(Count(store, "Damaged rows skipped: lines 3 to 10 of hostile.csv"), 1u);

    // Ethernet reads are 32 bits; monotonic times that would overflow a rate are refused.
    LineStore eth;
    eth.eth.push_back(EthSample{});
    eth.eth[0].time = At(0);
    std::string ethRow;
    AppendEthRow(eth, 0, &ethRow);
    std::string wide = ethRow;
    wide.replace(wide.find(",0,0,0,"), 2, ",4294967296");
    std::string early = ethRow;
    early.replace(early.find(",500000,"), 8, ",-9223372036854775807,");
    LineStore read;
    ASSERT_TRUE(ParseRecording(RecordingHeader() + "\n" + ethRow + wide + early, "eth.csv", &read, &error));
    EXPECT_EQ(read.eth.size(), 1u);
    EXPECT_EQ(read.skippedRows, 2u);
}

TEST(RecordingRead, ADamagedLastRowIsNamedInTheJournalWhenTheFileEnds) {
    std::string rows;
    {
        LineStore two;
        two.phy.push_back(Phy(0));
        two.phy.push_back(Phy(5));
        AppendPhyRow(two, 0, &rows);
        AppendPhyRow(two, 1, &rows);
    }
    const std::string good = RecordingHeader() + "\n" + rows;
    const std::string cut = good.substr(0, good.size() - 20); // the last row cut short, no line end
    const std::string shortRow = cut + "\n";                  // cut short, then ended
    for (const std::string& text : {cut, shortRow}) {
        LineStore store;
        std::string error;
        ASSERT_TRUE(ParseRecording(text, "last.csv", &store, &error)) << error;
        EXPECT_EQ(store.phy.size(), 1u);
        EXPECT_EQ(store.skippedRows, 1u);
        EXPECT_EQ(Count(store, "Damaged row skipped: line 3 of last.csv"), 1u);
        ASSERT_FALSE(store.events.empty());
        EXPECT_EQ(store.events.back().time.wallMs, At(0).wallMs) << "placed at the last good row";
    }
    // Damaged rows at the end after several good ones: one entry for the run.
    LineStore store;
    std::string error;
    ASSERT_TRUE(ParseRecording(good + "x\ny,z\n", "end.csv", &store, &error)) << error;
    EXPECT_EQ(Count(store, "Damaged rows skipped: lines 4 to 5 of end.csv"), 1u);
}

TEST(RecordingRead, AByteOrderMarkBeforeTheHeaderIsPassedOver) {
    std::string row;
    {
        LineStore one;
        one.phy.push_back(Phy(0));
        AppendPhyRow(one, 0, &row);
    }
    const std::string path = TempPath("bom.csv");
    Store(path, "\xEF\xBB\xBF" + RecordingHeader() + "\r\n" + row);
    LineStore store;
    std::string error;
    ASSERT_TRUE(ReadRecording(path, &store, &error)) << error;
    EXPECT_EQ(store.phy.size(), 1u);
    EXPECT_EQ(store.skippedRows, 0u);
    // Only at the very start.
    Store(path, "x\xEF\xBB\xBF" + RecordingHeader() + "\n" + row);
    EXPECT_FALSE(ReadRecording(path, &store, &error));
    std::remove(path.c_str());
}

TEST(RecordingRead, AnOverlongRowIsSkippedAndTheRestOpens) {
    LineStore one;
    one.phy.push_back(Phy(0));
    std::string row;
    AppendPhyRow(one, 0, &row);
    const std::string path = TempPath("overlong.csv");
    Store(path, RecordingHeader() + "\n" + row + std::string(1 << 20, '7') + "\n" + row);
    LineStore store;
    std::string error;
    ASSERT_TRUE(ReadRecording(path, &store, &error)) << error;
    EXPECT_EQ(store.phy.size(), 2u);
    EXPECT_EQ(store.skippedRows, 1u);
    std::remove(path.c_str());
}

#ifndef _WIN32

// Lets this process write files of at most the given size (an exceeding write writes what fits, then
// fails as a full disk does), until it goes out of scope.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        m_set = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_old); }
    bool Set() const { return m_set; }

private:
    rlimit m_old{};
    bool m_set = false;
};

off_t SizeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

TEST(RecordingFullDisk, ARowCutByAFullDiskThenSpaceFreedKeepsEveryCompleteRow) {
    const std::string path = TempPath("full.csv");
    std::remove(path.c_str());
    CLineRecorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.StartRecording(path, &error)) << error;
    recorder.AddPhy(Phy(0));
    recorder.AddPhy(Phy(5));
    {
        FileSizeLimit full(static_cast<rlim_t>(SizeOf(path) + 40)); // the next row gets 40 bytes
        if (!full.Set())
            GTEST_SKIP() << "this system does not let a process limit its file size";
        recorder.AddPhy(Phy(10));
        recorder.AddPhy(Phy(15));
    }
    EXPECT_FALSE(recorder.IsRecording());
    const std::string failure = recorder.TakeRecordingFailure();
    EXPECT_NE(failure.find(path), std::string::npos) << failure;
    EXPECT_EQ(failure.find("exported"), std::string::npos) << "the recorder itself exports nothing";
    // Space freed: recording again to the same file, as the monitor does at its next pass.
    ASSERT_TRUE(recorder.StartRecording(path, &error)) << error;
    recorder.AddPhy(Phy(20));
    recorder.StopRecording();

    LineStore store;
    ASSERT_TRUE(ReadRecording(path, &store, &error)) << error;
    ASSERT_EQ(store.phy.size(), 3u); // 0 and 5 before the full disk, 20 after it
    EXPECT_EQ(store.phy[1].time.wallMs, At(5).wallMs);
    EXPECT_EQ(store.phy[2].time.wallMs, At(20).wallMs);
    EXPECT_EQ(store.skippedRows, 1u);
    EXPECT_EQ(Count(store, "Recording to " + path), 2u);
    std::remove(path.c_str());
}

TEST(RecordingExport, AFailedExportLeavesTheOldFileAsItWas) {
    const std::string path = TempPath("export.csv");
    Store(path, "the file the user agreed to replace\n");
    CLineRecorder recorder;
    for (int i = 0; i < 200; ++i)
        recorder.AddPhy(Phy(5 * i));
    std::string error;
    {
        FileSizeLimit full(4096);
        if (!full.Set())
            GTEST_SKIP() << "this system does not let a process limit its file size";
        EXPECT_FALSE(recorder.ExportCsv(path, &error));
    }
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_EQ(Contents(path), "the file the user agreed to replace\n");
    // Nothing left behind next to it, and a later export replaces it whole.
    ASSERT_TRUE(recorder.ExportCsv(path, &error)) << error;
    LineStore store;
    ASSERT_TRUE(ReadRecording(path, &store, &error)) << error;
    EXPECT_EQ(store.phy.size(), 200u);
    const std::string dir = path.substr(0, path.rfind('/'));
    const std::string name = path.substr(dir.size() + 1);
    DIR* listing = ::opendir(dir.c_str());
    ASSERT_NE(listing, nullptr);
    while (const dirent* entry = ::readdir(listing))
        EXPECT_TRUE(std::string(entry->d_name).rfind(name, 0) != 0 || entry->d_name == name) << entry->d_name;
    ::closedir(listing);
    // Through a symbolic link the file it names is replaced, with its mode; the link stays.
    const std::string link = TempPath("export-link.csv");
    std::remove(link.c_str());
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
    ASSERT_TRUE(recorder.ExportCsv(link, &error)) << error;
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    std::remove(link.c_str());
    std::remove(path.c_str());
}

// Runs call on another thread; if it has not returned after a few seconds it waits for a pipe's other
// end: the guard opens and closes that end until it returns, so that the test fails instead of hanging.
template <typename Call> bool ReturnsWithoutBlocking(const std::string& fifo, Call call) {
    auto done = std::async(std::launch::async, call);
    if (done.wait_for(std::chrono::seconds(5)) == std::future_status::ready)
        return true;
    for (int i = 0; i < 100 && done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready;
         ++i) {
        const int fd = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
        ::close(fd);
    }
    return false;
}

TEST(RecordingNotAFile, PipesDevicesAndSocketsAreRefusedWithoutBlocking) {
    std::signal(SIGPIPE, SIG_IGN); // a write into the pipe fails rather than ending the test program
    const std::string fifo = TempPath("fifo");
    std::remove(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string socketPath = TempPath("socket");
    std::remove(socketPath.c_str());
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    CLineRecorder recorder;
    recorder.AddPhy(Phy(0));
    for (const std::string& path : {fifo, socketPath, std::string("/dev/null")}) {
        SCOPED_TRACE(path);
        std::string error;
        bool recorded = true, loaded = true, exported = true;
        EXPECT_TRUE(ReturnsWithoutBlocking(fifo, [&] { recorded = recorder.StartRecording(path, &error); }));
        EXPECT_FALSE(recorded);
        EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
        EXPECT_TRUE(ReturnsWithoutBlocking(fifo, [&] {
            CLineRecorder opened;
            loaded = opened.Load(path, &error);
        }));
        EXPECT_FALSE(loaded);
        EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
        EXPECT_TRUE(ReturnsWithoutBlocking(fifo, [&] { exported = recorder.ExportCsv(path, &error); }));
        EXPECT_FALSE(exported);
        EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    }
    struct stat st {};
    EXPECT_EQ(::stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the pipe is left as it was";
    ::close(sock);
    std::remove(socketPath.c_str());
    std::remove(fifo.c_str());
}

#endif

} // namespace
} // namespace tessor::rec::damage
