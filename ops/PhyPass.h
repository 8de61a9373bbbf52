#pragma once

// The PHY status pass: six local reads, their decoded values, SNR and mean square error, and the texts
// and indicator flags of the PHY page.

#include "link/RegisterBus.h"
#include "model/LineVocabulary.h"
#include "ops/PassOutcome.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tessor::ops {

// SNR and mean square error references, in hundredths of dB, for the constellation the local modem
// receives.
using PhyReferences = LineReferences;

// References for a constellation code (low nibble of 8C10/8C11); nothing for codes that name none.
std::optional<PhyReferences> PhyReferencesFor(std::uint8_t constellationCode);

// Reads the line configuration the local modem receives (8C10 on the NT side, 8C11 otherwise) and the
// references for its constellation.
struct PhyReferenceRead {
    RegResult read;
    std::optional<PhyReferences> references;
};
PhyReferenceRead ReadPhyReferences(IRegisterBus& bus, std::uint8_t side);

// Results of the six reads of a pass, each with what happened to it.
struct PhyReadResults {
    RegResult errorValue;    // 8C99, three registers
    RegResult txLevel;       // 8C9C, two registers
    RegResult rsCorrected;   // 8C91, four registers
    RegResult linkStatus;    // 8C71
    RegResult lineFlags;     // 8C98
    RegResult linkFailCount; // 8D38

    // Whether every read was answered (none garbled, none unanswered).
    bool AllAnswered() const;
    // The first read, in pass order, that was not answered; null when every one was.
    const RegResult* FirstUnanswered() const;
};

// The six reads' outcomes, in pass order.
PassOutcome ClassifyPhyReads(const PhyReadResults& results);

// What one pass of PHY reads delivered. A read that failed leaves its value empty.
struct PhyReadings {
    std::int32_t mseRaw = 0;                  // 8C99..8C9B; 0 or less (or a failed read): no measurement
    std::optional<std::uint32_t> rsPerSecond; // 8C91..8C94 divided by 5: the PHY page's figure
    // 8C91..8C94 as read: the corrected RS errors since the register was last read (it clears when read).
    std::optional<std::uint32_t> rsCorrectedCount;
    std::optional<int> txLevelDb;              // dB below 0 of 8C9C..8C9D plus 55; empty for 0 or a failure
    std::optional<std::uint8_t> linkStatus;    // 8C71
    std::optional<std::uint8_t> lineFlags;     // 8C98
    std::optional<std::uint8_t> linkFailCount; // 8D38
};

// The values of a pass: the error value as the low 32 bits taken as signed, the level in dB plus 55 for a
// register value of 1..65535 (nothing for 0, which has no logarithm, and for a failed read), the
// corrected RS errors divided by 5 as a signed 32-bit value, and the low bytes of the single registers.
PhyReadings PhyReadingsFromResults(const PhyReadResults& results);

// Indicator state for a flag: 0 shows green, 1 red. LED9 and LED12 report faults, the others good states.
int IndicatorState(int indicator, int flag);

// SNR and MSE in hundredths of dB; nothing without a measurement or without references.
struct PhyFigures {
    std::optional<std::int64_t> snr;
    std::optional<std::int64_t> mse;
};
PhyFigures ComputePhyFigures(const PhyReadings& readings, const std::optional<PhyReferences>& references);

// Hundredths of dB with two decimals and a decimal comma: 6180 gives "61,80", -204 gives "-2,04".
std::string FormatHundredths(std::int64_t value);

// Texts and indicator flags of one pass, as the page shows them; "-" for what is not known.
struct PhyTexts {
    std::string snr;
    std::string mse;
    std::string rs;
    std::string linkFail;
    std::string power;
    std::array<int, kIndicatorCount> flags{};
};
PhyTexts MakePhyTexts(const PhyReadings& readings, const std::optional<PhyReferences>& references);

// Tested after every read of a pass; true ends the pass there.
using StopPredicate = std::function<bool()>;

// The six reads in order: 8C99 (3), 8C9C (2), 8C91 (4), then 8C71 (the silent status read), 8C98, 8D38.
// Returns false when stop said so after a read; the later reads are then not made.
bool RunPhyReads(IRegisterBus& bus, PhyReadResults* results, const StopPredicate& stop);

// One whole pass with everything derived from it. complete is false when stop ended it early.
struct PhyPass {
    bool complete = false;
    PhyReadResults raw;
    PhyReadings readings;
    PhyFigures figures;
    PhyTexts texts;
};
PhyPass RunPhyPass(IRegisterBus& bus, const std::optional<PhyReferences>& references,
                   const StopPredicate& stop = {});

} // namespace tessor::ops
