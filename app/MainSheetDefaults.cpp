// "Set to Default": the factory register table written to the remote modem (from the LT side, line up)
// and to the local modem, each followed by a restart.
#include "app/MainSheet.h"

#include "history/LineHistory.h"
#include "ops/ConfigFiles.h"
#include "ops/ProcessAccess.h"
#include "ui/Boxes.h"

namespace tessor {

void CMainSheet::SetToDefault() {
    ops::SetToDefault(ProcessBus(), m_side, m_crystalIndex, ops::DefaultSleep, [this] {
        ui::ShowBox(this, QMessageBox::Information, QString::fromLatin1(ops::kDefaultTitle),
                    QString::fromLatin1(ops::kDefaultNtSideText), QMessageBox::Ok);
    });
    m_pHistory->OnAction(rec::Action::SetToDefault, std::string());
}

void CMainSheet::WriteDefaults(int target) {
    ops::WriteDefaults(ProcessBus(), target, m_side, m_crystalIndex);
}

} // namespace tessor
