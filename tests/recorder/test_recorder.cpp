// The line recorder: events derived from passes and actions, the recording file, gaps and decimation.
#include "recorder/Decimate.h"
#include "recorder/LineRecorder.h"
#include "recorder/RecordingFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
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

// A register as the tests write it: negative for a read that failed.
std::optional<std::uint32_t> Reg(std::int64_t value) {
    if (value < 0)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

PhyRegisters Raw(std::int64_t status, std::int64_t flags, std::int64_t fails, std::int64_t rs = 15,
                 std::int64_t error = 2000000) {
    return PhyRegisters{Reg(error), Reg(576), Reg(rs), Reg(status), Reg(flags), Reg(fails)};
}

PhySample Phy(std::int64_t seconds, const PhyRegisters& raw, bool answered = true) {
    return MakePhySample(At(seconds), DecodePhy(raw, LineReferences{kSnrRef256, kMseRef256}), answered);
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

TEST(RecorderSamples, KeepTheDecodedPassAndNoFiguresWithoutAnAnswer) {
    const PhySample s = Phy(0, Raw(0xAE, 0x06, 3, 1234));
    EXPECT_EQ(s.values.snrCenti, 2879); // 91.80 - 63.01
    EXPECT_EQ(s.values.registers.rsCorrected, 1234u);
    EXPECT_FALSE(s.rsCentiPerSecond) << "a rate needs the sample before it";
    // A pass the board did not answer keeps the registers it read, but says nothing.
    const PhySample silent = Phy(5, Raw(0xAE, 0x06, 3, 1234), false);
    EXPECT_EQ(silent.values.registers.linkStatus, 0xAEu);
    EXPECT_FALSE(silent.values.snrCenti);
    EXPECT_FALSE(silent.values.linkFailCount);
    EXPECT_EQ(silent.values.indicatorsKnown, 0);
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
        EXPECT_FALSE(store.phy[4].values.snrCenti);
        EXPECT_TRUE(store.phy[4].afterGap);
        EXPECT_EQ(store.events[2].kind, EventKind::LinkFail);
        EXPECT_EQ(store.events[2].time.wallMs, At(10).wallMs);
    });
}

// A pass every 5 s whose every counter read the same raw count: the totals are the sums of the counts.
EthSample Eth(std::int64_t seconds, std::uint32_t count) {
    EthSample s;
    s.time = At(seconds);
    for (int i = 0; i < kCounterDefCount; ++i) {
        s.reads[static_cast<std::size_t>(i)] = count;
        s.totals[static_cast<std::size_t>(i)] = count * static_cast<std::uint64_t>(seconds / 5 + 1);
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
        eth.reads[kCounterTxFrames] = 50;
        eth.totals[kCounterTxFrames] = static_cast<std::uint64_t>(t * 10);
        recorder.AddEth(eth);
    }
    double perSecond = 0;
    bool rate = false;
    recorder.Read(
        [&](const LineStore& store) { rate = CounterRate(store, 1, kCounterTxFrames, &perSecond); });
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
    EXPECT_NE(first[0].find(",snr_db,mse_db,rs_corrected_per_second,tx_power_dbm_hz,link_fail_count,"),
              std::string::npos);
    EXPECT_NE(first[0].find(",tx_frames_read,"), std::string::npos);
    EXPECT_NE(first[0].find(",rx_octets_total,"), std::string::npos);
    EXPECT_NE(first[0].find(",tx_frames_per_second,"), std::string::npos);
    EXPECT_EQ(first[2].rfind("2026-11-30T", 0), 0u);
    // No RS rate for the first sample: the time its count covers is not known.
    EXPECT_NE(first[2].find(",phy,2000000,576,15,174,6,3,28.79,6.19,,-60,3,1,0,1,1,1,1,0,1,1,0,1,"),
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
        EXPECT_EQ(store.phy[0].values.snrCenti, 2879);
        EXPECT_EQ(store.phy[0].time.wallMs, At(0).wallMs);
        EXPECT_EQ(store.phy[1].values.registers.lineFlags, 0x80u);
        EXPECT_EQ(store.eth[1].totals[0], 8500u);
        double rate = 0;
        EXPECT_TRUE(CounterRate(store, 1, kCounterTxFrames, &rate));
        EXPECT_DOUBLE_EQ(rate, 850);
    });
    // A rate is made from the reads, whatever the totals did (the Ethernet page's Clear has no part in
    // them); a failed read leaves the time the next count covers unknown.
    CLineRecorder cleared;
    cleared.AddEth(Eth(0, 4250));
    cleared.AddEth(Eth(5, 4250));
    EthSample zeroed = Eth(10, 0);
    zeroed.totals.fill(0);
    cleared.AddEth(zeroed);
    EthSample failed = Eth(15, 10);
    failed.failedReads = 1u << kCounterRxFrames;
    cleared.AddEth(failed);
    cleared.AddEth(Eth(20, 10));
    cleared.Read([](const LineStore& store) {
        double rate = -1;
        EXPECT_TRUE(CounterRate(store, 2, kCounterRxFrames, &rate));
        EXPECT_EQ(rate, 0.0);
        EXPECT_FALSE(CounterRate(store, 3, kCounterRxFrames, &rate));
        EXPECT_TRUE(CounterRate(store, 3, kCounterTxFrames, &rate));
        EXPECT_EQ(rate, 2.0);
        EXPECT_FALSE(CounterRate(store, 4, kCounterRxFrames, &rate));
        EXPECT_TRUE(CounterRate(store, 4, kCounterTxFrames, &rate));
    });
    const std::string exported = TempPath("exported.csv");
    ASSERT_TRUE(reopened.ExportCsv(exported, &error)) << error;
    std::vector<std::string> exportedLines = Lines(exported);
    std::vector<std::string> recordedLines = second;
    // The second run's first sample had no sample before it in that run; reopened, the one of the first
    // run 10 s before it is there, and its rate is worked out from the raw count (0 errors).
    for (std::string& line : recordedLines) {
        if (line.find(",phy,0,576,0,2,128,4,,,,-60,") != std::string::npos)
            line.replace(line.find(",,,-60,"), 7, ",,0.00,-60,");
    }
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

TEST(RecorderRates, RatesAreRawCountsOverTheRealTimeBetweenTheReadsThatDelimitThem) {
    struct Row {
        std::int64_t seconds;
        std::int64_t rs; // raw count of 8C91..8C94; -1: the read failed
        bool answered;
        std::optional<std::int32_t> centi; // hand-computed rate in hundredths per second
    };
    const Row rows[] = {
        {0, 36, true, std::nullopt},   // the first: the time its count covers is not known
        {18, 36, true, 200},           // 36 over 18 s
        {23, 1, true, 20},             // 1 over 5 s
        {28, 1234, true, 24680},       // 1234 over 5 s (the page shows 246)
        {33, -1, true, std::nullopt},  // failed: no count
        {38, 10, true, std::nullopt},  // the read before failed, so the register was not cleared then
        {43, 10, true, 200},           //
        {48, 0, false, std::nullopt},  // no answer
        {53, 7, true, std::nullopt},   //
        {58, 3, true, 60},             //
        {58, 0, true, std::nullopt},   // the same millisecond as the one before: no time to count over
        {63, 5, true, 100},            //
        {400, 50, true, std::nullopt}, // after a gap
    };
    CLineRecorder recorder(10000); // samples up to 24 s apart are joined
    for (const Row& r : rows)
        recorder.AddPhy(Phy(r.seconds, Raw(0xAE, 0x06, 3, r.rs), r.answered));
    recorder.Read([&](const LineStore& store) {
        ASSERT_EQ(store.phy.size(), std::size(rows));
        for (std::size_t i = 0; i < store.phy.size(); ++i)
            EXPECT_EQ(store.phy[i].rsCentiPerSecond, rows[i].centi) << "at " << rows[i].seconds << " s";
        double value = 0;
        ASSERT_TRUE(SeriesValue(store, Series::RsPerSecond, 1, &value));
        EXPECT_EQ(value, 2.0);
    });

    // Ethernet: 36 frames read at 0 s and at 18 s: 2 per second; the totals are not consulted.
    CLineRecorder eth(10000);
    EthSample a = Eth(0, 36);
    EthSample b = Eth(0, 36);
    b.time = At(18);
    b.totals = a.totals; // even totals that did not grow give the rate of the reads
    EthSample c = b;     // recorded at the same millisecond as b
    eth.AddEth(a);
    eth.AddEth(b);
    eth.AddEth(c);
    eth.Read([](const LineStore& store) {
        double rate = 0;
        EXPECT_FALSE(CounterRate(store, 0, kCounterTxOctets, &rate));
        EXPECT_FALSE(CounterRate(store, 2, kCounterTxOctets, &rate));
        ASSERT_TRUE(CounterRate(store, 1, kCounterTxOctets, &rate));
        EXPECT_EQ(rate, 2.0);
        ASSERT_TRUE(SeriesValue(store, Series::RxFramesRate, 1, &rate));
        EXPECT_EQ(rate, 2.0);
    });

    // The recording keeps the raw counts and the rate with two decimals; a file holding the former
    // figures (the count divided by 5) opens with the rates worked out again from the raw counts.
    const std::string path = TempPath("rates.csv");
    std::remove(path.c_str());
    std::string error;
    {
        CLineRecorder writing(10000);
        ASSERT_TRUE(writing.StartRecording(path, &error)) << error;
        writing.AddPhy(Phy(0, Raw(0xAE, 0x06, 3, 36)));
        writing.AddPhy(Phy(18, Raw(0xAE, 0x06, 3, 36)));
    }
    const std::vector<std::string> lines = Lines(path);
    ASSERT_EQ(lines.size(), 5u); // header, recording started, phy, line up, phy
    EXPECT_NE(lines[4].find(",phy,2000000,576,36,174,6,3,28.79,6.19,2.00,-60,"), std::string::npos)
        << lines[4];
    std::string former;
    for (const std::string& line : lines)
        former += line + "\n";
    former.replace(former.find(",2.00,"), 6, ",7,");
    LineStore store;
    ASSERT_TRUE(ParseRecording(former, "former.csv", &store, &error)) << error;
    ASSERT_EQ(store.phy.size(), 2u);
    EXPECT_EQ(store.skippedRows, 0u);
    EXPECT_EQ(store.phy[1].rsCentiPerSecond, 200);
}

TEST(RecorderEvents, TheLinkFailCounterIsFollowedOverItsWraps) {
    struct Row {
        std::int64_t before, after;
        const char* text;
    };
    const Row rows[] = {
        {254, 2, "Link fail counter 254 -> 2 (+4)"}, {255, 0, "Link fail counter 255 -> 0 (+1)"},
        {3, 4, "Link fail counter 3 -> 4 (+1)"},     {0, 255, "Link fail counter 0 -> 255 (+255)"},
        {250, 3, "Link fail counter 250 -> 3 (+9)"},
    };
    for (const Row& r : rows) {
        CLineRecorder recorder;
        recorder.AddPhy(Phy(0, Raw(0xAE, 0x06, r.before)));
        recorder.AddPhy(Phy(5, Raw(0xAE, 0x06, r.after)));
        const std::vector<std::string> texts = Texts(recorder);
        EXPECT_EQ(std::count(texts.begin(), texts.end(), r.text), 1) << r.text;
    }
}

TEST(RecordingFile, FormerColumnNamesFewerColumnsAndAByteOrderMarkAreReadAndContinued) {
    // The header of an earlier version: former names, no rate columns.
    std::string former = RecordingHeader();
    for (const auto& [now, before] : {std::pair<std::string, std::string>{",tc_sync,", ",tc_synchronized,"},
                                      {",tx_pause_frames_total,", ",tx_pause_total,"}}) {
        former.replace(former.find(now), now.size(), before);
    }
    const std::size_t rates = former.find(",tx_frames_per_second,");
    former.erase(rates, former.find(",event,") - rates);
    const auto fieldsOf = [](const std::string& line) {
        // The journal's detail "Soft reset, local modem" is one quoted field.
        return std::count(line.begin(), line.end(), ',') -
               (line.find("\"Soft reset, local modem\"") != std::string::npos ? 1 : 0) + 1;
    };
    for (const std::string& start : {former, "\xEF\xBB\xBF" + former, "\xEF\xBB\xBF" + RecordingHeader()}) {
        SCOPED_TRACE(start.substr(0, 12));
        const std::string path = TempPath("former.csv");
        std::ofstream(path, std::ios::binary | std::ios::trunc) << start << "\n";
        std::string error;
        {
            CLineRecorder recorder;
            ASSERT_TRUE(recorder.StartRecording(path, &error)) << error;
            recorder.AddPhy(Phy(0, Raw(0xAE, 0x06, 3)));
            recorder.AddEth(Eth(0, 40));
            recorder.AddEth(Eth(5, 40));
            recorder.NoteAction(At(6), Action::SoftResetLocal, "");
        }
        const std::vector<std::string> lines = Lines(path);
        ASSERT_EQ(lines.size(), 7u);
        EXPECT_EQ(lines[0], start) << "the file keeps its own header";
        for (std::size_t i = 1; i < lines.size(); ++i)
            EXPECT_EQ(fieldsOf(lines[i]), fieldsOf(start)) << lines[i];
        CLineRecorder reopened;
        ASSERT_TRUE(reopened.Load(path, &error)) << error;
        reopened.Read([](const LineStore& store) {
            EXPECT_EQ(store.skippedRows, 0u);
            ASSERT_EQ(store.phy.size(), 1u);
            EXPECT_EQ(store.phy[0].values.snrCenti, 2879);
            EXPECT_TRUE(store.phy[0].values.indicators & 1u << kIndTcSync);
            ASSERT_EQ(store.eth.size(), 2u);
            EXPECT_EQ(store.eth[1].totals[kCounterTxFrames], 80u);
            EXPECT_EQ(store.eth[1].totals[2], 80u); // tx_pause_frames under its former name
            EXPECT_EQ(store.events.back().text, "Soft reset, local modem");
        });
        std::remove(path.c_str());
    }
}

// A file written before the rates were named "_per_second" opens, and rows appended to it put each rate
// under the column that held it, "rs_per_s" and "<counter>_per_s".
TEST(RecordingFile, RatesGoOnUnderTheirFormerColumnNames) {
    const std::string former =
        "time_utc,monotonic_ms,type,error_value_reg,tx_level_reg,rs_corrected_reg,link_status_reg,"
        "line_flags_reg,link_fail_reg,snr_db,mse_db,rs_per_s,tx_power_dbm_hz,link_fail_count,"
        "full_constellation,reduced_constellation,tc_sync,ethernet_sync,remote_sync,signal_detected,"
        "micro_interruption,agc_converged,timing_converged,adc_saturation,answered,tx_frames_read,"
        "rx_frames_read,tx_pause_frames_read,rx_pause_frames_read,tx_octets_read,rx_octets_read,"
        "rx_broadcast_frames_read,single_collisions_read,multiple_collisions_read,"
        "late_collisions_read,excessive_collisions_read,receive_errors_read,"
        "carrier_sense_errors_read,frame_too_long_errors_read,frame_check_sequence_errors_read,"
        "tx_frames_total,rx_frames_total,tx_pause_frames_total,rx_pause_frames_total,tx_octets_total,"
        "rx_octets_total,rx_broadcast_frames_total,single_collisions_total,multiple_collisions_total,"
        "late_collisions_total,excessive_collisions_total,receive_errors_total,"
        "carrier_sense_errors_total,frame_too_long_errors_total,frame_check_sequence_errors_total,"
        "tx_frames_per_s,rx_frames_per_s,tx_pause_frames_per_s,rx_pause_frames_per_s,tx_octets_per_s,"
        "rx_octets_per_s,rx_broadcast_frames_per_s,single_collisions_per_s,multiple_collisions_per_s,"
        "late_collisions_per_s,excessive_collisions_per_s,receive_errors_per_s,"
        "carrier_sense_errors_per_s,frame_too_long_errors_per_s,frame_check_sequence_errors_per_s,"
        "event,detail";
    const std::string path = TempPath("former-rates.csv");
    std::ofstream(path, std::ios::binary | std::ios::trunc) << former << "\n";
    std::string error;
    {
        CLineRecorder recorder;
        ASSERT_TRUE(recorder.StartRecording(path, &error)) << error;
        recorder.AddPhy(Phy(0, Raw(0xAE, 0x06, 3, 15)));
        recorder.AddPhy(Phy(5, Raw(0xAE, 0x06, 3, 50))); // 50 errors in 5 s
        recorder.AddEth(Eth(0, 40));
        recorder.AddEth(Eth(5, 40)); // 40 frames in 5 s
    }
    CLineRecorder reopened;
    ASSERT_TRUE(reopened.Load(path, &error)) << error;
    reopened.Read([](const LineStore& store) {
        EXPECT_EQ(store.skippedRows, 0u);
        EXPECT_EQ(store.phy.size(), 2u);
        EXPECT_EQ(store.eth.size(), 2u);
    });
    const std::vector<std::string> lines = Lines(path);
    std::remove(path.c_str());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], former);
    auto fields = [](const std::string& line) {
        std::vector<std::string> out(1);
        for (char c : line) {
            if (c == ',')
                out.emplace_back();
            else
                out.back() += c;
        }
        return out;
    };
    const std::vector<std::string> header = fields(former);
    auto at = [&header](const char* column) {
        return static_cast<std::size_t>(std::find(header.begin(), header.end(), column) - header.begin());
    };
    std::vector<std::string> phy;
    std::vector<std::string> eth;
    for (const std::string& line : lines) {
        const std::vector<std::string> f = fields(line);
        if (f.size() == header.size() && f[2] == "phy")
            phy = f;
        if (f.size() == header.size() && f[2] == "eth")
            eth = f;
    }
    ASSERT_EQ(phy.size(), header.size());
    ASSERT_EQ(eth.size(), header.size());
    EXPECT_EQ(phy[at("rs_per_s")], "10.00");
    EXPECT_EQ(eth[at("tx_frames_per_s")], "8");
    EXPECT_EQ(eth[at("frame_check_sequence_errors_per_s")], "8");
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
