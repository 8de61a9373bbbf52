// On Linux the desktop's own font (Qt takes it from the platform theme or fontconfig).
#include "app/PlatformFont.h"

namespace tessor {

void ApplyPlatformFont() {}

} // namespace tessor
