// Whether a pass was answered, from the outcome of each of its reads: one table for the history, the
// monitor and the line test.
#include "ops/PassOutcome.h"
#include "ops/PhyPass.h"

#include <gtest/gtest.h>

#include <vector>

namespace tessor::ops {
namespace {

using O = Outcome;

struct Case {
    const char* what;
    std::vector<O> reads;
    PassAnswer answer;
    std::optional<O> firstFailed;
    std::size_t garbled;
};

std::vector<RegResult> Results(const std::vector<O>& outcomes) {
    std::vector<RegResult> results;
    for (O o : outcomes)
        results.push_back(o == O::Answered ? RegResult::Answer(7) : RegResult::Fail(o));
    return results;
}

TEST(PassOutcome, EachReadsOutcomeDecidesTheAnswerOfThePass) {
    const Case cases[] = {
        {"every read answered",
         {O::Answered, O::Answered, O::Answered},
         PassAnswer::Answered,
         std::nullopt,
         0},
        {"no reads", {}, PassAnswer::Answered, std::nullopt, 0},
        {"one garbled reply",
         {O::Answered, O::Garbled, O::Answered},
         PassAnswer::PartlyAnswered,
         O::Garbled,
         1},
        {"two garbled replies",
         {O::Garbled, O::Answered, O::Garbled},
         PassAnswer::PartlyAnswered,
         O::Garbled,
         2},
        {"every reply garbled: nothing valid came back",
         {O::Garbled, O::Garbled, O::Garbled},
         PassAnswer::NothingValid,
         O::Garbled,
         3},
        {"a single read, garbled", {O::Garbled}, PassAnswer::NothingValid, O::Garbled, 1},
        {"silent from the first read", {O::NoAnswer, O::NoAnswer}, PassAnswer::NotAnswered, O::NoAnswer, 0},
        {"silent after a garbled reply", {O::Garbled, O::NoAnswer}, PassAnswer::NotAnswered, O::Garbled, 1},
        {"garbled after silence",
         {O::Answered, O::NoAnswer, O::Garbled},
         PassAnswer::NotAnswered,
         O::NoAnswer,
         1},
        {"the device went away", {O::Answered, O::DeviceFailed}, PassAnswer::NotAnswered, O::DeviceFailed, 0},
        {"stopped", {O::Cancelled}, PassAnswer::NotAnswered, O::Cancelled, 0},
        {"remote read with the line down", {O::LineDown}, PassAnswer::NotAnswered, O::LineDown, 0},
        {"mailbox did not complete",
         {O::Answered, O::MailboxIncomplete},
         PassAnswer::NotAnswered,
         O::MailboxIncomplete,
         0},
    };
    for (const Case& c : cases) {
        const std::vector<RegResult> results = Results(c.reads);
        const PassOutcome pass = ClassifyPass(results.data(), results.size());
        EXPECT_EQ(pass.answer, c.answer) << c.what;
        EXPECT_EQ(pass.firstFailed, c.firstFailed) << c.what;
        EXPECT_EQ(pass.garbled, c.garbled) << c.what;
        EXPECT_EQ(pass.reads, c.reads) << c.what;
        EXPECT_EQ(pass.Answered(), c.answer == PassAnswer::Answered) << c.what;
        EXPECT_EQ(pass.BoardAnswered(),
                  c.answer == PassAnswer::Answered || c.answer == PassAnswer::PartlyAnswered)
            << c.what;
        EXPECT_EQ(pass.Silent(), c.answer == PassAnswer::NotAnswered) << c.what;
        // The outcomes alone classify the same (a pass made of several groups of reads).
        EXPECT_EQ(ClassifyOutcomes(c.reads).answer, c.answer) << c.what;
    }
}

TEST(PassOutcome, APhyPassIsItsSixReadsInPassOrder) {
    PhyReadResults r;
    r.errorValue = RegResult::Answer(1);
    r.txLevel = RegResult::Answer(1);
    r.rsCorrected = RegResult::Fail(O::Garbled);
    r.linkStatus = RegResult::Answer(1);
    r.lineFlags = RegResult::Fail(O::NoAnswer);
    r.linkFailCount = RegResult::Fail(O::NoAnswer);
    const PassOutcome pass = ClassifyPhyReads(r);
    EXPECT_EQ(pass.reads,
              (std::vector<O>{O::Answered, O::Answered, O::Garbled, O::Answered, O::NoAnswer, O::NoAnswer}));
    EXPECT_EQ(pass.answer, PassAnswer::NotAnswered);
    EXPECT_EQ(pass.firstFailed, O::Garbled);
    // The initializer list form agrees with the contiguous one.
    EXPECT_EQ(ClassifyPass({&r.errorValue, &r.rsCorrected}).answer, PassAnswer::PartlyAnswered);
}

} // namespace
} // namespace tessor::ops
