#include "ops/PassOutcome.h"

namespace tessor::ops {

namespace {

void Add(PassOutcome& pass, const RegResult& read) {
    pass.reads.push_back(read.outcome);
    if (read.ok())
        return;
    if (!pass.firstFailed)
        pass.firstFailed = read.outcome;
    if (IsSilence(read.outcome)) {
        pass.answer = PassAnswer::NotAnswered;
        return;
    }
    ++pass.garbled;
    if (pass.answer == PassAnswer::Answered)
        pass.answer = PassAnswer::PartlyAnswered;
}

} // namespace

bool IsSilence(Outcome outcome) {
    return outcome != Outcome::Answered && outcome != Outcome::Garbled;
}

PassOutcome ClassifyPass(std::initializer_list<const RegResult*> reads) {
    PassOutcome pass;
    for (const RegResult* read : reads)
        Add(pass, *read);
    return pass;
}

PassOutcome ClassifyPass(const RegResult* reads, std::size_t count) {
    PassOutcome pass;
    for (std::size_t i = 0; i < count; ++i)
        Add(pass, reads[i]);
    return pass;
}

} // namespace tessor::ops
