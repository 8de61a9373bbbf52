// The line recorder: events derived from passes and actions, the recording file, gaps and decimation.
#include "recorder/Decimate.h"
#include "recorder/LineRecorder.h"
#include "recorder/RecordingFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#endif

namespace tessor::rec {
namespace {

constexpr std::int64_t kStart = 1796000000000; // 2026-11-30
constexpr std::int32_t kSnrRef256 = 9180;
constexpr std::int32_t kMseRef256 = 6920;

SampleTime At(std::int64_t seconds) {
    return SampleTime{kStart + seconds * 1000, 500000 + seconds * 1000};
}

PhyRaw Raw(std::int64_t status, std::int64_t flags, std::int64_t fails, std::int64_t rs = 15,
           std::int64_t error = 2000000) {
    return PhyRaw{error, 576, rs, status, flags, fails};
}

PhySample Phy(std::int64_t seconds, const PhyRaw& raw, bool answered = true) {
    return MakePhySample(At(seconds), raw, kSnrRef256, kMseRef256, answered);
}

std::vector<std::string> Texts(const CLineRecorder& recorder) {
    std::vector<std::string> texts;
    recorder.Read([&](const LineStore& store) {
        for (const Event& e : store.events)
            texts.push_back(e.text);
    });
    return texts;
}

std::string TempPath(const char* name) {
    return ::testing::TempDir() + name;
}

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(RecorderSamples, ComputesWhatThePhyPageShows) {
    const PhySample s = Phy(0, Raw(0xAE, 0x06, 3, 1234));
    EXPECT_EQ(s.snrCenti, 2879); // 91.80 - 63.01
    EXPECT_EQ(s.mseCenti, 619);
    EXPECT_EQ(s.rsPerSecond, 246);
    EXPECT_EQ(s.txPowerDb, -60);
    EXPECT_EQ(s.linkFailCount, 3);
    EXPECT_EQ(s.indicatorsKnown, 0x3FF);
    EXPECT_TRUE(s.indicators & 1u << kIndFullConstellation);
    EXPECT_FALSE(s.indicators & 1u << kIndReducedConstellation);
    // No measurement while the line is down; failed reads leave their values out.
    const PhySample down = Phy(5, PhyRaw{0, 576, -1, 0x02, -1, 3});
    EXPECT_EQ(down.snrCenti, kNoValue);
    EXPECT_EQ(down.rsPerSecond, kNoValue);
    EXPECT_EQ(down.indicatorsKnown, 0x03F);
}

TEST(RecorderEvents, LineDownAndUpCounterIncreaseIndicatorsAndNoAnswer) {
    CLineRecorder recorder;
    recorder.AddPhy(Phy(0, Raw(0xAE, 0x06, 3)));
    recorder.AddPhy(Phy(5, Raw(0xAE, 0x06, 3)));        // nothing changed
    recorder.AddPhy(Phy(10, Raw(0x02, 0x84, 4, 0, 0))); // dropped: latched micro interruption
    recorder.AddPhy(Phy(15, Raw(0xEE, 0x07, 4)));       // up again, ADC saturation
    recorder.NoteNoAnswer(At(17));
    recorder.NoteAnswer(At(18), true);
    recorder.NoteNoAnswer(At(19)); // still the same silence
    recorder.NoteAnswer(At(20), false);
    recorder.AddPhy(Phy(25, Raw(0, 0, 0), false));
    recorder.AddPhy(Phy(30, Raw(0xEE, 0x06, 4)));
    recorder.NoteAction(At(31), Action::WriteAndUpdate, "preset 2, speed automatic");
    recorder.NoteAction(At(32), Action::ConfigurationLoaded, "line.LT");

    const std::vector<std::string> expected{
        "Line up (full constellation)",
        "No DSL connection: line down",
        "Link fail counter 3 -> 4 (+1)",
        "Micro interruption occurred",
        "Full Constellation Link: off",
        "TC Synchronized: off",
        "Ethernet Encapsulation Sync: off",
        "Remote I/F Synchronized: off",
        "Timing Converged: off",
        "Line up (full constellation)",
        "ADC saturation",
        "Full Constellation Link: on",
        "Reduced Constellation Link: on",
        "TC Synchronized: on",
        "Ethernet Encapsulation Sync: on",
        "Remote I/F Synchronized: on",
        "Timing Converged: on",
        "ADC Saturation: on",
        "Board not answering: Hardware does not respond",
        "RETRY",
        "CANCEL",
        "Board answering again",
        "ADC Saturation: off",
        "Write & Update: preset 2, speed automatic",
        "Configuration loaded: line.LT",
    };
    EXPECT_EQ(Texts(recorder), expected);
    recorder.Read([](const LineStore& store) {
        // The pass without an answer is kept as a gap, and the one after it starts a new line.
        ASSERT_EQ(store.phy.size(), 6u);
        EXPECT_FALSE(store.phy[4].answered);
        EXPECT_EQ(store.phy[4].snrCenti, kNoValue);
        EXPECT_TRUE(store.phy[4].afterGap);
        EXPECT_EQ(store.events[2].kind, EventKind::LinkFail);
        EXPECT_EQ(store.events[2].time.wallMs, At(10).wallMs);
    });
}

EthSample Eth(std::int64_t seconds, std::uint64_t frames) {
    EthSample s;
    s.time = At(seconds);
    for (int i = 0; i < kCounterCount; ++i) {
        s.reads[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(frames * 5);
        s.totals[static_cast<std::size_t>(i)] = frames * static_cast<std::uint64_t>(seconds / 5);
    }
    return s;
}

TEST(RecorderEvents, SpoiltReadsAreGapsAndAnAnsweredSampleOfEitherKindClosesANoAnswerGap) {
    CLineRecorder recorder;
    recorder.AddPhy(Phy(0, Raw(0xAE, 0x06, 3)));
    recorder.AddPhy(Phy(5, Raw(-1, -1, -1))); // every status read garbled: a sample with gaps
    recorder.AddPhy(Phy(10, Raw(0xAE, 0x06, 3)));
    recorder.AddPhy(Phy(15, Raw(-1, 0x06, 3)));
    recorder.AddPhy(Phy(20, Raw(0xAE, 0x06, 3)));
    EXPECT_EQ(Texts(recorder), std::vector<std::string>{"Line up (full constellation)"});

    recorder.NoteNoAnswer(At(22));
    for (std::int64_t t : {25, 30}) {
        EthSample eth;
        eth.time = At(t);
        eth.totals[kTxFrames] = static_cast<std::uint64_t>(t * 10);
        recorder.AddEth(eth);
    }
    double perSecond = 0;
    bool rate = false;
    recorder.Read([&](const LineStore& store) { rate = CounterRate(store, 1, kTxFrames, &perSecond); });
    EXPECT_TRUE(rate) << "no PHY sample came, yet the gap is closed";
    EXPECT_DOUBLE_EQ(perSecond, 10.0);
}

TEST(RecordingFile, ColumnsAppendingReopeningAsRecorded) {
    const std::string path = TempPath("recording.csv");
    std::remove(path.c_str());
    std::string error;
    {
        CLineRecorder recorder;
        ASSERT_TRUE(recorder.StartRecording(path, &error)) << error;
        recorder.AddPhy(Phy(0, Raw(0xAE, 0x06, 3)));
        recorder.AddEth(Eth(0, 4250));
        recorder.AddEth(Eth(5, 4250));
        recorder.NoteAction(At(6), Action::SoftResetLocal, "");
    }
    const std::vector<std::string> first = Lines(path);
    ASSERT_EQ(first.size(), 7u); // header, recording started, line up, phy, 2 eth, action
    EXPECT_EQ(first[0], RecordingHeader());
    EXPECT_EQ(first[0].rfind("time_utc,monotonic_ms,type,", 0), 0u);
    EXPECT_NE(first[0].find(",snr_db,mse_db,rs_per_s,tx_power_dbm_hz,link_fail_count,"), std::string::npos);
    EXPECT_NE(first[0].find(",tx_frames_read,"), std::string::npos);
    EXPECT_NE(first[0].find(",rx_octets_total,"), std::string::npos);
    EXPECT_NE(first[0].find(",tx_frames_per_s,"), std::string::npos);
    EXPECT_EQ(first[2].rfind("2026-11-30T", 0), 0u);
    EXPECT_NE(first[2].find(",phy,2000000,576,15,174,6,3,28.79,6.19,3,-60,3,1,0,1,1,1,1,0,1,1,0,1,"),
              std::string::npos)
        << first[2];
    // The second Ethernet pass has a rate: 4250 frames in 5 s.
    EXPECT_NE(first[5].find(",850,"), std::string::npos) << first[5];
    EXPECT_NE(first[6].find(",action,\"Soft reset, local modem\""), std::string::npos) << first[6];

    // A second run appends to the same file without another header.
    {
        CLineRecorder recorder;
        ASSERT_TRUE(recorder.StartRecording(path, &error)) << error;
        recorder.AddPhy(Phy(10, Raw(0x02, 0x80, 4, 0, 0)));
    }
    const std::vector<std::string> second = Lines(path);
    ASSERT_GT(second.size(), first.size());
    EXPECT_EQ(std::vector<std::string>(second.begin(), second.begin() + 7), first);
    EXPECT_EQ(std::count(second.begin(), second.end(), RecordingHeader()), 1);

    // Reopened, it holds what was recorded, and exported again it has the same rows (in time order).
    CLineRecorder reopened;
    ASSERT_TRUE(reopened.Load(path, &error)) << error;
    reopened.Read([](const LineStore& store) {
        ASSERT_EQ(store.phy.size(), 2u);
        ASSERT_EQ(store.eth.size(), 2u);
        EXPECT_EQ(store.phy[0].snrCenti, 2879);
        EXPECT_EQ(store.phy[0].time.wallMs, At(0).wallMs);
        EXPECT_EQ(store.phy[1].raw.lineFlags, 0x80);
        EXPECT_EQ(store.eth[1].totals[0], 4250u);
        double rate = 0;
        EXPECT_TRUE(CounterRate(store, 1, kTxFrames, &rate));
        EXPECT_DOUBLE_EQ(rate, 850);
    });
    // Totals that went down (Clear on the Ethernet page) give no rate rather than a negative one.
    CLineRecorder cleared;
    cleared.AddEth(Eth(0, 4250));
    cleared.AddEth(Eth(5, 4250));
    EthSample zeroed = Eth(10, 0);
    cleared.AddEth(zeroed);
    cleared.Read([](const LineStore& store) {
        double rate = 0;
        EXPECT_TRUE(CounterRate(store, 1, kRxFrames, &rate));
        EXPECT_FALSE(CounterRate(store, 2, kRxFrames, &rate));
    });
    const std::string exported = TempPath("exported.csv");
    ASSERT_TRUE(reopened.ExportCsv(exported, &error)) << error;
    std::vector<std::string> exportedLines = Lines(exported);
    std::vector<std::string> recordedLines = second;
    EXPECT_EQ(exportedLines[0], RecordingHeader());
    std::sort(exportedLines.begin(), exportedLines.end());
    std::sort(recordedLines.begin(), recordedLines.end());
    EXPECT_EQ(exportedLines, recordedLines);

    // A last row cut short (a crash while writing) is dropped; the rest opens.
    std::ofstream(path, std::ios::app) << "2026-11-30T00:53:35.000Z,515000,phy,2000";
    CLineRecorder afterCrash;
    ASSERT_TRUE(afterCrash.Load(path, &error)) << error;
    afterCrash.Read([](const LineStore& store) { EXPECT_EQ(store.phy.size(), 2u); });

    // Something that is not a recording is neither appended to nor read.
    const std::string other = TempPath("other.txt");
    std::ofstream(other) << "hello\n";
    CLineRecorder refused;
    EXPECT_FALSE(refused.StartRecording(other, &error));
    EXPECT_NE(error.find(other), std::string::npos);
    EXPECT_FALSE(refused.Load(other, &error));
    EXPECT_EQ(Lines(other), std::vector<std::string>{"hello"});
}

TEST(RecordingFile, AWriteFailureStopsRecordingAndLosesNothingInMemory) {
#ifdef _WIN32
    GTEST_SKIP() << "/dev/full is not available on this system";
#else
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (full < 0)
        GTEST_SKIP() << "/dev/full is not available on this system";
    CLineRecorder recorder;
    recorder.AddPhy(Phy(0, Raw(0xAE, 0x06, 3)));
    recorder.StartRecording(CRecordingWriter::Attach(full, "/dev/full"));
    recorder.AddPhy(Phy(5, Raw(0xAE, 0x06, 3)));
    EXPECT_FALSE(recorder.IsRecording());
    const std::string failure = recorder.TakeRecordingFailure();
    EXPECT_NE(failure.find("Writing /dev/full failed"), std::string::npos) << failure;
    EXPECT_NE(failure.find("Recording to the file has stopped."), std::string::npos);
    EXPECT_TRUE(recorder.TakeRecordingFailure().empty()); // told once
    recorder.Read([](const LineStore& store) {
        EXPECT_EQ(store.phy.size(), 2u);
        EXPECT_EQ(store.events.back().kind, EventKind::Recording);
    });
#endif
}

// The column a moment falls into.
std::size_t ColumnOf(const Reduced& r, std::int64_t wallMs) {
    return static_cast<std::size_t>((wallMs - r.fromMs) * static_cast<std::int64_t>(r.columns.size()) /
                                    (r.toMs - r.fromMs));
}

TEST(Decimation, ASingleSpikeInAWeekSurvivesAndGapsStayGaps) {
    CLineRecorder recorder;
    const std::int64_t week = 7 * 24 * 3600;
    const std::int64_t spikeAt = 3 * 24 * 3600 + 1235;
    for (std::int64_t s = 0; s < week; s += 5) {
        if (s >= 100000 && s < 100600)
            continue; // ten minutes without samples
        recorder.AddPhy(Phy(s, Raw(0xAE, 0x06, 3, s == spikeAt - spikeAt % 5 ? 50000 : 15)));
    }
    recorder.Read([&](const LineStore& store) {
        const Reduced rs = Decimate(store, Series::RsPerSecond, At(0).wallMs, At(week).wallMs, 800);
        ASSERT_EQ(rs.columns.size(), 800u);
        EXPECT_EQ(Runs(rs).size(), 2u);
        double low = 0, high = 0;
        ASSERT_TRUE(rs.Extremes(&low, &high));
        EXPECT_EQ(high, 10000);
        EXPECT_EQ(low, 3);
        EXPECT_EQ(rs.columns[ColumnOf(rs, At(spikeAt).wallMs)].max, 10000);
        // The line breaks at the first sample after the hole, and nowhere else.
        const Column& resumed = rs.columns[ColumnOf(rs, At(100600).wallMs)];
        EXPECT_TRUE(resumed.any);
        EXPECT_FALSE(resumed.joined);
        EXPECT_TRUE(rs.columns[0].any && !rs.columns[0].joined);
        // Zoomed in, every sample is its own column.
        const Reduced close = Decimate(store, Series::Snr, At(0).wallMs, At(60).wallMs, 800);
        EXPECT_EQ(Runs(close).size(), 1u);
        EXPECT_EQ(
            std::count_if(close.columns.begin(), close.columns.end(), [](const Column& c) { return c.any; }),
            13);                      // 0 s to 60 s
        EXPECT_TRUE(close.after.any); // and the line runs on to the one after
        EXPECT_EQ(close.after.wallMs, At(65).wallMs);
    });

    // A pass without a measurement (line down) breaks the SNR line but not the link fail line.
    CLineRecorder down;
    down.AddPhy(Phy(0, Raw(0xAE, 0x06, 3)));
    down.AddPhy(Phy(5, Raw(0x02, 0x80, 4, 0, 0)));
    down.AddPhy(Phy(10, Raw(0xAE, 0x06, 4)));
    down.Read([](const LineStore& store) {
        EXPECT_EQ(Runs(Decimate(store, Series::Snr, At(0).wallMs, At(10).wallMs, 100)).size(), 2u);
        EXPECT_EQ(Runs(Decimate(store, Series::LinkFail, At(0).wallMs, At(10).wallMs, 100)).size(), 1u);
    });
}

} // namespace
} // namespace tessor::rec
