// What keyboard and screen-reader users meet on the pages (the accessible tree, the radios' checked
// state), the busy cursor while the UI thread waits for the board, and where F1 finds its help.
#include "pages/LedIndicator.h"
#include "pages/PageEthernetStatus.h"
#include "pages/PageGeneral.h"
#include "pages/PageLink.h"
#include "pages/PagePhyStatus.h"
#include "support/SimHarness.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessor {
namespace {

// The shape of the application's override cursor, or -1 when none is set.
int CursorShape() {
    const QCursor* cursor = QGuiApplication::overrideCursor();
    return cursor ? static_cast<int>(cursor->shape()) : -1;
}

// Records the cursor each time a local register operation returns on the UI thread.
class CursorAtEachOperation : public ITerminalSink {
public:
    CursorAtEachOperation() { g_pTerminalSink.store(this); }
    ~CursorAtEachOperation() override { g_pTerminalSink.store(nullptr); }
    void QueueLine(const std::string&, std::uint8_t) override {}
    void FlushLines() override { shapes.push_back(CursorShape()); }
    std::vector<int> shapes;
};

QString AccessibleText(QWidget* widget, QAccessible::Text kind) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
    return iface ? iface->text(kind) : QStringLiteral("<no interface>");
}

// Every read-only value field of a page is reachable by Tab, read-only, and named by its buddy label.
void ExpectValueFieldsReachable(QWidget& page, int expectedFields) {
    int fields = 0;
    for (QLabel* label : page.findChildren<QLabel*>()) {
        auto* edit = qobject_cast<QLineEdit*>(label->buddy());
        if (!edit)
            continue;
        ++fields;
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(edit);
        ASSERT_NE(iface, nullptr);
        EXPECT_EQ(iface->text(QAccessible::Name), label->text()) << edit->objectName().toStdString();
        EXPECT_TRUE(iface->state().readOnly) << edit->objectName().toStdString();
        EXPECT_TRUE(iface->state().focusable) << edit->objectName().toStdString();
        EXPECT_TRUE((edit->focusPolicy() & Qt::TabFocus) && edit->isEnabled())
            << edit->objectName().toStdString();
    }
    EXPECT_EQ(fields, expectedFields) << page.objectName().toStdString();
}

TEST(PageAccess, ValueFieldsAndIndicatorsAreNamedAndTheirStateIsSpoken) {
    test::SimBoard board;
    CPageLink link;
    link.SetModemSide(kSideLT);
    link.show();
    ExpectValueFieldsReachable(link, 4);
    CPageEthernet_Status ethernet;
    ExpectValueFieldsReachable(ethernet, 15);

    CPagePhy_Status phy;
    ExpectValueFieldsReachable(phy, 5);
    // Full constellation link up (a good state, green) and a micro interruption seen (a fault, red).
    PhyRegisters registers;
    registers.linkStatus = 0x80;
    registers.lineFlags = 0x80;
    phy.FormatPhyValues(DecodePhy(registers, std::nullopt));
    phy.OnTimer();
    const struct {
        int indicator;
        const char* name;
        const char* description;
    } expected[] = {
        {kIndFullConstellation, "Full Constellation Link", "on"},
        {kIndReducedConstellation, "Reduced Constellation Link", "off"},
        {kIndSignalDetected, "Signal Detected", "off"},
        {kIndMicroInterruption, "Micro Interruption occurred", "on"},
        {kIndAdcSaturation, "ADC Saturation", "off"},
        {kIndTimingConverged, "Timing Converged", "off"},
    };
    for (const auto& e : expected) {
        EXPECT_EQ(AccessibleText(phy.Indicator(e.indicator), QAccessible::Name), e.name);
        EXPECT_EQ(AccessibleText(phy.Indicator(e.indicator), QAccessible::Description), e.description)
            << e.name;
    }
    EXPECT_EQ(phy.Indicator(kIndFullConstellation)->CurrentImage(), CPagePhy_Status::kGreenImage);
    EXPECT_EQ(phy.Indicator(kIndMicroInterruption)->CurrentImage(), CPagePhy_Status::kRedImage);
    // The LT side has no timing indicator: grey, and said so.
    phy.show();
    phy.SetModemSide(kSideLT);
    EXPECT_EQ(AccessibleText(phy.Indicator(kIndTimingConverged), QAccessible::Description), "grey");
}

TEST(PageAccess, RadiosFollowTheirCheckedStateWithoutRegisterTraffic) {
    test::SimBoard board;
    CPageLink page;
    page.SetModemSide(kSideLT);
    page.show();
    board.ClearTraffic();
    auto* standard = page.findChild<QRadioButton*>(QStringLiteral("radioStandard"));
    auto* current = page.findChild<QRadioButton*>(QStringLiteral("radioCurrent"));
    auto* presets = page.findChild<QComboBox*>(QStringLiteral("cmbDsPreset"));
    auto* write = page.findChild<QPushButton*>(QStringLiteral("btnWriteUpdate"));
    ASSERT_TRUE(standard && current && presets && write);
    ASSERT_TRUE(current->isChecked());

    // A screen reader's toggle action checks the radio without a click.
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(standard);
    ASSERT_NE(iface, nullptr);
    ASSERT_NE(iface->actionInterface(), nullptr);
    iface->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    ASSERT_TRUE(standard->isChecked());
    EXPECT_TRUE(presets->isVisible());
    EXPECT_TRUE(write->isEnabled());
    const QString shownPreset = presets->currentText();

    // Pressing the checked one again changes nothing.
    standard->click();
    EXPECT_TRUE(standard->isChecked());
    EXPECT_EQ(presets->currentText(), shownPreset);

    // The keyboard (or any other way of checking it) returns to Current Settings.
    current->setChecked(true);
    EXPECT_FALSE(presets->isVisible());
    EXPECT_FALSE(write->isEnabled());
    EXPECT_TRUE(board.Commands().empty());
}

TEST(BusyCursor, ShownWhileTheUiThreadWaitsForTheBoardAndNormalForBoxes) {
    test::SimBoard board;
    test::BoxRecorder boxes;
    std::vector<int> shapeAtBox;
    ui::SetBoxHookForTesting([&](const ui::BoxRequest& request) {
        shapeAtBox.push_back(CursorShape());
        return request.buttons & QMessageBox::Ok ? QMessageBox::Ok : QMessageBox::Cancel;
    });
    CursorAtEachOperation cursor;

    CPageGeneral general;
    general.SetModemSide(kSideLT);
    general.findChild<QPushButton*>(QStringLiteral("btnSoftResetLocal"))->click();
    EXPECT_EQ(cursor.shapes, std::vector<int>{Qt::WaitCursor});
    EXPECT_EQ(CursorShape(), -1);

    // Write & Update: the warning box under the normal cursor, then the writes under the busy one.
    CPageLink link;
    link.SetModemSide(kSideLT);
    link.show();
    link.findChild<QRadioButton*>(QStringLiteral("radioStandard"))->click();
    cursor.shapes.clear();
    link.findChild<QPushButton*>(QStringLiteral("btnWriteUpdate"))->click();
    EXPECT_EQ(shapeAtBox, std::vector<int>{Qt::ArrowCursor});
    ASSERT_FALSE(cursor.shapes.empty());
    for (int shape : cursor.shapes)
        EXPECT_EQ(shape, Qt::WaitCursor);
    EXPECT_EQ(CursorShape(), -1);

    // Cancelled at the box: left early, and the cursor is back all the same.
    ui::SetBoxHookForTesting([](const ui::BoxRequest&) { return QMessageBox::Cancel; });
    link.findChild<QPushButton*>(QStringLiteral("btnWriteUpdate"))->click();
    EXPECT_EQ(CursorShape(), -1);
    ui::SetBoxHookForTesting(nullptr);
}

// Catches the help documents the tool hands to the desktop.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    OpenedUrls() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "Open"); }
    ~OpenedUrls() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QStringList paths;
public slots:
    void Open(const QUrl& url) { paths << url.toLocalFile(); }
};

void WriteFile(const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<html></html>");
}

TEST(HelpFallback, WorkingDirectoryFirstThenTheInstalledFolderElseABox) {
    QTemporaryDir workDir;
    QTemporaryDir dataDir;
    ASSERT_TRUE(workDir.isValid() && dataDir.isValid());
    // Working directory and installed folder are put back however the test ends.
    struct Restore {
        QString dir = QDir::currentPath();
        ~Restore() {
            ui::SetInstalledDataDirForTesting(QString());
            QDir::setCurrent(dir);
        }
    } restore;
    ASSERT_TRUE(QDir::setCurrent(workDir.path()));
    ui::SetInstalledDataDirForTesting(dataDir.path());
    OpenedUrls opened;
    test::BoxRecorder boxes;
    CPageGeneral page;
    page.show();

    // Neither folder has the page: a box says where it was looked for.
    QTest::keyClick(&page, Qt::Key_F1);
    EXPECT_TRUE(opened.paths.isEmpty());
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].title, "Help");
    EXPECT_TRUE(boxes.Boxes()[0].text.contains("Help/page_13.htm")) << boxes.Boxes()[0].text.toStdString();
    EXPECT_TRUE(boxes.Boxes()[0].text.contains(dataDir.path())) << boxes.Boxes()[0].text.toStdString();

    // Only the installed folder has it.
    WriteFile(dataDir.filePath("Help/page_13.htm"));
    QTest::keyClick(&page, Qt::Key_F1);
    // The working directory's copy wins once there is one.
    WriteFile(workDir.filePath("Help/page_13.htm"));
    QTest::keyClick(&page, Qt::Key_F1);
    EXPECT_EQ(opened.paths, (QStringList{QDir(dataDir.path()).absoluteFilePath("Help/page_13.htm"),
                                         QDir(workDir.path()).absoluteFilePath("Help/page_13.htm")}));
    EXPECT_EQ(boxes.Boxes().size(), 1u);
}

} // namespace
} // namespace tessor

#include "test_page_access.moc"
