// The Info menu's "Version Info": the About box, rebuilt with fresh identification reads on every opening.
#include "app/AboutBox.h"
#include "app/MainSheet.h"

#include "VersionInfo.h"
#include "link/ConsolePort.h"
#include "link/RegisterAccess.h"
#include "ui/BusyCursor.h"

#include <cstdint>

namespace tessor {

namespace {

// The maker's line of the About box; fixed text, independent of the settings organisation name.
const char* const kMakerLine = "\n Halvoren";

// One identification register of the local modem as upper-case hexadecimal text of its low 16 bits, or
// "--" when the board did not answer (a cancelled time-out, or the transport gave up earlier).
QString ReadIdentification(const char* address) {
    const std::int64_t value = AccessLocalReg(kRead, address, " 1");
    const CConsolePort* port = g_pConsolePort.load();
    if (value < 0 || port == nullptr || port->NoComm())
        return QStringLiteral("--");
    return QStringLiteral("%1").arg(static_cast<unsigned>(value & 0xFFFF), 2, 16, QLatin1Char('0')).toUpper();
}

} // namespace

void CMainSheet::OnVersionInfo() {
    const ui::CBusyCursor busy;
    DestroyAboutBox();
    // A child of the sheet, so that it takes input while the sheet runs modally.
    m_pAboutBox = new CAboutBox(this);

    const QString id72 = ReadIdentification("8C72");
    const QString id73 = ReadIdentification("8C73");
    const QString id6F = ReadIdentification("8C6F");
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
