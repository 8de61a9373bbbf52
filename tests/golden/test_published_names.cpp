// Every name in the golden outputs comes from the table of published names, and every name the table
// gives an output is there: the metric families with their HELP and TYPE, the monitor's JSON line keys,
// the recording's columns and the values of the status and line test JSON. No former name is left.

#include "model/LineVocabulary.h"
#include "model/PublishedNames.h"
#include "monitor/Snapshot.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#ifndef TESSOR_GOLDEN_DIR
#error "TESSOR_GOLDEN_DIR must name the folder of the golden files"
#endif

namespace tessor {
namespace {

std::string Golden(const std::string& name) {
    std::ifstream in(std::string(TESSOR_GOLDEN_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::set<std::string> TableNames(unsigned output) {
    std::set<std::string> names;
    for (const PublishedName& p : kPublishedNames) {
        if (p.outputs & output)
            names.insert(p.name);
    }
    return names;
}

std::set<std::string> Keys(const nlohmann::json& object) {
    std::set<std::string> keys;
    for (const auto& item : object.items())
        keys.insert(item.key());
    return keys;
}

// Every key at any depth.
void AllKeys(const nlohmann::json& j, std::set<std::string>* keys) {
    if (j.is_object()) {
        for (const auto& item : j.items()) {
            keys->insert(item.key());
            AllKeys(item.value(), keys);
        }
    } else if (j.is_array()) {
        for (const auto& item : j)
            AllKeys(item, keys);
    }
}

std::set<std::string> IndicatorNames() {
    std::set<std::string> names;
    for (const IndicatorDef& d : kIndicatorDefs)
        names.insert(d.name);
    return names;
}

std::set<std::string> CounterNames(const char* suffix = "") {
    std::set<std::string> names;
    for (const CounterDef& d : kCounterDefs)
        names.insert(std::string(d.name) + suffix);
    return names;
}

std::set<std::string> FormerNames(unsigned output) {
    std::set<std::string> names;
    for (const Rename& r : kRenames) {
        if (r.output & output)
            names.insert(r.former);
    }
    return names;
}

// Family -> "help|type" of each # HELP and # TYPE line.
std::map<std::string, std::string> Families(const std::string& exposition) {
    std::map<std::string, std::string> families;
    std::istringstream in(exposition);
    for (std::string line; std::getline(in, line);) {
        for (const char* start : {"# HELP ", "# TYPE "}) {
            if (line.rfind(start, 0) != 0)
                continue;
            const std::size_t nameEnd = line.find(' ', 7);
            std::string& entry = families[line.substr(7, nameEnd - 7)];
            entry += (entry.empty() ? "" : "|") + line.substr(nameEnd + 1);
        }
    }
    return families;
}

// Describe() finds a value by its place in the table; a name or metric is given once.
TEST(PublishedNames, TableIsInTheOrderOfItsValuesAndNamesAreUnique) {
    std::set<std::string> names;
    std::set<int> metrics;
    for (std::size_t i = 0; i < static_cast<std::size_t>(Published::kCount); ++i) {
        const PublishedName& p = kPublishedNames[i];
        EXPECT_EQ(static_cast<std::size_t>(p.value), i) << p.name;
        EXPECT_TRUE(names.insert(p.name).second) << p.name;
        if (p.metric != kMetricFamilyCount) {
            EXPECT_TRUE(metrics.insert(p.metric).second) << p.name;
        }
    }
}

TEST(PublishedNames, MetricFamiliesAreTheTablesWithItsHelpAndType) {
    monitor::Snapshot s;
    s.port = "sim";
    const std::string all = Golden("metrics.txt") + monitor::RenderPollHealth(s, 1.0, false) +
                            monitor::RenderOutputsDropped({{"jsonl", "", 1}});
    std::map<std::string, std::string> expected;
    for (const PublishedName& p : kPublishedNames) {
        EXPECT_EQ(p.metric != kMetricFamilyCount, (p.outputs & kInMetrics) != 0) << p.name;
        if (p.metric == kMetricFamilyCount)
            continue;
        const MetricFamilyDef& f = kMetricFamilies[static_cast<std::size_t>(p.metric)];
        expected[f.name] = std::string(f.help) + "|" + f.type;
    }
    for (int i = 0; i < kCounterDefCount; ++i)
        expected[EthernetCounterMetric(i)] =
            std::string(kEthernetCounterHelp[static_cast<std::size_t>(i)]) + "|counter";
    EXPECT_EQ(Families(all), expected);
}

TEST(PublishedNames, JsonLineKeysAreTheTables) {
    const nlohmann::json line = nlohmann::json::parse(Golden("monitor.jsonl"));
    // The figures of each direction are under "link".
    const std::set<std::string> direction{NameOf(Published::kLineRate), NameOf(Published::kCarrierFrequency)};
    std::set<std::string> top = TableNames(kInJsonLine);
    for (const std::string& name : direction)
        top.erase(name);
    EXPECT_EQ(Keys(line), top);
    EXPECT_EQ(Keys(line[NameOf(Published::kIndicators)]), IndicatorNames());
    EXPECT_EQ(Keys(line[NameOf(Published::kEthernetTotals)]), CounterNames());
    EXPECT_EQ(Keys(line[NameOf(Published::kLink)]["downstream"]), direction);
}

TEST(PublishedNames, RecordingColumnsAreTheTables) {
    const std::string recording = Golden("recording.csv");
    std::set<std::string> columns;
    std::istringstream header(recording.substr(0, recording.find('\n')));
    for (std::string column; std::getline(header, column, ',');)
        EXPECT_TRUE(columns.insert(column).second) << column << " twice";
    std::set<std::string> expected = TableNames(kInRecording);
    for (const std::set<std::string>& more :
         {IndicatorNames(), CounterNames(kCounterColumnSuffixes[0]), CounterNames(kCounterColumnSuffixes[1]),
          CounterNames(kCounterColumnSuffixes[2])})
        expected.insert(more.begin(), more.end());
    EXPECT_EQ(columns, expected);
}

TEST(PublishedNames, StatusAndLineTestJsonHoldTheTablesNamesAndNoFormerOne) {
    for (const auto& [file, output] : {std::pair<const char*, unsigned>{"status.json", kInStatusJson},
                                       {"linetest.json", kInLineTestJson},
                                       {"monitor.jsonl", kInJsonLine}}) {
        SCOPED_TRACE(file);
        std::set<std::string> keys;
        AllKeys(nlohmann::json::parse(Golden(file)), &keys);
        for (const std::string& name : TableNames(output))
            EXPECT_TRUE(keys.count(name)) << name;
        for (const std::string& former : FormerNames(output))
            EXPECT_FALSE(keys.count(former)) << former;
    }
    const std::map<std::string, std::string> metrics = Families(Golden("metrics.txt"));
    for (const std::string& former : FormerNames(kInMetrics))
        EXPECT_FALSE(metrics.count(former)) << former;
}

// Each column's earlier spellings are among its former names; a column never renamed has none.
TEST(PublishedNames, RecordingColumnsTakeTheirFormerNames) {
    struct Case {
        const char* column;
        std::vector<std::string> former;
    };
    const Case cases[] = {
        {"snr_db", {}},
        {"tx_frames_read", {}},
        {"tx_pause_framesx", {}}, // a beginning renames whole words only
        {"rs_corrected_per_second", {"rs_per_s"}},
        {"tc_sync", {"tc_synchronized"}},
        {"tx_frames_per_second", {"tx_frames_per_s"}},
        {"tx_pause_frames_total", {"tx_pause_total"}},
        {"tx_pause_frames_per_second", {"tx_pause_frames_per_s", "tx_pause_per_s"}},
    };
    for (const Case& c : cases) {
        const std::vector<std::string> former = FormerColumnNames(c.column);
        if (c.former.empty()) {
            EXPECT_TRUE(former.empty()) << c.column;
        }
        for (const std::string& name : c.former)
            EXPECT_NE(std::find(former.begin(), former.end(), name), former.end())
                << c.column << ": " << name;
    }
}

} // namespace
} // namespace tessor
