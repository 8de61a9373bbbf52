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
    NothingValid,   // the board answered every read, but not one reply was valid (a wrong baud or framing
                    // looks like this): nothing it said can be used, so it counts as down
    NotAnswered,    // the board did not answer some read (silent, gone, stopped, or a remote read not made)
};

struct PassOutcome {
    PassAnswer answer = PassAnswer::Answered;
    std::vector<Outcome> reads;         // each read's outcome, in pass order
    std::optional<Outcome> firstFailed; // the first read's that was not answered; empty when all were
    std::size_t garbled = 0;            // how many replies came back garbled

    bool Answered() const { return answer == PassAnswer::Answered; }
    // The board answered with at least one valid reply (a garbled reply is a gap in an answered pass).
    bool BoardAnswered() const {
        return answer == PassAnswer::Answered || answer == PassAnswer::PartlyAnswered;
    }
    // Some read went unanswered: the board is silent or gone, the connection is not to be used again.
    bool Silent() const { return answer == PassAnswer::NotAnswered; }
};

// A failure other than a garbled reply: the board said nothing to that read.
bool IsSilence(Outcome outcome);

PassOutcome ClassifyPass(std::initializer_list<const RegResult*> reads);
PassOutcome ClassifyPass(const RegResult* reads, std::size_t count);
// The same from the outcomes alone (a pass made of several groups of reads).
PassOutcome ClassifyOutcomes(const std::vector<Outcome>& reads);

} // namespace tessor::ops
