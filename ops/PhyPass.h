#pragma once

// The PHY status pass: six local reads and the references they are decoded with.

#include "link/RegisterBus.h"
#include "model/LineVocabulary.h"
#include "model/PhyValues.h"
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

// The registers of a pass: the values of the reads that were answered.
PhyRegisters RegistersOf(const PhyReadResults& results);

// Indicator state for a flag: 0 shows green, 1 red. LED9 and LED12 report faults, the others good states.
int IndicatorState(int indicator, int flag);

// Tested after every read of a pass; true ends the pass there.
using StopPredicate = std::function<bool()>;

// The six reads in order: 8C99 (3), 8C9C (2), 8C91 (4), then 8C71 (the silent status read), 8C98, 8D38.
// Returns false when stop said so after a read; the later reads are then not made. With blockReads
// neighbouring reads of consecutive registers go as one command (see PlanReads), stop tested after it.
bool RunPhyReads(IRegisterBus& bus, PhyReadResults* results, const StopPredicate& stop,
                 bool blockReads = false);

// One whole pass and its decoded values. complete is false when stop ended it early; values are then
// empty.
struct PhyPass {
    bool complete = false;
    PhyReadResults raw;
    PhyValues values;
};
PhyPass RunPhyPass(IRegisterBus& bus, const std::optional<PhyReferences>& references,
                   const StopPredicate& stop = {}, bool blockReads = false);

} // namespace tessor::ops
