// The OpenMetrics text of a recording: what each row gives, what is left out, and how it is typed.
#include "cli/OpenMetricsExport.h"
#include "recorder/RecordingFile.h"
#ifndef _WIN32
#include "monitor/Snapshot.h"
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace tessor::cli {
namespace {

using rec::EthSample;
using rec::LineStore;
using rec::PhySample;
using rec::SampleTime;

constexpr std::int64_t kStart = 1796000000000; // 2026-11-30

SampleTime At(std::int64_t seconds, std::int64_t monoSeconds) {
    return SampleTime{kStart + seconds * 1000, 500000 + monoSeconds * 1000};
}

// A register's value; -1 for a read that failed.
std::optional<std::uint32_t> Register(std::int64_t value) {
    return value < 0 ? std::nullopt : std::optional<std::uint32_t>(static_cast<std::uint32_t>(value));
}

// An answered pass; error value 2000000 over the QAM 256 references is 28.79 dB SNR and 6.19 dB MSE.
PhySample Phy(std::int64_t seconds, std::int64_t errorValue, std::int64_t rs, std::int64_t status,
              std::int64_t linkFail, std::int64_t monoSeconds = -1) {
    return rec::MakePhySample(At(seconds, monoSeconds < 0 ? seconds : monoSeconds),
                              DecodePhy(PhyRegisters{Register(errorValue), 576, Register(rs),
                                                     Register(status), 0x06, Register(linkFail)},
                                        LineReferences{9180, 6920}),
                              true);
}

PhySample Unanswered(std::int64_t seconds) {
    return rec::MakePhySample(At(seconds, seconds), DecodePhy(PhyRegisters{}, LineReferences{9180, 6920}),
                              false);
}

EthSample Eth(std::int64_t seconds, bool answered) {
    EthSample s;
    s.time = At(seconds, seconds);
    s.totals[kCounterTxFrames] = 100;
    s.totals[kCounterRxFrames] = 90;
    s.failedReads = 1u << kCounterRxFrames;
    s.answered = answered;
    return s;
}

// The recording file's text of these rows, the row at damaged (an index into phy) made unreadable.
std::string Recording(const LineStore& store, std::size_t damaged) {
    std::string text = rec::RecordingHeader() + "\n";
    for (std::size_t i = 0; i < store.phy.size(); ++i) {
        std::string row;
        rec::AppendPhyRow(store, i, &row);
        if (i == damaged)
            row.replace(row.find(",28.79,"), 7, ",28.7x,");
        text += row;
    }
    for (std::size_t i = 0; i < store.eth.size(); ++i)
        rec::AppendEthRow(store, i, &text);
    return text;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class ExportText : public ::testing::Test {
protected:
    void SetUp() override {
        LineStore made;
        made.phy.push_back(Phy(0, 2000000, 15, 0xAE, 254));
        made.phy.push_back(Phy(5, 2000000, 3, 0xAE, 254)); // damaged in the file
        made.phy.push_back(Phy(10, 0, -1, 0xAE, 2));       // no SNR, RS read lost, counter wrapped
        made.phy.push_back(Unanswered(15));
        made.phy.push_back(Phy(20, 2000000, 7, 0x00, 2));
        made.phy.push_back(Phy(12, 2000000, 1, 0xAE, 2, 25)); // the wall clock was set back
        made.eth.push_back(Eth(0, true));
        made.eth.push_back(Eth(5, false));
        LineStore read;
        std::string error;
        ASSERT_TRUE(rec::ParseRecording(Recording(made, 1), "site.csv", &read, &error)) << error;
        ASSERT_EQ(read.skippedRows, 1u);
        WriteOpenMetrics(read, "Depot \"N\"\\7\nB", [this](const std::string& piece) { text += piece; });
        lines = Lines(text);
    }

    // The samples of one series: "value@seconds" in the order written.
    std::vector<std::string> Series(const std::string& prefix) const {
        std::vector<std::string> samples;
        for (const std::string& line : lines) {
            if (line.rfind(prefix + "{" + kSite, 0) != 0)
                continue;
            std::istringstream words(line.substr(line.find("} ") + 2));
            std::string value, time;
            words >> value >> time;
            samples.push_back(value + "@" + time);
        }
        return samples;
    }

    bool Has(const std::string& line) const {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    const std::string kSite = "site=\"Depot \\\"N\\\"\\\\7\\nB\"";
    std::string text;
    std::vector<std::string> lines;
};

using V = std::vector<std::string>;

TEST_F(ExportText, TheSiteLabelIsEscapedAndTheTextEndsWithEof) {
    EXPECT_TRUE(Has("tessor_up{" + kSite + "} 1 1796000000.000")) << text;
    EXPECT_EQ(lines.back(), "# EOF");
}

TEST_F(ExportText, GaugesLeaveOutWhatARowDoesNotKnowAndSkipTheDamagedRowAndTheClockSetBack) {
    EXPECT_EQ(Series("tessor_up"),
              (V{"1@1796000000.000", "1@1796000010.000", "0@1796000015.000", "1@1796000020.000"}));
    EXPECT_EQ(Series("tessor_line_up"), (V{"1@1796000000.000", "1@1796000010.000", "0@1796000020.000"}));
    EXPECT_EQ(Series("tessor_line_snr_decibels"), (V{"28.79@1796000000.000", "28.79@1796000020.000"}));
    EXPECT_EQ(Series("tessor_line_mse_decibels"), (V{"6.19@1796000000.000", "6.19@1796000020.000"}));
    EXPECT_EQ(Series("tessor_indicator").size(), 30u); // ten indicators at the three rows that read them
    EXPECT_TRUE(Has("tessor_indicator{" + kSite + ",indicator=\"reduced_constellation\"} 0 1796000010.000"));
    EXPECT_TRUE(Has("tessor_indicator{" + kSite + ",indicator=\"agc_converged\"} 1 1796000020.000"));
}

TEST_F(ExportText, CountersSumTheRawCountsOverLostReadsAndWraps) {
    // RS: 15, a lost read (nothing), 7; link fail counter 254, 2 (four more over the wrap), 2.
    EXPECT_EQ(Series("tessor_rs_corrected_errors_total"), (V{"15@1796000000.000", "22@1796000020.000"}));
    EXPECT_EQ(Series("tessor_link_failures_total"),
              (V{"0@1796000000.000", "4@1796000010.000", "4@1796000020.000"}));
    // Ethernet totals as the rows hold them, where the read was answered.
    EXPECT_EQ(Series("tessor_tx_frames_total"), (V{"100@1796000000.000"}));
    EXPECT_EQ(Series("tessor_rx_frames_total"), V{});
}

TEST_F(ExportText, FamiliesAreTypedOnceWithUnitsWhereTheNameEndsInOne) {
    for (const char* header :
         {"# TYPE tessor_line_snr_decibels gauge", "# UNIT tessor_line_snr_decibels decibels",
          "# TYPE tessor_indicator gauge", "# TYPE tessor_rs_corrected_errors counter",
          "# TYPE tessor_tx_frames counter", "# TYPE tessor_link_failures counter",
          "# UNIT tessor_tx_power_dbm_per_hertz dbm_per_hertz"})
        EXPECT_EQ(std::count(lines.begin(), lines.end(), header), 1) << header;
    EXPECT_FALSE(Has("# UNIT tessor_up ")) << text;
    // A family without a sample is left out.
    EXPECT_EQ(text.find("tessor_rx_frames"), std::string::npos);
}

// The text of a store's export.
std::string Export(const LineStore& store, const std::string& site) {
    std::string text;
    WriteOpenMetrics(store, site, [&text](const std::string& piece) { text += piece; });
    return text;
}

TEST(ExportSite, BytesThatAreNotUtf8AreReplacedAsInTheJsonOutputs) {
    LineStore store;
    store.phy.push_back(Phy(0, 2000000, 15, 0xAE, 254));
    const std::string text = Export(store, "Depot\xff\xc3 B\xc3\xa9");
    EXPECT_NE(text.find("tessor_up{site=\"Depot\xEF\xBF\xBD\xEF\xBF\xBD B\xC3\xA9\"} 1 1796000000.000\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find('\xff'), std::string::npos);
}

TEST(ExportSeries, RowsAtTheSameTimeGiveOneSample) {
    LineStore store;
    store.phy.push_back(Phy(0, 2000000, 15, 0xAE, 254));
    store.phy.push_back(Phy(0, 2000000, 3, 0xAE, 254, 1)); // the same wall-clock millisecond
    store.eth.push_back(Eth(0, true));
    store.eth.push_back(Eth(0, true));
    const std::vector<std::string> lines = Lines(Export(store, "s"));
    for (const char* family : {"tessor_up{", "tessor_line_snr_decibels{", "tessor_rs_corrected_errors_total{",
                               "tessor_tx_frames_total{"}) {
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [family](const std::string& l) { return l.rfind(family, 0) == 0; }),
                  1)
            << family;
    }
}

#ifndef _WIN32
// The value of the first sample of family in a metric text.
std::string FirstValue(const std::string& text, const std::string& family) {
    const std::size_t at = text.find("\n" + family + "{");
    if (at == std::string::npos)
        return "(none)";
    const std::size_t value = text.find("} ", at) + 2;
    return text.substr(value, text.find_first_of(" \n", value) - value);
}

// The export and the monitor's metrics page write a value alike.
TEST(ExportNumbers, ValuesReadAsOnTheMonitorsMetricsPage) {
    struct Case {
        std::int32_t snrCenti;
        std::int32_t txPower;
        const char* snr;
        const char* power;
    };
    for (const Case& c : {Case{2880, -60, "28.8", "-60"}, Case{3605, -49, "36.05", "-49"},
                          Case{-150, 0, "-1.5", "0"}, Case{4000, -1, "40", "-1"}}) {
        PhyValues values = Phy(0, 2000000, 15, 0xAE, 254).values;
        values.snrCenti = c.snrCenti;
        values.txPowerDbmHz = c.txPower;
        LineStore store;
        store.phy.push_back(rec::MakePhySample(At(0, 0), values, true));
        const std::string exported = Export(store, "s");
        monitor::Snapshot snapshot;
        snapshot.boardUp = true;
        snapshot.phy = values;
        const std::string page = monitor::RenderExposition(snapshot);
        EXPECT_EQ(FirstValue(exported, "tessor_line_snr_decibels"), c.snr) << exported;
        EXPECT_EQ(FirstValue(page, "tessor_line_snr_decibels"), c.snr) << page;
        EXPECT_EQ(FirstValue(exported, "tessor_tx_power_dbm_per_hertz"), c.power) << exported;
        EXPECT_EQ(FirstValue(page, "tessor_tx_power_dbm_per_hertz"), c.power) << page;
    }
}
#endif

} // namespace
} // namespace tessor::cli
