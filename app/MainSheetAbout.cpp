// The Info menu's "Version Info": the About box, rebuilt with fresh identification reads on every opening.
#include "app/AboutBox.h"
#include "app/MainSheet.h"

#include "VersionInfo.h"
#include "ops/Board.h"
#include "ui/BusyCursor.h"

namespace tessor {

namespace {

// The maker's line of the About box; fixed text, independent of the settings organisation name.
const char* const kMakerLine = "\n Halvoren";

} // namespace

void CMainSheet::OnVersionInfo() {
    const ui::CBusyCursor busy;
    DestroyAboutBox();
    // A child of the sheet, so that it takes input while the sheet runs modally.
    m_pAboutBox = new CAboutBox(this);

    const ops::BoardIdentification id = ops::ReadBoardIdentification(ProcessBus());
    const QString id72 = QString::fromStdString(ops::IdentificationText(id.id72));
    const QString id73 = QString::fromStdString(ops::IdentificationText(id.id73));
    const QString id6F = QString::fromStdString(ops::IdentificationText(id.id6F));
    m_pAboutBox->SetBoardIdentification(
        QStringLiteral("Board identification:  8C72 = %1   8C73 = %2   8C6F = %3").arg(id72, id73, id6F));

    // Each piece goes to the front, so the block ends with the maker's line and then its web address.
    m_pAboutBox->PrependCompanyText(QStringLiteral("\n ") + QString::fromUtf8(version::kCompanyWeb) +
                                    QStringLiteral("    "));
    m_pAboutBox->PrependCompanyText(QString::fromLatin1(kMakerLine));
    m_pAboutBox->PrependCompanyText(QStringLiteral("\n "));
    m_pAboutBox->PrependCompanyText(QStringLiteral("\n "));

    m_pAboutBox->OnInitDialog();
    m_pAboutBox->show();
}

void CMainSheet::DestroyAboutBox() {
    delete m_pAboutBox;
    m_pAboutBox = nullptr;
}

} // namespace tessor
