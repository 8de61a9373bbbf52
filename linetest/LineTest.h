#pragma once

// The line acceptance test: a PHY pass and an Ethernet pass every interval for a set time, through the
// recorder, with the identification and link settings of both modems before and after, judged against
// criteria. It only reads: nothing is written to the board.
//
// What it found (LineTestResult.h), the runner (LineTestRunner.h), the judge (LineTestJudge.h) and the
// texts (LineTestTexts.h); the front ends include them together here.

#include "linetest/LineTestJudge.h"
#include "linetest/LineTestResult.h"
#include "linetest/LineTestRunner.h"
#include "linetest/LineTestTexts.h"
