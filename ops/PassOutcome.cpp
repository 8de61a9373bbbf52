#include "ops/PassOutcome.h"

#include <utility>

namespace tessor::ops {

namespace {

void Add(PassOutcome& pass, Outcome outcome) {
    pass.reads.push_back(outcome);
    if (outcome == Outcome::Answered)
        return;
    if (!pass.firstFailed)
        pass.firstFailed = outcome;
    if (IsSilence(outcome)) {
        pass.answer = PassAnswer::NotAnswered;
        return;
    }
    ++pass.garbled;
    if (pass.answer == PassAnswer::Answered)
        pass.answer = PassAnswer::PartlyAnswered;
}

// Replies came back for every read, but not one of them was valid.
PassOutcome Finish(PassOutcome pass) {
    if (pass.answer == PassAnswer::PartlyAnswered && pass.garbled == pass.reads.size())
        pass.answer = PassAnswer::NothingValid;
    return pass;
}

} // namespace

bool IsSilence(Outcome outcome) {
    return outcome != Outcome::Answered && outcome != Outcome::Garbled;
}

PassOutcome ClassifyPass(std::initializer_list<const RegResult*> reads) {
    PassOutcome pass;
    for (const RegResult* read : reads)
        Add(pass, read->outcome);
    return Finish(std::move(pass));
}

PassOutcome ClassifyPass(const RegResult* reads, std::size_t count) {
    PassOutcome pass;
    for (std::size_t i = 0; i < count; ++i)
        Add(pass, reads[i].outcome);
    return Finish(std::move(pass));
}

PassOutcome ClassifyOutcomes(const std::vector<Outcome>& reads) {
    PassOutcome pass;
    for (const Outcome outcome : reads)
        Add(pass, outcome);
    return Finish(std::move(pass));
}

} // namespace tessor::ops
