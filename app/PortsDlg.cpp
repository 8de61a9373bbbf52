#include "app/PortsDlg.h"

#include "app/ComPorts.h"
#include "app/PortWatcher.h"
#include "app/Settings.h"
#include "link/NetworkPortName.h"
#include "link/SerialPort.h"
#include "ui_PortsDlg.h"

#include <QApplication>

#include <QPushButton>

namespace tessor {

namespace {

enum Column { kDevice, kAccess, kAdapter, kUsbId, kDriver, kSerial, kStableName };
// The name stored for the row's device (its by-id path where it has one).
constexpr int kStoredNameRole = Qt::UserRole;

QString AccessText(const SerialPortInfo& port) {
    if (!port.nodePresent)
        return QStringLiteral("no device node");
    if (!port.mayOpen)
        return QStringLiteral("no permission: join group \"%1\"").arg(QString::fromStdString(port.group));
    return QStringLiteral("yes");
}

QTreeWidgetItem* MakeItem(const SerialPortInfo& port) {
    auto* item = new QTreeWidgetItem;
    item->setText(kDevice, QString::fromStdString(port.devicePath));
    item->setText(kStableName, QString::fromStdString(port.byIdPath));
    item->setData(kDevice, kStoredNameRole, QString::fromStdString(PreferredPath(port)));
    item->setText(kAdapter, QString::fromStdString(AdapterName(port)));
    if (!port.vendorId.empty())
        item->setText(kUsbId, QString::fromStdString(port.vendorId + ":" + port.productId));
    item->setText(kDriver, QString::fromStdString(port.driver));
    item->setText(kSerial, QString::fromStdString(port.serialNumber));
    item->setText(kAccess, AccessText(port));
    QString tip = QString::fromStdString(PreferredPath(port));
    if (port.nodePresent && !port.mayOpen) {
        tip += QLatin1Char('\n') + QString::fromStdString(PermissionAdvice(port.group));
        item->setForeground(kAccess, QColor(0xb0, 0x00, 0x00));
    }
    for (int c = kDevice; c <= kStableName; ++c)
        item->setToolTip(c, tip);
    return item;
}

} // namespace

CPortsDlg::CPortsDlg(int comIndex, const DiscoveryOptions& options, QWidget* parent)
    : CPortWatchDlg(true, parent), m_ui(std::make_unique<Ui::CPortsDlg>()) {
    m_ui->setupUi(this);
    for (int n = 1; n <= 3; ++n)
        m_assigned[static_cast<std::size_t>(n - 1)] = QString::fromStdString(StoredComDevice(n));
    m_ui->comList->setCurrentIndex(comIndex >= 0 && comIndex <= 2 ? comIndex : 0);
    Watcher()->SetOptions(options);
    connect(Watcher(), &CPortWatcher::Changed, this, &CPortsDlg::FillList);
    connect(m_ui->deviceList, &QTreeWidget::currentItemChanged, this, &CPortsDlg::ShowAdvice);
    connect(m_ui->deviceList, &QTreeWidget::itemActivated, this, &CPortsDlg::OnAssign);
    connect(m_ui->assignButton, &QPushButton::clicked, this, &CPortsDlg::OnAssign);
    connect(m_ui->defaultButton, &QPushButton::clicked, this, &CPortsDlg::OnDefault);
    connect(m_ui->networkButton, &QPushButton::clicked, this, &CPortsDlg::OnAssignNetwork);
    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &CPortsDlg::accept);
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &CPortsDlg::reject);
    FillList();
}

CPortsDlg::~CPortsDlg() = default;

// Rebuilds the list, keeping the selected device selected while it is there.
void CPortsDlg::FillList() {
    QTreeWidget* list = m_ui->deviceList;
    const QTreeWidgetItem* current = list->currentItem();
    const QString selected = current ? current->text(kDevice) : QString();
    list->clear();
    for (const SerialPortInfo& port : Watcher()->Ports())
        list->addTopLevelItem(MakeItem(port));
    QTreeWidgetItem* keep = list->topLevelItem(0);
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (list->topLevelItem(i)->text(kDevice) == selected)
            keep = list->topLevelItem(i);
    }
    list->setCurrentItem(keep);
    for (int c = kDevice; c <= kStableName; ++c)
        list->resizeColumnToContents(c);
    m_ui->listLabel->setText(list->topLevelItemCount() ? QStringLiteral("Serial devices found:")
                                                       : QStringLiteral("Serial devices found: none"));
    m_ui->assignButton->setEnabled(list->topLevelItemCount() > 0);
    ShowAdvice();
    ShowAssignments();
}

void CPortsDlg::ShowAdvice() {
    QTreeWidgetItem* item = m_ui->deviceList->currentItem();
    const std::size_t row = item ? static_cast<std::size_t>(m_ui->deviceList->indexOfTopLevelItem(item)) : 0;
    const auto& ports = Watcher()->Ports();
    if (!item || row >= ports.size() || !ports[row].nodePresent || ports[row].mayOpen) {
        m_ui->adviceLabel->clear();
        return;
    }
    m_ui->adviceLabel->setText(QString::fromStdString(PermissionAdvice(ports[row].group)));
}

QString CPortsDlg::AssignmentText(int n) const {
    const QString& assigned = m_assigned[static_cast<std::size_t>(n - 1)];
    QString text = QStringLiteral("COM%1 = ").arg(n);
    text += assigned.isEmpty() ? DefaultComDevice(n) + QStringLiteral(" (default)") : assigned;
    const std::string kind = NetworkPortKind(assigned.toStdString());
    if (!kind.empty())
        text += QStringLiteral(", ") + QString::fromStdString(kind);
    if (ComSourceOf(n) == ComSource::Environment)
        text += QStringLiteral("; %1 is set and wins: %2").arg(ComVariable(n), ComDevice(n));
    return text;
}

void CPortsDlg::ShowAssignments() {
    QLabel* labels[] = {m_ui->com1Label, m_ui->com2Label, m_ui->com3Label};
    for (int n = 1; n <= 3; ++n)
        labels[n - 1]->setText(AssignmentText(n));
}

void CPortsDlg::OnAssign() {
    const QTreeWidgetItem* item = m_ui->deviceList->currentItem();
    if (!item)
        return;
    m_assigned[static_cast<std::size_t>(m_ui->comList->currentIndex())] =
        item->data(kDevice, kStoredNameRole).toString();
    ShowAssignments();
}

void CPortsDlg::OnDefault() {
    m_assigned[static_cast<std::size_t>(m_ui->comList->currentIndex())].clear();
    ShowAssignments();
}

void CPortsDlg::OnAssignNetwork() {
    NetworkPortName name;
    name.protocol =
        m_ui->protocolList->currentIndex() == 0 ? NetworkProtocol::Rfc2217 : NetworkProtocol::RawSocket;
    name.host = m_ui->hostEdit->text().trimmed().toStdString();
    if (name.host.size() > 2 && name.host.front() == '[' && name.host.back() == ']')
        name.host = name.host.substr(1, name.host.size() - 2);
    name.port = static_cast<std::uint16_t>(m_ui->tcpPortSpin->value());
    const std::string url = FormatNetworkPortName(name);
    const NetworkPortParse parse = ParseNetworkPortName(url);
    if (parse.kind != NetworkPortParse::Valid) {
        m_ui->networkStatus->setText(
            QStringLiteral("Not assigned: %1.").arg(QString::fromStdString(parse.problem)));
        return;
    }
    // The check is the opening itself: connection and, for RFC 2217, the negotiation (a few seconds at most).
    m_ui->networkStatus->setText(QStringLiteral("Connecting to %1 ...").arg(QString::fromStdString(url)));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    int error = 0;
    const bool opened = OpenSerialDevice(url, LineSettings{}, &error) != nullptr;
    QApplication::restoreOverrideCursor();
    if (!opened) {
        m_ui->networkStatus->setText(QStringLiteral("Not assigned: %1: %2.\n%3")
                                         .arg(QString::fromStdString(url),
                                              QString::fromStdString(SystemErrorMessage(error)),
                                              QString::fromStdString(NetworkOpenAdvice())));
        return;
    }
    const int index = m_ui->comList->currentIndex();
    m_assigned[static_cast<std::size_t>(index)] = QString::fromStdString(url);
    m_ui->networkStatus->setText(
        QStringLiteral(
            "Connected to %1: assigned to COM%2. The console crosses the network unencrypted; keep "
            "it on a management network.")
            .arg(QString::fromStdString(url))
            .arg(index + 1));
    ShowAssignments();
}

void CPortsDlg::accept() {
    for (int n = 1; n <= 3; ++n) {
        const std::string path = m_assigned[static_cast<std::size_t>(n - 1)].toStdString();
        if (path != StoredComDevice(n))
            StoreComDevice(n, path);
    }
    QDialog::accept();
}

} // namespace tessor
