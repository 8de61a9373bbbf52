// Commands whose windows are not built yet: they do nothing.
#include "app/MainSheet.h"

namespace tessor {

void CMainSheet::SetToDefault() {}
void CMainSheet::WriteDefaults(int) {}
void CMainSheet::OnSaveConfiguration() {}
void CMainSheet::OnLoadConfiguration() {}
void CMainSheet::OnCompareWithFile() {}
void CMainSheet::OnVersionInfo() {}
void CMainSheet::DestroyAboutBox() {}

} // namespace tessor
