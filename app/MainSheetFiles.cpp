// The File menu: save the local modem's configuration registers to a *.NT / *.LT file and load one back.
#include "app/MainSheet.h"

#include "history/LineHistory.h"
#include "model/ConfigFile.h"
#include "ops/ConfigFiles.h"
#include "ops/ProcessAccess.h"
#include "ui/Boxes.h"
#include "ui/BusyCursor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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

} // namespace

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
