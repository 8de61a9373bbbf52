// How the line test writes a figure, in its result texts and in its report alike.
#pragma once

#include <string>

namespace tessor::linetest {

// A value with a fixed number of decimals ("36.25").
std::string Fixed(double value, int decimals);
// A value kept in hundredths with two decimals and a point, as everything the line test writes ("36.25").
std::string Centi(double centi);

} // namespace tessor::linetest
