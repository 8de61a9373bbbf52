// On Linux the program has the terminal it was started from, and the desktop's own font (Qt takes it from
// the platform theme or fontconfig).
#include "app/Platform.h"

namespace tessor {

void ConnectStartingConsole() {}

void ApplyPlatformFont() {}

} // namespace tessor
