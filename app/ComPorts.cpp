#include "app/ComPorts.h"

#include "app/Settings.h"
#include "link/NetworkPortName.h"
#include "link/SerialPort.h"

#include <cstring>

namespace tessor {

ComSource ComSourceOf(int n) {
    if (!qEnvironmentVariableIsEmpty(ComVariable(n).toLatin1().constData()))
        return ComSource::Environment;
    return StoredComDevice(n).empty() ? ComSource::Default : ComSource::Stored;
}

QString ComDevice(int n) {
    return QString::fromStdString(ResolveComName("COM" + std::to_string(n), &StoredComDevice));
}

QString DefaultComDevice(int n) {
    return QString::fromStdString(SystemComDevice(n));
}

QString ComVariable(int n) {
    return QStringLiteral("TESSOR_COM%1").arg(n);
}

QString ComDeviceLine(int n, const std::vector<SerialPortInfo>& ports,
                      const std::optional<OpenerIdentity>& identity) {
    const QString path = ComDevice(n);
    QString line = QStringLiteral("COM%1 = ").arg(n);
    if (IsNetworkPortName(path.toStdString())) {
        // A network console is not looked at here: a connection attempt would hold up the dialog.
        line += path + QStringLiteral(", ") + QString::fromStdString(NetworkPortKind(path.toStdString()));
        if (ComSourceOf(n) == ComSource::Environment)
            line += QStringLiteral(" (set by %1)").arg(ComVariable(n));
        return line;
    }
    const DeviceCheck check = CheckDevice(path.toStdString(), ports, identity);
    if (check.port) {
        const QString adapter = QString::fromStdString(AdapterName(*check.port));
        if (!adapter.isEmpty())
            line += adapter + QStringLiteral(", ");
    }
    line += path;
    switch (check.state) {
    case DeviceCheck::State::Ready:
        break;
    case DeviceCheck::State::Missing:
        line += QStringLiteral(": no such device");
        break;
    case DeviceCheck::State::Forbidden:
        line +=
            QStringLiteral(": no permission, join the group \"%1\"").arg(QString::fromStdString(check.group));
        break;
    case DeviceCheck::State::Unusable:
        line += QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(check.error));
        break;
    }
    if (ComSourceOf(n) == ComSource::Environment)
        line += QStringLiteral(" (set by %1)").arg(ComVariable(n));
    return line;
}

QString ComDeviceAdvice(int n, const std::vector<SerialPortInfo>& ports,
                        const std::optional<OpenerIdentity>& identity) {
    if (IsNetworkPortName(ComDevice(n).toStdString()))
        return QStringLiteral("The console of a board behind a console server, reached over the network "
                              "unencrypted: keep it on a management network.");
    const DeviceCheck check = CheckDevice(ComDevice(n).toStdString(), ports, identity);
    switch (check.state) {
    case DeviceCheck::State::Ready:
        return QString();
    case DeviceCheck::State::Forbidden:
        return QString::fromStdString(PermissionAdvice(check.group));
    default:
        break;
    }
    if (ComSourceOf(n) == ComSource::Environment)
        return QStringLiteral("%1 names this device; it is used whatever \"Ports...\" assigns.")
            .arg(ComVariable(n));
    return QStringLiteral("Plug in the adapter, or assign another device to COM%1 with \"Ports...\".").arg(n);
}

} // namespace tessor
