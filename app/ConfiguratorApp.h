#pragma once

#include <functional>
#include <memory>

namespace tessor {

class CInitHardwareDlg;
class CMainSheet;
class IUserPrompt;

// Start-up: build the sheet, ask for the COM port, remember the choice, run the sheet.
class CConfiguratorApp {
public:
    // Each step that waits for a person can be replaced (tests drive the dialogs themselves).
    std::function<int(CInitHardwareDlg&)> runDialog;
    std::function<int(CMainSheet&)> runSheet;
    // Called on the new sheet before anything else (tests install the simulator here).
    std::function<void(CMainSheet&)> prepareSheet;
    // Answers the board link's boxes; null: boxes on the UI thread.
    IUserPrompt* prompt = nullptr;

    // Runs the whole start-up and returns the process exit code.
    int Run();
};

} // namespace tessor
