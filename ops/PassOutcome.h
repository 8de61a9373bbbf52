#pragma once

// Whether the board answered a pass of reads, decided in one place from the outcome of each read: the
// history, the monitor and the line test all ask here.

#include "link/RegisterBus.h"

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <vector>

namespace tessor::ops {

enum class PassAnswer {
    Answered,       // every read answered
    PartlyAnswered, // the board answered every read, but some replies came back garbled: their values are
                    // lost
    NotAnswered,    // the board did not answer some read (silent, gone, stopped, or a remote read not made)
};

struct PassOutcome {
    PassAnswer answer = PassAnswer::Answered;
    std::vector<Outcome> reads;         // each read's outcome, in pass order
    std::optional<Outcome> firstFailed; // the first read's that was not answered; empty when all were
    std::size_t garbled = 0;            // how many replies came back garbled

    bool Answered() const { return answer == PassAnswer::Answered; }
    // The board answered (a garbled reply is a gap in an answered pass, not silence).
    bool BoardAnswered() const { return answer != PassAnswer::NotAnswered; }
};

// A failure other than a garbled reply: the board said nothing to that read.
bool IsSilence(Outcome outcome);

PassOutcome ClassifyPass(std::initializer_list<const RegResult*> reads);
PassOutcome ClassifyPass(const RegResult* reads, std::size_t count);

} // namespace tessor::ops
