#include "recorder/RecordingColumns.h"

#include "recorder/RecordingCsv.h"
#include "recorder/RecordingFile.h"

#include "model/PublishedNames.h"

#include <algorithm>
#include <deque>

namespace tessor::rec {

namespace file {

std::vector<std::string> ColumnNames() {
    std::vector<std::string> names;
    for (Published p :
         {Published::kTimeUtc, Published::kMonotonicMs, Published::kRowType, Published::kErrorValueReg,
          Published::kTxLevelReg, Published::kRsCorrectedReg, Published::kLinkStatusReg,
          Published::kLineFlagsReg, Published::kLinkFailReg, Published::kSnr, Published::kMse,
          Published::kRsCorrectedPerSecond, Published::kTxPower, Published::kLinkFailCount})
        names.emplace_back(NameOf(p));
    for (int i = 0; i < kIndicatorCount; ++i)
        names.emplace_back(IndicatorColumn(i));
    names.emplace_back(NameOf(Published::kAnswered));
    for (const char* suffix : kCounterColumnSuffixes) {
        for (const CounterDef& c : kCounterDefs)
            names.push_back(std::string(c.name) + suffix);
    }
    names.emplace_back(NameOf(Published::kEvent));
    names.emplace_back(NameOf(Published::kDetail));
    names.emplace_back(NameOf(Published::kIntervalClass));
    return names;
}

bool MatchHeader(std::string_view line, std::vector<int>* columnOf, std::size_t* fieldCount,
                 std::string* missing) {
    if (line.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0)
        line.remove_prefix(kByteOrderMark.size());
    std::vector<std::string_view> fields;
    std::deque<std::string> unquoted;
    SplitLine(line.data(), line.data() + line.size(), &fields, &unquoted);
    *fieldCount = fields.size();
    const std::vector<std::string> names = ColumnNames();
    columnOf->assign(names.size(), -1);
    for (std::size_t c = 0; c < names.size(); ++c) {
        const std::vector<std::string> former = FormerColumnNames(names[c]);
        for (std::size_t f = 0; f < fields.size(); ++f) {
            if (fields[f] == names[c] || std::find(former.begin(), former.end(), fields[f]) != former.end())
                (*columnOf)[c] = static_cast<int>(f);
        }
        if ((*columnOf)[c] < 0 && c != kColDetail && c != kColIntervalClass &&
            (c < kColRateFirst || c >= kColEvent)) {
            *missing = names[c];
            return false;
        }
    }
    return true;
}

} // namespace file

const std::string& RecordingHeader() {
    static const std::string header = [] {
        std::string h;
        for (const std::string& name : file::ColumnNames()) {
            if (!h.empty())
                h.push_back(',');
            h += name;
        }
        return h;
    }();
    return header;
}

} // namespace tessor::rec
