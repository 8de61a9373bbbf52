#pragma once

// What the window program does its own way on each system; one implementation file per system.
namespace tessor {

// Makes standard output and error reach the console the program was started from, where it has none
// of its own (a Windows window program), so that --help and --version print there.
void ConnectStartingConsole();

// Gives the application the user interface font it looks right with on this system. Called once, after
// the application object exists and before the first window.
void ApplyPlatformFont();

} // namespace tessor
