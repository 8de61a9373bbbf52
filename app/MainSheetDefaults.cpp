// "Set to Default": the factory register table written to the remote modem (from the LT side, line up)
// and to the local modem, each followed by a restart.
#include "app/MainSheet.h"

#include "history/LineHistory.h"

#include "link/ConsolePort.h"
#include "link/RegisterAccess.h"
#include "ui/Boxes.h"

#include <cstdint>

namespace tessor {

namespace {

struct DefaultEntry {
    const char* address;
    const char* value;
};

// Written to every modem first.
const DefaultEntry kCommonDefaults[] = {
    {"8C10", "32"}, {"8C11", "24"}, {"8C12", "4F"}, {"8C13", "00"}, {"8C14", "E3"},
    {"8C15", "00"}, {"8C1E", "01"}, {"8D40", "3E"}, {"8D41", "E1"}, {"8D42", "22"},
    {"8D43", "F0"}, {"8D45", "D0"}, {"8D46", "CD"}, {"8D48", "00"}, {"8D49", "80"},
};

// The local modem when it is LT.
const DefaultEntry kLtProfile[] = {
    {"8D47", "BF"}, {"8C17", "C9"}, {"8C18", "01"}, {"8C19", "6F"}, {"8C1A", "8A"},
    {"8C1B", "4A"}, {"8C1C", "92"}, {"8C1D", "06"}, {"8C67", "05"}, {"8C21", "00"},
};

// The local modem when it is NT, and the remote modem (then always NT).
const DefaultEntry kNtProfile[] = {
    {"8D47", "3F"}, {"8C17", "00"}, {"8C18", "04"}, {"8C1F", "10"}, {"8C20", "00"}, {"8C19", "56"},
    {"8C1A", "61"}, {"8C1B", "51"}, {"8C1C", "D7"}, {"8C1D", "04"}, {"8C67", "00"}, {"8C21", "00"},
};

// The table is made for the 25.00 MHz crystal (choice 2).
constexpr std::uint8_t kTableCrystal = 2;
constexpr std::uint8_t kSideLT = 1;
constexpr std::uint8_t kSideNT = 2;

const char* const kTitle = "Set to Default";
const char* const kNtSideText =
    "The configuration of the remote modem cannot be changed from the NT side. Only the local modem is now "
    "set to default. In order to set also the remote modem to default please connect the LT modem to your "
    "PC, re-start the Zentra Configurator and press the Set-to-Default button.";

} // namespace

void CMainSheet::SetToDefault() {
    if (IsLinkUp()) {
        if (m_side == kSideNT) {
            ui::ShowBox(this, QMessageBox::Information, QString::fromLatin1(kTitle),
                        QString::fromLatin1(kNtSideText), QMessageBox::Ok);
        } else {
            WriteDefaults(kRemote);
            RestartModem(kRemote);
        }
    }
    WriteDefaults(kLocal);
    RestartModem(kLocal);
    m_pHistory->OnAction(rec::Action::SetToDefault, std::string());
}

void CMainSheet::WriteDefaults(int target) {
    const auto access = target == kRemote ? &AccessRemoteReg : &AccessLocalReg;
    if (m_crystalIndex != kTableCrystal)
        return;
    // Results are not tested: a failed write does not stop the others.
    for (const DefaultEntry& entry : kCommonDefaults)
        access(kWrite, entry.address, entry.value);
    if (m_side == kSideLT && target != kRemote) {
        for (const DefaultEntry& entry : kLtProfile)
            access(kWrite, entry.address, entry.value);
    } else {
        for (const DefaultEntry& entry : kNtProfile)
            access(kWrite, entry.address, entry.value);
    }
}

} // namespace tessor
