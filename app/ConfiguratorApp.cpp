#include "app/ConfiguratorApp.h"

#include "app/InitHardwareDlg.h"
#include "app/MainSheet.h"
#include "app/Settings.h"
#include "ui/QtUserPrompt.h"

namespace tessor {

int CConfiguratorApp::Run() {
    // Outlives the sheet: the sheet's threads may still ask for a box until it has stopped them, and
    // a thread that outlives the shutdown keeps it for good.
    auto uiPrompt = std::make_unique<ui::QtUserPrompt>();
    auto sheet = std::make_unique<CMainSheet>(QString::fromLatin1(CMainSheet::kCaption));
    if (prepareSheet)
        prepareSheet(*sheet);
    auto dialog = std::make_unique<CInitHardwareDlg>();
    const StartupChoices stored = ReadStartupChoices();
    dialog->m_crystalIndex = stored.crystalIndex;
    dialog->m_portIndex = stored.portIndex;
    dialog->OnInitDialog();
    const int answer = runDialog ? runDialog(*dialog) : dialog->exec();
    if (answer != QDialog::Accepted)
        return 0; // nothing opened, nothing stored

    // Remember the choices so the next run preselects the same port.
    WriteStartupChoices(StartupChoices{dialog->m_portIndex, dialog->m_crystalIndex});
    sheet->m_portIndex = dialog->m_portIndex;
    sheet->m_crystalIndex = dialog->m_crystalIndex;

    if (!sheet->OnInitDialog(prompt ? prompt : uiPrompt.get()))
        return 0;
    if (runSheet)
        runSheet(*sheet);
    else
        sheet->exec();
    if (!sheet->StopThreads())
        (void)uiPrompt.release();
    return 0;
}

} // namespace tessor
