#pragma once

#include "sim/SimConsole.h"
#include "sim/SimModemPair.h"

#include <string>

namespace tessor::sim {

enum class FaultCommand { NotOurs, Done, Refused };

// Carries out the fault commands that spoil replies and counts: "reply ADDR error|wrong-address|short|
// empty|normal", "reply off", "count ADDR N|off" and "drop [N]". Sets *reply to what to tell the operator
// (a usage line when Refused); NotOurs leaves it alone.
FaultCommand RunFaultCommand(CSimConsole& console, CSimModemPair& pair, const std::string& command,
                             std::string* reply);

} // namespace tessor::sim
