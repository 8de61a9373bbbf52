// The File menu: save the local modem's configuration registers to a *.NT / *.LT file and load one back.
#include "app/MainSheet.h"

#include "files/PlainFile.h"
#include "history/LineHistory.h"
#include "linetest/ConfigCompare.h"
#include "model/ConfigFile.h"
#include "ops/ConfigFiles.h"
#include "ops/ProcessAccess.h"
#include "ui/Boxes.h"
#include "ui/BusyCursor.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <array>
#include <cstdint>
#include <string>

namespace tessor {

namespace {

const char* const kSaveTitle = "Save current hardware registers to file";
const char* const kLoadTitle = "Load registers values from file to hardware";
const char* const kErrorTitle = "Error";

ui::FileDialogRequest ConfigFileDialog(ui::FileDialogKind kind, std::uint8_t side) {
    const bool nt = side == kConfigSideNT;
    ui::FileDialogRequest request;
    request.kind = kind;
    request.title = QString::fromLatin1(kind == ui::FileDialogKind::Save ? kSaveTitle : kLoadTitle);
    request.filter = nt ? QStringLiteral("NT Configuration files (*.NT)")
                        : QStringLiteral("LT Configuration files (*.LT)");
    request.defaultSuffix = nt ? QStringLiteral("NT") : QStringLiteral("LT");
    request.confirmOverwrite = kind == ui::FileDialogKind::Save;
    return request;
}

void ShowError(QWidget* parent, const QString& text) {
    ui::ShowBox(parent, QMessageBox::Warning, QString::fromLatin1(kErrorTitle), text, QMessageBox::Ok);
}

// Why a file could not be opened, in the words of the usual file-error messages.
QString FileErrorText(const QString& path, bool forWriting, const QString& detail) {
    const QFileInfo info(path);
    const QString name = QDir::toNativeSeparators(info.absoluteFilePath());
    const bool missing = forWriting ? !info.absoluteDir().exists() : !info.exists();
    if (missing)
        return QStringLiteral("%1 was not found.").arg(name);
    const bool denied = forWriting ? info.isDir() || (info.exists() && !info.isWritable()) ||
                                         !QFileInfo(info.absolutePath()).isWritable()
                                   : info.isDir() || !info.isReadable();
    if (denied)
        return QStringLiteral("Access to %1 was denied.").arg(name);
    return QStringLiteral("%1 could not be opened: %2.").arg(name, detail);
}

// The file in the system's encoding, as the plain-file functions take it.
std::string LocalPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// The whole of a small regular file (a pipe or a device is refused without waiting for it), or false
// after its box.
bool ReadConfigurationFile(QWidget* parent, const QString& path, std::string* bytes) {
    int error = 0;
    if (ReadSmallPlainFile(LocalPath(path), bytes, &error))
        return true;
    ShowError(parent, FileErrorText(path, false, QString::fromStdString(PlainFileErrorText(error))));
    return false;
}

QString Hex(const std::optional<std::uint8_t>& value) {
    return value ? QStringLiteral("%1").arg(*value, 2, 16, QLatin1Char('0')).toUpper() : QStringLiteral("--");
}

// The registers that differ, as verify lists them, each with its changes in the words of the pages.
void ShowComparison(QWidget* parent, const QString& name, const linetest::ConfigComparison& c,
                    const ConfigDiff& diff) {
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("compareDialog"));
    dialog.setWindowTitle(QStringLiteral("Compare with File"));
    auto* layout = new QVBoxLayout(&dialog);
    QString text = c.Equal()
                       ? QStringLiteral("The board carries the configuration of %1 (%2 registers compared).")
                             .arg(name)
                             .arg(c.compared)
                       : QStringLiteral("%1 of %2 registers differ from %3.")
                             .arg(c.differences.size())
                             .arg(c.compared)
                             .arg(name);
    if (!c.sideMatches)
        text +=
            QStringLiteral("\nModem side: file %1, board %2.")
                .arg(QString::fromLatin1(SideName(c.fileSide)), QString::fromLatin1(SideName(c.boardSide))) +
            QStringLiteral("\n") + QString::fromStdString(diff.SideNote());
    auto* label = new QLabel(text, &dialog);
    label->setObjectName(QStringLiteral("summary"));
    label->setWordWrap(true);
    layout->addWidget(label);
    auto* list = new QTreeWidget(&dialog);
    list->setObjectName(QStringLiteral("differences"));
    list->setHeaderLabels({QStringLiteral("Register"), QStringLiteral("File"), QStringLiteral("Board"),
                           QStringLiteral("Change")});
    list->setRootIsDecorated(false);
    for (const linetest::RegisterDifference& d : c.differences) {
        QStringList words;
        for (const std::string& line : diff.WordsUnder(d.address))
            words.append(QString::fromStdString(line));
        list->addTopLevelItem(new QTreeWidgetItem({QString::fromStdString(d.address), Hex(d.file),
                                                   Hex(d.board), words.join(QStringLiteral("; "))}));
    }
    for (int column = 0; column < 3; ++column)
        list->resizeColumnToContents(column);
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.resize(720, 360);
    dialog.exec();
}

} // namespace

void CMainSheet::OnCompareWithFile() {
    ui::FileDialogRequest request = ConfigFileDialog(ui::FileDialogKind::Open, m_side);
    request.title = QStringLiteral("Choose the file to compare with");
    const QString path = ui::AskFileName(this, request);
    if (path.isEmpty())
        return;
    const QString name = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    std::string bytes;
    if (!ReadConfigurationFile(this, path, &bytes))
        return;
    // The file first: for a file that is not a configuration nothing is read from the board.
    const linetest::ParsedConfiguration parsed = linetest::ParseConfiguration(bytes);
    if (!parsed.ok) {
        ShowError(this,
                  QStringLiteral("%1 is not a configuration file (%2).\nNothing was read from the board.")
                      .arg(name, QString::fromStdString(parsed.message)));
        return;
    }
    ops::SaveRead read;
    {
        const ui::CBusyCursor busy;
        read = ops::ReadConfiguration(ProcessBus(), m_side);
    }
    if (!read.ok) {
        ShowError(this,
                  QStringLiteral("The modem did not answer, or its answer was garbled, so its registers "
                                 "could not be read.\n%1 has not been compared.")
                      .arg(name));
        return;
    }
    ShowComparison(this, name, linetest::CompareConfiguration(parsed, read, m_side),
                   DiffConfigurations(linetest::RegisterSet(parsed), linetest::RegisterSet(read, m_side),
                                      m_crystalIndex));
}

void CMainSheet::OnSaveConfiguration() {
    const ui::CBusyCursor busy;
    const QString path = ui::AskFileName(this, ConfigFileDialog(ui::FileDialogKind::Save, m_side));
    if (path.isEmpty())
        return;

    // Written whole only when everything was read, so a failed save leaves no file of made-up values
    // behind (and an existing file as it was); whether it can be written is known before the reads.
    int error = 0;
    if (!CanReplacePlainFile(LocalPath(path), &error)) {
        ShowError(this, FileErrorText(path, true, QString::fromStdString(PlainFileErrorText(error))));
        return;
    }

    const ops::SaveRead read = ops::ReadConfiguration(ProcessBus(), m_side);
    if (!read.ok) {
        ShowError(
            this,
            QStringLiteral(
                "The modem did not answer, or its answer was garbled, so its registers could not be read.\n"
                "%1 has not been saved.")
                .arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath())));
        return;
    }

    if (!ReplacePlainFileContents(LocalPath(path), read.bytes.data(), read.bytes.size(), &error)) {
        ShowError(this, QStringLiteral("%1 could not be written: %2.")
                            .arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()),
                                 QString::fromStdString(PlainFileErrorText(error))));
    }
}

void CMainSheet::OnLoadConfiguration() {
    const ui::CBusyCursor busy;
    const QString path = ui::AskFileName(this, ConfigFileDialog(ui::FileDialogKind::Open, m_side));
    if (path.isEmpty())
        return;

    // The whole file is read and closed before the first register is written.
    std::string bytes;
    if (!ReadConfigurationFile(this, path, &bytes))
        return;

    // The whole file is checked before the first write: a refused file writes nothing.
    const ops::LoadResult result = ops::LoadConfiguration(ProcessBus(), bytes, m_side, ops::DefaultSleep);
    if (result.status == ops::LoadResult::Status::FileError) {
        ShowError(this, QString::fromLatin1(result.message.c_str()));
    } else if (result.status == ops::LoadResult::Status::BoardFailed) {
        ShowError(this, QStringLiteral("The modem did not answer while %1 was being loaded.\n"
                                       "%2 of its registers were written; the modem was not restarted.")
                            .arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()))
                            .arg(result.written));
    }
    if (result.status == ops::LoadResult::Status::Loaded)
        m_pHistory->OnAction(rec::Action::ConfigurationLoaded, QFileInfo(path).fileName().toStdString());
}

} // namespace tessor
