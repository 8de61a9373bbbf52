// Which device each COM entry opens: the Initialize Hardware dialog's device line and the Ports dialog,
// against a made-up device tree.

#include "app/InitHardwareDlg.h"
#include "app/MainSheet.h"
#include "app/PortWatcher.h"
#include "app/PortsDlg.h"
#include "app/Settings.h"
#include "link/PosixSerialDevice.h"
#include "support/FakePortTree.h"
#include "support/SimHarness.h"
#include "ui_InitHardwareDlg.h"
#include "ui_PortsDlg.h"

#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessor::test {
namespace {

class PortsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
        for (const char* var : {"TESSOR_COM1", "TESSOR_COM2", "TESSOR_COM3"})
            qunsetenv(var);
        tree.AddUsb(ftdi);
        options.devRoot = tree.Dev();
        options.sysRoot = tree.Sys();
    }
    void TearDown() override { qunsetenv("TESSOR_COM3"); }

    QString Line(CInitHardwareDlg& dlg, int index) {
        dlg.Form()->portList->setCurrentIndex(index);
        return dlg.Form()->deviceLine->text();
    }
    static QString Q(const std::string& s) { return QString::fromStdString(s); }

    QTemporaryDir m_dir;
    FakePortTree tree;
    FakeAdapter ftdi;
    DiscoveryOptions options;
};

TEST_F(PortsTest, DeviceLineNamesTheAdapterOrSaysWhatIsWrong) {
    StoreComDevice(1, tree.ById(ftdi.byId));
    StoreComDevice(2, tree.Node("ttyUSB9"));
    StoreComDevice(3, tree.Node("ttyUSB1"));
    qputenv("TESSOR_COM3", QByteArray::fromStdString(tree.Node("ttyUSB0")));
    CInitHardwareDlg dlg;
    dlg.SetDiscoveryOptions(options);
    dlg.OnInitDialog();
    const QString byId = Q(tree.ById(ftdi.byId));
    EXPECT_EQ(Line(dlg, 0), "COM1 = FTDI FT232R USB UART, " + byId);
    EXPECT_TRUE(dlg.Form()->deviceLine->toolTip().isEmpty());
    EXPECT_EQ(Line(dlg, 1), Q("COM2 = " + tree.Node("ttyUSB9") + ": no such device"));
    EXPECT_EQ(Line(dlg, 2),
              Q("COM3 = FTDI FT232R USB UART, " + tree.Node("ttyUSB0") + " (set by TESSOR_COM3)"));

    // A user outside the owning group is told which group to join.
    ASSERT_EQ(::chmod(tree.Node("ttyUSB0").c_str(), 0660), 0);
    const std::string group = OwningGroup(tree.Node("ttyUSB0"));
    options.identity = OpenerIdentity{54321, {54321}};
    dlg.SetDiscoveryOptions(options);
    EXPECT_EQ(Line(dlg, 0), "COM1 = FTDI FT232R USB UART, " + byId + ": no permission, join the group \"" +
                                Q(group) + "\"");
    EXPECT_EQ(dlg.Form()->deviceLine->toolTip(), Q(PermissionAdvice(group)));
    EXPECT_EQ(dlg.Form()->portsButton->text(), "Ports...");
}

TEST_F(PortsTest, AssignmentIsStoredByItsStableNameAndUsedNextTime) {
    FakeAdapter second;
    second.kernel = "ttyUSB1";
    second.usbPort = "1-4";
    second.byId.clear(); // an adapter without a by-id link is stored by its node
    tree.AddUsb(second);
    CInitHardwareDlg dlg;
    dlg.SetDiscoveryOptions(options);
    dlg.m_portIndex = 1;
    dlg.OnInitDialog();
    dlg.runPortsDialog = [&](CPortsDlg& ports) {
        EXPECT_EQ(ports.Form()->comList->currentText(), "COM2"); // the entry chosen in Initialize Hardware
        EXPECT_EQ(ports.Form()->deviceList->topLevelItemCount(), 2);
        EXPECT_EQ(ports.Form()->deviceList->topLevelItem(0)->text(1), "yes");
        ports.OnAssign(); // the first device, selected when the dialog opens
        ports.Form()->comList->setCurrentIndex(2);
        ports.Form()->deviceList->setCurrentItem(ports.Form()->deviceList->topLevelItem(1));
        ports.OnAssign();
        EXPECT_EQ(ports.Form()->com2Label->text(), Q("COM2 = " + tree.ById(ftdi.byId)));
        EXPECT_EQ(ports.Form()->com1Label->text(), "COM1 = /dev/ttyS0 (default)");
        ports.accept();
        return static_cast<int>(QDialog::Accepted);
    };
    dlg.OnPortsButton();
    EXPECT_EQ(StoredComDevice(2), tree.ById(ftdi.byId));
    EXPECT_EQ(StoredComDevice(3), tree.Node("ttyUSB1"));
    EXPECT_EQ(StoredComDevice(1), "");
    EXPECT_EQ(dlg.Form()->deviceLine->text(), Q("COM2 = FTDI FT232R USB UART, " + tree.ById(ftdi.byId)));
    EXPECT_EQ(ResolveComName("COM2:", &StoredComDevice), tree.ById(ftdi.byId)); // what the next start opens

    // Use Default removes the setting again.
    CPortsDlg again(1, options);
    again.OnDefault();
    again.accept();
    EXPECT_EQ(StoredComDevice(2), "");
    EXPECT_FALSE(QSettings(QStringLiteral("Calvadra"), QCoreApplication::applicationName())
                     .contains(QStringLiteral("Ports/COM2")));
}

// A listening socket on 127.0.0.1 (the kernel completes connections to it without an accept).
class Listener {
public:
    Listener() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(m_fd, 4) == 0 &&
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &size) == 0)
            port = ntohs(a.sin_port);
    }
    ~Listener() { Close(); }
    void Close() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    int port = 0;

private:
    int m_fd = -1;
};

TEST_F(PortsTest, NetworkConsoleIsAssignedOnlyOnceAConnectionToItSucceeds) {
    Listener server;
    ASSERT_NE(server.port, 0);
    const QString url = QStringLiteral("socket://127.0.0.1:%1").arg(server.port);
    CInitHardwareDlg dlg;
    dlg.SetDiscoveryOptions(options);
    dlg.m_portIndex = 1;
    dlg.OnInitDialog();
    dlg.runPortsDialog = [&](CPortsDlg& ports) {
        auto* form = ports.Form();
        form->hostEdit->setText(QStringLiteral("127.0.0.1"));
        form->tcpPortSpin->setValue(server.port);
        form->protocolList->setCurrentIndex(1); // raw TCP
        form->networkButton->click();
        EXPECT_EQ(form->com2Label->text(),
                  QStringLiteral("COM2 = ") + url + QStringLiteral(", network console"));
        EXPECT_TRUE(form->networkStatus->text().startsWith(QStringLiteral("Connected to ") + url))
            << form->networkStatus->text().toStdString();

        // Nobody listens any more: COM3 keeps its default, and the reason is shown.
        Listener gone;
        const int refusedPort = gone.port;
        gone.Close();
        form->comList->setCurrentIndex(2);
        form->tcpPortSpin->setValue(refusedPort);
        form->networkButton->click();
        EXPECT_EQ(form->com3Label->text(), "COM3 = /dev/ttyS2 (default)");
        EXPECT_TRUE(form->networkStatus->text().contains(QStringLiteral("Connection refused")))
            << form->networkStatus->text().toStdString();

        // An empty host is no name at all.
        form->hostEdit->clear();
        form->networkButton->click();
        EXPECT_TRUE(form->networkStatus->text().startsWith(QStringLiteral("Not assigned: no host")))
            << form->networkStatus->text().toStdString();
        ports.accept();
        return static_cast<int>(QDialog::Accepted);
    };
    dlg.OnPortsButton();
    EXPECT_EQ(StoredComDevice(2), url.toStdString());
    EXPECT_EQ(StoredComDevice(3), "");
    EXPECT_EQ(dlg.Form()->deviceLine->text(),
              QStringLiteral("COM2 = ") + url + QStringLiteral(", network console"));
    EXPECT_EQ(ResolveComName("COM2:", &StoredComDevice), url.toStdString()); // what the next start opens
}

TEST_F(PortsTest, CancelStoresNothingAndTheVariableStillWins) {
    StoreComDevice(1, "/dev/ttyACM3");
    qputenv("TESSOR_COM3", "/dev/pts/77");
    CPortsDlg dlg(0, options);
    dlg.OnAssign();
    dlg.Form()->comList->setCurrentIndex(2);
    dlg.OnAssign();
    EXPECT_EQ(dlg.Form()->com3Label->text(),
              Q("COM3 = " + tree.ById(ftdi.byId) + "; TESSOR_COM3 is set and wins: /dev/pts/77"));
    dlg.reject();
    EXPECT_EQ(StoredComDevice(1), "/dev/ttyACM3");
    EXPECT_EQ(StoredComDevice(3), "");
    EXPECT_EQ(ResolveComName("COM3:", &StoredComDevice), "/dev/pts/77");
}

TEST_F(PortsTest, ListFollowsAdaptersPluggedInAndOutAndMarksForbiddenOnes) {
    CPortsDlg dlg(0, options);
    QTreeWidget* list = dlg.Form()->deviceList;
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(list->topLevelItem(0)->text(0), Q(tree.Node("ttyUSB0")));
    EXPECT_EQ(list->topLevelItem(0)->text(2), "FTDI FT232R USB UART");
    EXPECT_EQ(list->topLevelItem(0)->text(3), "0403:6001");

    FakeAdapter plugged;
    plugged.kernel = "ttyACM0";
    plugged.usbPort = "1-3";
    plugged.byId = "usb-Maker_Board_42-if00";
    plugged.acm = true;
    plugged.driver = "cdc_acm";
    tree.AddUsb(plugged);
    ASSERT_EQ(::chmod(tree.Node("ttyACM0").c_str(), 0660), 0);
    DiscoveryOptions outsider = options;
    outsider.identity = OpenerIdentity{54321, {54321}};
    dlg.Watcher()->SetOptions(outsider); // also a rescan
    ASSERT_EQ(list->topLevelItemCount(), 2);
    const std::string group = OwningGroup(tree.Node("ttyACM0"));
    EXPECT_EQ(list->topLevelItem(0)->text(1), Q("no permission: join group \"" + group + "\""));
    list->setCurrentItem(list->topLevelItem(0));
    EXPECT_EQ(dlg.Form()->adviceLabel->text(), Q(PermissionAdvice(group)));

    // Unplugged: the node goes; the selection falls back to what is left.
    ASSERT_EQ(::unlink(tree.Node("ttyUSB0").c_str()), 0);
    std::filesystem::remove(tree.Sys() + "/class/tty/ttyUSB0");
    dlg.Watcher()->Rescan();
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(list->currentItem()->text(0), Q(tree.Node("ttyACM0")));
}

TEST_F(PortsTest, MainWindowNamesTheDeviceInUse) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string pty = ::ptsname(master);
    qputenv("TESSOR_COM1", QByteArray::fromStdString(pty));
    FakePrompt prompt;
    {
        CMainSheet sheet{QString::fromLatin1(CMainSheet::kCaption)};
        sheet.SetClosePauseMs(0);
        ASSERT_TRUE(sheet.OnInitDialog(&prompt)); // the default transport, opening the pseudo-terminal
        EXPECT_EQ(sheet.windowTitle(), "Tessor Console Configurator");
        EXPECT_EQ(sheet.PortLabel()->toolTip(), Q("COM1 = " + pty + " (set by TESSOR_COM1)"));
        EXPECT_FALSE(sheet.PortLabel()->text().isEmpty());
    }
    qunsetenv("TESSOR_COM1");
    ::close(master);
}

} // namespace
} // namespace tessor::test
