#include "model/ConfigFile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace tessor {
namespace {

const char* const kHeaderError = "Error in load Configuration file";
const char* const kNotLT = "Configuration does not match to modem type LT";
const char* const kNotNT = "Configuration does not match to modem type NT";
const char* const kBadLineEnd = "Incorrect character in configuration file";
const char* const kBadRegister = "Unknown register in configuration file";
const char* const kBadValue = "Impossible value in configuration file";

constexpr std::uint8_t kUnknownSide = 0;

using Write = std::pair<std::string, int>; // target address, value

// What a load does with a file: the writes in order, then "" for a clean end or the error message.
struct LoadResult {
    std::vector<Write> writes;
    std::string error;
    bool ended = false;
};

// Drives the reader as the loader does. Also checks that the reader finishes within the records the
// file can hold, and that once finished it stays finished.
LoadResult Load(const std::string& bytes, std::uint8_t side) {
    ConfigFileReader reader(bytes, side);
    LoadResult result;
    const std::size_t maxSteps = bytes.size() / 9 + 2;
    for (std::size_t step = 0; step <= maxSteps; ++step) {
        const ConfigFileStep next = reader.Next();
        EXPECT_LE(reader.Position(), bytes.size());
        if (next.kind == ConfigFileStep::Kind::Record) {
            result.writes.emplace_back(next.address, next.value);
            continue;
        }
        result.ended = next.kind == ConfigFileStep::Kind::End;
        if (!result.ended) {
            result.error = next.message;
        }
        // Finished: further calls repeat the same outcome and never give a record.
        for (int again = 0; again < 3; ++again) {
            const ConfigFileStep repeat = reader.Next();
            EXPECT_EQ(repeat.kind, next.kind);
            EXPECT_EQ(repeat.message, next.message);
        }
        return result;
    }
    ADD_FAILURE() << "reader did not finish";
    return result;
}

// The file the tool saves with values[i] = 5 + 2B * i (hexadecimal), written out by hand.
const std::string kSavedBody = "\r\n8C40:05\r\n8C41:30\r\n8C42:5B\r\n8C43:86"
                               "\r\n8C44:B1\r\n8C45:DC\r\n8C46:07\r\n8C47:32"
                               "\r\n8C48:5D\r\n8C49:88\r\n8C4A:B3\r\n8C4B:DE"
                               "\r\n8C4C:09\r\n8C4D:34\r\n8C4E:5F\r\n8C4F:8A"
                               "\r\n8C50:B5\r\n8C51:E0\r\n8C60:0B\r\n8C61:36"
                               "\r\n8C66:61\r\n8C67:8C\r\n8C6B:B7\r\n8D40:E2"
                               "\r\n8D41:0D\r\n8D42:38\r\n8D45:63\r\n8D46:8E"
                               "\r\n8D47:B9\r\n8D48:E4\r\n8D49:0F";

// The writes loading kSavedBody makes: 8C40..8C51 go to 8C10..8C21, the rest stay.
const std::vector<Write> kSavedWrites = {
    {"8C10", 0x05}, {"8C11", 0x30}, {"8C12", 0x5B}, {"8C13", 0x86}, {"8C14", 0xB1}, {"8C15", 0xDC},
    {"8C16", 0x07}, {"8C17", 0x32}, {"8C18", 0x5D}, {"8C19", 0x88}, {"8C1A", 0xB3}, {"8C1B", 0xDE},
    {"8C1C", 0x09}, {"8C1D", 0x34}, {"8C1E", 0x5F}, {"8C1F", 0x8A}, {"8C20", 0xB5}, {"8C21", 0xE0},
    {"8C60", 0x0B}, {"8C61", 0x36}, {"8C66", 0x61}, {"8C67", 0x8C}, {"8C6B", 0xB7}, {"8D40", 0xE2},
    {"8D41", 0x0D}, {"8D42", 0x38}, {"8D45", 0x63}, {"8D46", 0x8E}, {"8D47", 0xB9}, {"8D48", 0xE4},
    {"8D49", 0x0F},
};

std::array<std::uint8_t, kConfigRegisterCount> SavedValues() {
    std::array<std::uint8_t, kConfigRegisterCount> values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = static_cast<std::uint8_t>(5 + 0x2B * i);
    }
    return values;
}

// --- Writer ---

TEST(ConfigRegisters, FileOrder) {
    const std::array<std::string_view, 31> expected{
        "8C40", "8C41", "8C42", "8C43", "8C44", "8C45", "8C46", "8C47", "8C48", "8C49", "8C4A",
        "8C4B", "8C4C", "8C4D", "8C4E", "8C4F", "8C50", "8C51", "8C60", "8C61", "8C66", "8C67",
        "8C6B", "8D40", "8D41", "8D42", "8D45", "8D46", "8D47", "8D48", "8D49"};
    EXPECT_EQ(kConfigRegisters, expected);
}

TEST(WriteConfigFile, ExactBytesForEachSide) {
    const std::pair<std::uint8_t, std::string> rows[] = {
        {kConfigSideNT, "NT"}, {kConfigSideLT, "LT"}, {kUnknownSide, "LT"}, {7, "LT"}};
    for (const auto& [side, header] : rows) {
        SCOPED_TRACE(static_cast<int>(side));
        const std::string file = WriteConfigFile(side, SavedValues());
        EXPECT_EQ(file.size(), 281u);
        EXPECT_EQ(file.size(), kConfigFileSize);
        EXPECT_EQ(file, header + kSavedBody);
    }
}

TEST(WriteConfigFile, ValuesAsTwoUpperCaseDigits) {
    std::array<std::uint8_t, kConfigRegisterCount> values{};
    values[0] = 0x00;
    values[1] = 0xFF;
    values[2] = 0x0A;
    values[30] = 0xab;
    const std::string file = WriteConfigFile(kConfigSideNT, values);
    EXPECT_EQ(file.substr(0, 29), "NT\r\n8C40:00\r\n8C41:FF\r\n8C42:0A");
    EXPECT_EQ(file.substr(file.size() - 9), "\r\n8D49:AB");
}

// --- Address mapping ---

TEST(LoadTargetAddress, ThirtyLowerInThe8CRange) {
    const std::pair<const char*, const char*> rows[] = {
        {"8C40", "8C10"},
        {"8C41", "8C11"},
        {"8C4A", "8C1A"},
        {"8C4F", "8C1F"},
        {"8C50", "8C20"},
        {"8C51", "8C21"},
        {"8C00", "8BD0"},
        {"8C10", "8BE0"},
        {"8C20", "8BF0"},
        {"8C30", "8C00"},
        {"8C70", "8C40"},
        {"8CA5", "8C75"},
        {"8CB0", "8C80"},
        {"8CC4", "8C94"},
        {"8CFF", "8CCF"},
        {"FC45", "FC15"},
        // Left alone: 8C6x, and anything whose second character is not C.
        {"8C60", "8C60"},
        {"8C6B", "8C6B"},
        {"8D42", "8D42"},
        {"8D49", "8D49"},
        {"8B40", "8B40"},
        {"0000", "0000"},
    };
    for (const auto& [address, target] : rows) {
        EXPECT_EQ(LoadTargetAddress(address), target) << address;
    }
}

// --- Reader ---

struct LoadRow {
    const char* name;
    std::string file;
    std::uint8_t side;
    std::vector<Write> writes;
    const char* error; // nullptr: the file ends cleanly
};

TEST(ConfigFileReader, HeaderAndRecords) {
    const LoadRow rows[] = {
        {"OnlyHeaderNT", "NT", kConfigSideNT, {}, nullptr},
        {"OnlyHeaderLT", "LT", kConfigSideLT, {}, nullptr},
        {"Empty", "", kConfigSideNT, {}, kHeaderError},
        {"OneByte", "N", kConfigSideNT, {}, kHeaderError},
        {"SecondNotT", "NX\r\n8C40:01", kConfigSideNT, {}, kHeaderError},
        {"LowerCaseHeader", "nt", kConfigSideNT, {}, kHeaderError},
        {"NtFileOnLt", "NT\r\n8C40:01", kConfigSideLT, {}, kNotLT},
        {"LtFileOnNt", "LT\r\n8C40:01", kConfigSideNT, {}, kNotNT},
        {"OddHeaderOnLt", "XT", kConfigSideLT, {}, kNotLT},
        {"OddHeaderOnNt", "XT", kConfigSideNT, {}, kNotNT},
        {"SideNotYetKnown", "XT\r\n8C40:01", kUnknownSide, {{"8C10", 0x01}}, nullptr},
        {"AnyAddress",
         "NT\r\n8C00:FF\r\n8C6B:01\r\n8D42:7E\r\n1234:00",
         kConfigSideNT,
         {{"8BD0", 0xFF}, {"8C6B", 0x01}, {"8D42", 0x7E}, {"1234", 0x00}},
         nullptr},
        {"ExtraLineEnd", "LT\r\n8C40:01\r\n", kConfigSideLT, {{"8C10", 0x01}}, kBadRegister},
        {"LineEndReversed", "LT\n\r8C40:01", kConfigSideLT, {}, kBadLineEnd},
        {"LineFeedOnly", "LT\n8C40:01", kConfigSideLT, {}, kBadLineEnd},
        {"LowerCaseAddress", "LT\r\n8c40:01", kConfigSideLT, {}, kBadRegister},
        {"NoColon", "LT\r\n8C40;01", kConfigSideLT, {}, kBadRegister},
        {"ShortAddress", "LT\r\n8C4:01\r\n", kConfigSideLT, {}, kBadRegister},
        {"LowerCaseValue", "LT\r\n8C40:1a", kConfigSideLT, {}, kBadValue},
        {"ValueNotHex", "LT\r\n8C40:G0", kConfigSideLT, {}, kBadValue},
        {"ValueWithBlank", "LT\r\n8C40: 1", kConfigSideLT, {}, kBadValue},
        {"HighByte", "LT\r\n8C40:0\xC1", kConfigSideLT, {}, kBadValue},
        {"NulInAddress",
         std::string("LT\r\n8C\0"
                     "0:01",
                     11),
         kConfigSideLT,
         {},
         kBadRegister},
        // Missing bytes at the end count as characters that do not match.
        {"EndsAfterCarriageReturn", "NT\r", kConfigSideNT, {}, kBadLineEnd},
        {"EndsInAddress", "NT\r\n8C", kConfigSideNT, {}, kBadRegister},
        {"EndsBeforeColon", "NT\r\n8C40", kConfigSideNT, {}, kBadRegister},
        {"EndsAfterColon", "NT\r\n8C40:", kConfigSideNT, {}, kBadValue},
        {"EndsInValue", "NT\r\n8C40:0", kConfigSideNT, {}, kBadValue},
        {"SecondRecordShort", "NT\r\n8C40:01\r\n8C41:0", kConfigSideNT, {{"8C10", 0x01}}, kBadValue},
    };
    for (const LoadRow& row : rows) {
        SCOPED_TRACE(row.name);
        const LoadResult result = Load(row.file, row.side);
        EXPECT_EQ(result.writes, row.writes);
        EXPECT_EQ(result.ended, row.error == nullptr);
        EXPECT_EQ(result.error, row.error ? row.error : "");
    }
}

TEST(ConfigFileReader, SavedFileLoadsBackInFileOrder) {
    const std::pair<std::uint8_t, const char*> sides[] = {{kConfigSideNT, "NT"}, {kConfigSideLT, "LT"}};
    for (const auto& [side, header] : sides) {
        SCOPED_TRACE(header);
        const LoadResult result = Load(std::string(header) + kSavedBody, side);
        EXPECT_TRUE(result.ended);
        EXPECT_EQ(result.writes, kSavedWrites);
    }
}

TEST(ConfigFileReader, RoundTripForBothSides) {
    std::mt19937 random(4);
    for (int trial = 0; trial < 50; ++trial) {
        std::array<std::uint8_t, kConfigRegisterCount> values{};
        for (std::uint8_t& value : values) {
            value = static_cast<std::uint8_t>(random() & 0xFF);
        }
        for (std::uint8_t side : {kConfigSideLT, kConfigSideNT}) {
            const LoadResult result = Load(WriteConfigFile(side, values), side);
            ASSERT_TRUE(result.ended);
            ASSERT_EQ(result.writes.size(), kConfigRegisterCount);
            for (std::size_t i = 0; i < kConfigRegisterCount; ++i) {
                EXPECT_EQ(result.writes[i].first, kSavedWrites[i].first);
                EXPECT_EQ(result.writes[i].second, values[i]);
            }
        }
    }
}

TEST(ConfigFileReader, ErrorInFifthRecordKeepsTheFirstFour) {
    std::string file = "NT" + kSavedBody;
    file[2 + 9 * 4 + 3] = 'x'; // inside the address of record 5 (8C44)
    const LoadResult result = Load(file, kConfigSideNT);
    EXPECT_EQ(result.error, kBadRegister);
    EXPECT_EQ(result.writes, std::vector<Write>(kSavedWrites.begin(), kSavedWrites.begin() + 4));
}

TEST(ConfigFileReader, EachRecordIsGivenBeforeTheNextIsRead) {
    // The loader writes each record as it gets it: record 1 comes out even though record 2 is bad.
    ConfigFileReader reader("NT\r\n8C40:01\r\nZZZZ:00", kConfigSideNT);
    const ConfigFileStep first = reader.Next();
    ASSERT_EQ(first.kind, ConfigFileStep::Kind::Record);
    EXPECT_EQ(first.address, "8C10");
    EXPECT_EQ(first.value, 0x01);
    EXPECT_EQ(reader.Position(), 11u);
    const ConfigFileStep second = reader.Next();
    EXPECT_EQ(second.kind, ConfigFileStep::Kind::Error);
    EXPECT_EQ(second.message, kBadRegister);
}

// --- Randomised ---

bool IsUpperHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// What a file of well-formed header must give, found position by position: every byte has a class by
// its offset in its record, and the first byte out of class (or missing) decides.
LoadResult Expected(const std::string& file) {
    LoadResult expected;
    for (std::size_t base = 2; base < file.size(); base += 9) {
        for (std::size_t offset = 0; offset < 9; ++offset) {
            const bool present = base + offset < file.size();
            const char c = present ? file[base + offset] : '\0';
            bool fits;
            const char* message;
            if (offset < 2) {
                fits = c == (offset == 0 ? '\r' : '\n');
                message = kBadLineEnd;
            } else if (offset < 6) {
                fits = IsUpperHex(c);
                message = kBadRegister;
            } else if (offset == 6) {
                fits = c == ':';
                message = kBadRegister;
            } else {
                fits = IsUpperHex(c);
                message = kBadValue;
            }
            if (!present || !fits) {
                expected.error = message;
                return expected;
            }
        }
        expected.writes.emplace_back(LoadTargetAddress(file.substr(base + 2, 4)),
                                     std::stoi(file.substr(base + 7, 2), nullptr, 16));
    }
    expected.ended = true;
    return expected;
}

TEST(ConfigFileReaderRandom, MutatedAndTruncatedFiles) {
    std::mt19937 random(20240611);
    const std::string alphabet = "\r\n:0123456789ABCDEFabcdefGZ \x7F\x80\xFF";
    const std::string saved = "NT" + kSavedBody;
    for (int trial = 0; trial < 3000; ++trial) {
        std::string file = saved;
        const int mutations = static_cast<int>(random() % 3);
        for (int m = 0; m < mutations; ++m) {
            const std::size_t at = 2 + random() % (file.size() - 2);
            file[at] = (random() % 4 == 0) ? static_cast<char>(random() & 0xFF)
                                           : alphabet[random() % alphabet.size()];
        }
        if (random() % 2 == 0) {
            file.resize(2 + random() % (file.size() - 1));
        }
        SCOPED_TRACE("trial " + std::to_string(trial) + " size " + std::to_string(file.size()));
        const LoadResult expected = Expected(file);
        const LoadResult actual = Load(file, kConfigSideNT);
        EXPECT_EQ(actual.ended, expected.ended);
        EXPECT_EQ(actual.error, expected.error);
        EXPECT_EQ(actual.writes, expected.writes);
    }
}

TEST(ConfigFileReaderRandom, ArbitraryBytes) {
    std::mt19937 random(77);
    for (int trial = 0; trial < 3000; ++trial) {
        std::string file(random() % 48, '\0');
        for (char& c : file) {
            c = static_cast<char>(random() & 0xFF);
        }
        // Give most files a header that passes, so the records get exercised.
        if (file.size() >= 2 && random() % 4 != 0) {
            file[0] = 'L';
            file[1] = 'T';
        }
        const auto side = static_cast<std::uint8_t>(random() % 3);
        SCOPED_TRACE("trial " + std::to_string(trial));
        const LoadResult result = Load(file, side);
        EXPECT_NE(result.ended, !result.error.empty());
        EXPECT_LE(result.writes.size(), file.size() < 2 ? 0 : (file.size() - 2) / 9);
        for (std::size_t k = 0; k < result.writes.size(); ++k) {
            const std::string record = file.substr(2 + 9 * k, 9);
            EXPECT_EQ(result.writes[k].first, LoadTargetAddress(record.substr(2, 4)));
            EXPECT_EQ(result.writes[k].second, std::stoi(record.substr(7, 2), nullptr, 16));
        }
    }
}

} // namespace
} // namespace tessor
