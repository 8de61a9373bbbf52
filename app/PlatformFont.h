#pragma once

namespace tessor {

// Gives the application the user interface font it looks right with on this system. Called once, after
// the application object exists and before the first window.
void ApplyPlatformFont();

} // namespace tessor
