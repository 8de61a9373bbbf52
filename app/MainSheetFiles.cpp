// The File menu: save the local modem's configuration registers to a *.NT / *.LT file and load one back.
#include "app/MainSheet.h"

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
#include <QSaveFile>
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

QString Hex(const std::optional<std::uint8_t>& value) {
    return value ? QStringLiteral("%1").arg(*value, 2, 16, QLatin1Char('0')).toUpper() : QStringLiteral("--");
}

// The registers that differ, as verify lists them, in a dialog.
void ShowComparison(QWidget* parent, const QString& name, const linetest::ConfigComparison& c) {
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
        text += QStringLiteral("\nModem side: file %1, board %2.")
                    .arg(QString::fromLatin1(linetest::SideText(c.fileSide)),
                         QString::fromLatin1(linetest::SideText(c.boardSide)));
    auto* label = new QLabel(text, &dialog);
    label->setObjectName(QStringLiteral("summary"));
    label->setWordWrap(true);
    layout->addWidget(label);
    auto* list = new QTreeWidget(&dialog);
    list->setObjectName(QStringLiteral("differences"));
    list->setHeaderLabels({QStringLiteral("Register"), QStringLiteral("File"), QStringLiteral("Board")});
    list->setRootIsDecorated(false);
    for (const linetest::RegisterDifference& d : c.differences)
        list->addTopLevelItem(
            new QTreeWidgetItem({QString::fromStdString(d.address), Hex(d.file), Hex(d.board)}));
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.resize(420, 320);
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
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ShowError(this, FileErrorText(path, false, file.errorString()));
        return;
    }
    const QByteArray bytes = file.readAll();
    // The file first: for a file that is not a configuration nothing is read from the board.
    const linetest::ParsedConfiguration parsed =
        linetest::ParseConfiguration(std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
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
    ShowComparison(this, name, linetest::CompareConfiguration(parsed, read, m_side));
}

void CMainSheet::OnSaveConfiguration() {
    const ui::CBusyCursor busy;
    const QString path = ui::AskFileName(this, ConfigFileDialog(ui::FileDialogKind::Save, m_side));
    if (path.isEmpty())
        return;

    // Written to a temporary file that replaces the chosen one only when everything was read, so a failed
    // save leaves no file of made-up values behind (and an existing file as it was).
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        ShowError(this, FileErrorText(path, true, file.errorString()));
        return;
    }

    const ops::SaveRead read = ops::ReadConfiguration(ProcessBus(), m_side);
    if (!read.ok) {
        file.cancelWriting();
        ShowError(
            this,
            QStringLiteral(
                "The modem did not answer, or its answer was garbled, so its registers could not be read.\n"
                "%1 has not been saved.")
                .arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath())));
        return;
    }

    const std::string& bytes = read.bytes;
    const qint64 size = static_cast<qint64>(bytes.size());
    if (file.write(bytes.data(), size) != size || !file.commit()) {
        ShowError(this,
                  QStringLiteral("%1 could not be written: %2.")
                      .arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()), file.errorString()));
    }
}

void CMainSheet::OnLoadConfiguration() {
    const ui::CBusyCursor busy;
    const QString path = ui::AskFileName(this, ConfigFileDialog(ui::FileDialogKind::Open, m_side));
    if (path.isEmpty())
        return;

    // The whole file is read and closed before the first register is written.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ShowError(this, FileErrorText(path, false, file.errorString()));
        return;
    }
    const QByteArray bytes = file.readAll();
    const bool readFailed = file.error() != QFileDevice::NoError;
    const QString readError = file.errorString();
    file.close();
    if (readFailed) {
        ShowError(this, QStringLiteral("%1 could not be read: %2.")
                            .arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()), readError));
        return;
    }

    // The whole file is checked before the first write: a refused file writes nothing.
    const ops::LoadResult result = ops::LoadConfiguration(
        ProcessBus(), std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())), m_side,
        ops::DefaultSleep);
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
