// The registry viewer over a test machine's registry, opened as the machine's registry
// editor: the key and value it is opened at, how values read, and that it only reads.

#include "UiTestSupport.h"
#include "registry/RegeditDriver.h"
#include "support/MachineFixture.h"
#include "ui/RegistryEditorViewer.h"
#include "ui/RegistryTreeModel.h"
#include "ui/RegistryValueModel.h"
#include "ui/RegistryViewer.h"
#include "win32/registry/Registry.h"

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QToolTip>
#include <QTreeView>
#include <QtTest>
#include <atomic>
#include <memory>
#include <thread>

using namespace ui_testing;

namespace {

const char* const kValuesKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Viewer\\Values";

// REGEDIT4 text is in the machine's code page: "\xe9" is an e with an acute accent.
const std::string kKeys = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Viewer\\Values]\n"
                          "@=\"\"\n"
                          "\"String\"=\"C:\\\\Program Files\\\\Caf\xe9\"\n"
                          "\"Expand\"=hex(2):25,53,79,73,74,65,6d,52,6f,6f,74,25,00\n"
                          "\"Binary\"=hex:01,ab,ff\n"
                          "\"EmptyBinary\"=hex:\n"
                          "\"Dword\"=dword:0000002a\n"
                          "\"DwordMax\"=dword:ffffffff\n"
                          "\"ShortDword\"=hex(4):01,02\n"
                          "\"BigEndian\"=hex(5):00,00,01,02\n"
                          "\"Qword\"=hex(b):00,01,00,00,00,00,00,00\n"
                          "\"QwordMax\"=hex(b):ff,ff,ff,ff,ff,ff,ff,ff\n"
                          "\"Multi\"=hex(7):6f,6e,65,00,74,77,6f,20,77,6f,72,64,73,00,00\n"
                          "\"None\"=hex(0):0a,0b\n"
                          "\"Link\"=hex(6):5c,00,52,00\n"
                          "\"Resources\"=hex(8):01\n"
                          "\"Odd\"=hex(20):ff\n"
                          "\"empty string\"=\"\"\n"
                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Viewer\\NoDefault]\n"
                          "\"Only\"=\"x\"\n"
                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Viewer\\Huge]\n"
                          "\"Text\"=\"@@HUGE@@\"\n"
                          "\"Bytes\"=hex:@@BINARY@@\n"
                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Viewer\\Nested\\Inner]\n"
                          "[HKEY_CURRENT_USER\\Software\\Acme]\n";

std::string fixtureText() {
    std::string text = kKeys;
    text.replace(text.find("@@HUGE@@"), 8, std::string(20000, 'x'));
    std::string bytes;
    for (int i = 0; i < 5000; ++i)
        bytes += (i ? "," : "") + QString::asprintf("%02x", i % 256).toStdString();
    text.replace(text.find("@@BINARY@@"), 10, bytes);
    return text;
}

QStringList column(const QAbstractItemModel& model, int column) {
    QStringList texts;
    for (int row = 0; row < model.rowCount(); ++row)
        texts << model.index(row, column).data().toString();
    return texts;
}

QString selectedKey(ui::RegistryViewer& viewer) {
    return QString::fromStdString(viewer.TreeModel()->KeyPath(viewer.Tree()->currentIndex()));
}

// The name of the selected value; empty when none is selected.
QString selectedValue(ui::RegistryViewer& viewer) {
    const QModelIndexList rows = viewer.ValueList()->selectionModel()->selectedRows();
    return rows.size() == 1 ? rows.front().data().toString() : QString();
}

std::string readString(HKEY root, const char* key, const char* name) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, key, 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS)
        return "<no key>";
    char buffer[256] = {};
    DWORD size = sizeof buffer;
    const LONG rc =
        RegQueryValueExA(handle, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(handle);
    return rc == ERROR_SUCCESS ? std::string(buffer) : "<no value>";
}

void createKey(const char* path, const char* valueName = nullptr) {
    HKEY key = nullptr;
    QCOMPARE(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                             nullptr),
             LONG(ERROR_SUCCESS));
    if (valueName)
        QCOMPARE(RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2),
                 LONG(ERROR_SUCCESS));
    RegCloseKey(key);
}

} // namespace

class TestRegistryViewer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void opensAtTheKeyWithItsValues();
    void selectsTheNamedValue();
    void keyWalk_data();
    void keyWalk();
    void valueText_data();
    void valueText();
    void longValuesAreCut();
    void aCutValueShowsItsWholeTextAsTooltip();
    void staysReadOnly();
    void closedViewerStartsAnewAndRefreshRereads();
    void leavesTheProgramFreeToQuit();
    void opensFromAnotherThread();
    void answersWhileAModalWindowRuns();
    void noEditorOnceUnregistered();

private:
    std::unique_ptr<testing_support::TestMachine> machine_;
    std::unique_ptr<ui::RegistryViewer> viewer_;
    std::unique_ptr<ui::RegistryEditorViewer> editor_;
    std::string fixture_;
};

void TestRegistryViewer::initTestCase() {
    fixture_ = fixtureText();
}

void TestRegistryViewer::init() {
    machine_ = std::make_unique<testing_support::TestMachine>(fixture_);
    viewer_ = std::make_unique<ui::RegistryViewer>();
    editor_ = std::make_unique<ui::RegistryEditorViewer>(*viewer_);
}

void TestRegistryViewer::cleanup() {
    editor_.reset();
    viewer_.reset();
    machine_.reset();
}

void TestRegistryViewer::cleanupTestCase() {
    win32::SetRegistryEditorWindow(nullptr);
}

void TestRegistryViewer::opensAtTheKeyWithItsValues() {
    ui::RegistryViewer& viewer = *viewer_;
    QVERIFY(!viewer.isVisible());
    QVERIFY(!win32::FindRegistryEditorWindow());
    QVERIFY(OpenRegeditAt("HKEY_LOCAL_MACHINE\\SOFTWARE\\Viewer\\NoDefault", ""));
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    QCOMPARE(viewer.windowTitle(), QString("Registry Editor"));
    QCOMPARE(win32::FindRegistryEditorWindow(), editor_.get());
    QCOMPARE(selectedKey(viewer), QString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Viewer\\NoDefault"));
    QCOMPARE(Child<QLabel>(viewer, "lblKeyPath")->text(),
             QString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Viewer\\NoDefault"));
    const auto& values = *viewer.ValueModel();
    QCOMPARE(values.columnCount(), 3);
    QCOMPARE(values.headerData(0, Qt::Horizontal).toString(), QString("Name"));
    QCOMPARE(values.headerData(1, Qt::Horizontal).toString(), QString("Type"));
    QCOMPARE(values.headerData(2, Qt::Horizontal).toString(), QString("Data"));
    // A key without a default value still lists it, as not set.
    QCOMPARE(column(values, 0), (QStringList{"(Default)", "Only"}));
    QCOMPARE(column(values, 1), (QStringList{"REG_SZ", "REG_SZ"}));
    QCOMPARE(column(values, 2), (QStringList{"(value not set)", "x"}));
    QCOMPARE(selectedValue(viewer), QString());

    // The default value first, the others by name without regard to case.
    QVERIFY(OpenRegeditAt(kValuesKey, ""));
    QCOMPARE(column(values, 0),
             (QStringList{"(Default)", "BigEndian", "Binary", "Dword", "DwordMax", "empty string",
                          "EmptyBinary", "Expand", "Link", "Multi", "None", "Odd", "Qword",
                          "QwordMax", "Resources", "ShortDword", "String"}));
}

void TestRegistryViewer::selectsTheNamedValue() {
    ui::RegistryViewer& viewer = *viewer_;
    QVERIFY(OpenRegeditAt(kValuesKey, "qWORD"));
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    QCOMPARE(selectedKey(viewer), QString(kValuesKey));
    QCOMPARE(selectedValue(viewer), QString("Qword"));
    QTreeView& list = *viewer.ValueList();
    QVERIFY(list.viewport()->rect().intersects(list.visualRect(list.currentIndex())));

    // A value the key does not have leaves none selected; the key stays.
    QVERIFY(OpenRegeditAt(kValuesKey, "Gone"));
    QCOMPARE(selectedKey(viewer), QString(kValuesKey));
    QCOMPARE(selectedValue(viewer), QString());
    // A key's own default value is selected by its empty name.
    QVERIFY(viewer.SelectValue(""));
    QCOMPARE(selectedValue(viewer), QString("(Default)"));
}

void TestRegistryViewer::keyWalk_data() {
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("selected");
    QTest::newRow("a key") << "HKEY_LOCAL_MACHINE\\SOFTWARE\\Viewer\\Nested\\Inner"
                           << "HKEY_LOCAL_MACHINE\\SOFTWARE\\Viewer\\Nested\\Inner";
    QTest::newRow("letter case does not count") << "hkey_local_machine\\software\\VIEWER\\nested"
                                                << "HKEY_LOCAL_MACHINE\\SOFTWARE\\Viewer\\Nested";
    QTest::newRow("a missing last key selects its parent")
        << "HKEY_LOCAL_MACHINE\\SOFTWARE\\Viewer\\Gone"
        << "HKEY_LOCAL_MACHINE\\SOFTWARE\\Viewer";
    QTest::newRow("the walk stops at the first name not found")
        << "HKEY_LOCAL_MACHINE\\SOFTWARE\\Gone\\Viewer"
        << "HKEY_LOCAL_MACHINE\\SOFTWARE";
    QTest::newRow("a hive") << "HKEY_CURRENT_USER"
                            << "HKEY_CURRENT_USER";
    QTest::newRow("doubled and trailing separators") << "HKEY_CURRENT_USER\\\\Software\\Acme\\"
                                                     << "HKEY_CURRENT_USER\\Software\\Acme";
    QTest::newRow("a root the tree does not have") << "HKEY_DYN_DATA\\Software"
                                                   << "";
}

void TestRegistryViewer::keyWalk() {
    QFETCH(QString, location);
    QFETCH(QString, selected);
    ui::RegistryViewer& viewer = *viewer_;
    QVERIFY(OpenRegeditAt(location.toStdString(), ""));
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    QTreeView& tree = *viewer.Tree();
    QVERIFY(tree.currentIndex().isValid());
    QVERIFY(tree.selectionModel()->isSelected(tree.currentIndex()));
    QCOMPARE(selectedKey(viewer), selected);
    QCOMPARE(QString::fromStdString(viewer.SelectedKeyLocation()), selected);
    QCOMPARE(Child<QLabel>(viewer, "lblKeyPath")->text(), selected);
    for (QModelIndex up = tree.currentIndex().parent(); up.isValid(); up = up.parent())
        QVERIFY(tree.isExpanded(up));
    QVERIFY(tree.viewport()->rect().intersects(tree.visualRect(tree.currentIndex())));
}

void TestRegistryViewer::valueText_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("data");
    QTest::newRow("empty default") << "(Default)"
                                   << "REG_SZ"
                                   << "";
    QTest::newRow("string in the code page")
        << "String"
        << "REG_SZ" << QString::fromUtf8("C:\\Program Files\\Caf\u00e9");
    QTest::newRow("empty string") << "empty string"
                                  << "REG_SZ"
                                  << "";
    QTest::newRow("expandable string") << "Expand"
                                       << "REG_EXPAND_SZ"
                                       << "%SystemRoot%";
    QTest::newRow("binary") << "Binary"
                            << "REG_BINARY"
                            << "01 ab ff";
    QTest::newRow("zero-length binary") << "EmptyBinary"
                                        << "REG_BINARY"
                                        << "(zero-length binary value)";
    QTest::newRow("dword") << "Dword"
                           << "REG_DWORD"
                           << "0x0000002a (42)";
    QTest::newRow("largest dword") << "DwordMax"
                                   << "REG_DWORD"
                                   << "0xffffffff (4294967295)";
    QTest::newRow("dword of two bytes") << "ShortDword"
                                        << "REG_DWORD"
                                        << "(invalid DWORD value)";
    QTest::newRow("big-endian dword") << "BigEndian"
                                      << "REG_DWORD_BIG_ENDIAN"
                                      << "0x00000102 (258)";
    QTest::newRow("qword") << "Qword"
                           << "REG_QWORD"
                           << "0x00000100 (256)";
    QTest::newRow("largest qword") << "QwordMax"
                                   << "REG_QWORD"
                                   << "0xffffffffffffffff (18446744073709551615)";
    QTest::newRow("multi-string") << "Multi"
                                  << "REG_MULTI_SZ"
                                  << "one two words";
    QTest::newRow("none") << "None"
                          << "REG_NONE"
                          << "0a 0b";
    QTest::newRow("link") << "Link"
                          << "REG_LINK"
                          << "5c 00 52 00";
    QTest::newRow("resource list") << "Resources"
                                   << "REG_RESOURCE_LIST"
                                   << "01";
    QTest::newRow("a type without a name") << "Odd"
                                           << "0x00000020"
                                           << "ff";
}

void TestRegistryViewer::valueText() {
    QFETCH(QString, name);
    QFETCH(QString, type);
    QFETCH(QString, data);
    ui::RegistryViewer& viewer = *viewer_;
    viewer.SelectKeyLocation(kValuesKey);
    const auto& values = *viewer.ValueModel();
    const int row = int(column(values, 0).indexOf(name));
    QVERIFY(row >= 0);
    QCOMPARE(values.index(row, 1).data().toString(), type);
    QCOMPARE(values.index(row, 2).data().toString(), data);
}

void TestRegistryViewer::longValuesAreCut() {
    ui::RegistryViewer& viewer = *viewer_;
    viewer.SelectKeyLocation("HKEY_LOCAL_MACHINE\\SOFTWARE\\Viewer\\Huge");
    const auto& values = *viewer.ValueModel();
    QCOMPARE(column(values, 0), (QStringList{"(Default)", "Bytes", "Text"}));
    const QString text = values.index(2, 2).data().toString();
    QVERIFY(text.size() < 5000);
    QVERIFY(text.size() > 2000);
    QVERIFY(text.endsWith("..."));
    QCOMPARE(text.chopped(3), QString(text.size() - 3, 'x'));
    const QString bytes = values.index(1, 2).data().toString();
    QVERIFY(bytes.size() < 5000);
    QVERIFY(bytes.size() > 2000);
    QVERIFY(bytes.startsWith("00 01 02 03"));
    QVERIFY(bytes.endsWith("..."));
}

// Hovering a value whose data does not fit its column shows the whole text; one that fits
// shows none.
void TestRegistryViewer::aCutValueShowsItsWholeTextAsTooltip() {
    ui::RegistryViewer& viewer = *viewer_;
    QVERIFY(OpenRegeditAt("HKEY_LOCAL_MACHINE\\SOFTWARE\\Viewer\\Huge", "Text"));
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    QTreeView& list = *viewer.ValueList();
    const auto hover = [&](const QModelIndex& cell) {
        QToolTip::hideText();
        QTRY_VERIFY(!QToolTip::isVisible());
        const QPoint at = list.visualRect(cell).center();
        QHelpEvent event(QEvent::ToolTip, at, list.viewport()->mapToGlobal(at));
        QApplication::sendEvent(list.viewport(), &event);
    };
    const QModelIndex text = viewer.ValueModel()->index(2, 2);
    hover(text);
    QVERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), text.data().toString());
    hover(viewer.ValueModel()->index(2, 0)); // "Text" fits
    QVERIFY(!QToolTip::isVisible());
}

void TestRegistryViewer::staysReadOnly() {
    ui::RegistryViewer& viewer = *viewer_;
    QVERIFY(OpenRegeditAt(kValuesKey, "String"));
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    QTreeView& list = *viewer.ValueList();
    QTreeView& tree = *viewer.Tree();
    for (int col = 0; col < 3; ++col)
        QVERIFY(!(viewer.ValueModel()->flags(list.model()->index(0, col)) & Qt::ItemIsEditable));
    QVERIFY(!(tree.model()->flags(tree.currentIndex()) & Qt::ItemIsEditable));
    // What edits or deletes in the Windows editor does nothing here.
    const QRect cell = list.visualRect(list.currentIndex());
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, cell.center());
    for (QWidget* view : {static_cast<QWidget*>(&list), static_cast<QWidget*>(&tree)})
        for (Qt::Key key : {Qt::Key_F2, Qt::Key_Delete, Qt::Key_Return, Qt::Key_Enter})
            QTest::keyClick(view, key);
    QVERIFY(list.findChildren<QLineEdit*>().isEmpty());
    QVERIFY(tree.findChildren<QLineEdit*>().isEmpty());
    QCOMPARE(list.contextMenuPolicy(), Qt::NoContextMenu);
    QCOMPARE(tree.contextMenuPolicy(), Qt::NoContextMenu);
    QCOMPARE(readString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Viewer\\Values", "String"),
             std::string("C:\\Program Files\\Caf\xe9"));
    QCOMPARE(selectedKey(viewer), QString(kValuesKey));
    QCOMPARE(viewer.ValueModel()->rowCount(), 17);
}

void TestRegistryViewer::closedViewerStartsAnewAndRefreshRereads() {
    ui::RegistryViewer& viewer = *viewer_;
    QVERIFY(OpenRegeditAt("HKEY_LOCAL_MACHINE\\SOFTWARE\\Viewer\\Nested", ""));
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    viewer.close();
    QVERIFY(!win32::FindRegistryEditorWindow());

    // Keys made while it was closed are there when it opens again.
    createKey("SOFTWARE\\Viewer\\Nested\\Later");
    QVERIFY(OpenRegeditAt("HKEY_LOCAL_MACHINE\\SOFTWARE\\Viewer\\Nested\\Later", ""));
    QVERIFY(viewer.isVisible());
    QCOMPARE(selectedKey(viewer), QString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Viewer\\Nested\\Later"));
    // Only the way to it is open: the editor started anew.
    QVERIFY(!viewer.Tree()->isExpanded(
        viewer.TreeModel()->FindChild(viewer.TreeModel()->TopIndex(), "HKEY_CURRENT_USER")));

    // While open, Refresh reads keys and values anew and keeps the selection.
    QVERIFY(OpenRegeditAt("HKEY_LOCAL_MACHINE\\SOFTWARE\\Viewer\\NoDefault", "Only"));
    createKey("SOFTWARE\\Viewer\\NoDefault", "Added");
    createKey("SOFTWARE\\Viewer\\Fresh");
    Child<QAction>(viewer, "actRefresh")->trigger();
    QCOMPARE(selectedKey(viewer), QString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Viewer\\NoDefault"));
    QCOMPARE(column(*viewer.ValueModel(), 0), (QStringList{"(Default)", "Added", "Only"}));
    QCOMPARE(selectedValue(viewer), QString("Only"));
    viewer.SelectKeyLocation("HKEY_LOCAL_MACHINE\\SOFTWARE\\Viewer\\Fresh");
    QCOMPARE(selectedKey(viewer), QString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Viewer\\Fresh"));
}

void TestRegistryViewer::leavesTheProgramFreeToQuit() {
    QWidget home;
    home.show();
    QVERIFY(OpenRegeditAt(kValuesKey, ""));
    QVERIFY(QTest::qWaitForWindowExposed(viewer_.get()));
    // Closing the program's last window ends the event loop although the viewer is open.
    bool ended = true;
    QTimer::singleShot(0, &home, [&home] { home.close(); });
    QTimer stuck;
    stuck.setSingleShot(true);
    connect(&stuck, &QTimer::timeout, [&ended] {
        ended = false;
        QApplication::quit();
    });
    stuck.start(10000);
    QApplication::exec();
    QVERIFY(ended);
}

void TestRegistryViewer::opensFromAnotherThread() {
    std::atomic<int> opened{-1};
    std::thread caller([&opened] { opened = OpenRegeditAt(kValuesKey, "Dword") ? 1 : 0; });
    QTRY_VERIFY(opened != -1);
    caller.join();
    QCOMPARE(opened.load(), 1);
    QVERIFY(viewer_->isVisible());
    QCOMPARE(selectedKey(*viewer_), QString(kValuesKey));
    QCOMPARE(selectedValue(*viewer_), QString("Dword"));
}

void TestRegistryViewer::answersWhileAModalWindowRuns() {
    // The scan results that open the viewer are in a modal window; on Windows the editor
    // is a program of its own, which that window does not block.
    QDialog results;
    QString clicked;
    WhenModal<QDialog>([this, &clicked](QDialog& shown) {
        QVERIFY(OpenRegeditAt("HKEY_LOCAL_MACHINE\\SOFTWARE\\Viewer\\Nested", ""));
        QVERIFY(QTest::qWaitForWindowExposed(viewer_.get()));
        QTreeView& tree = *viewer_->Tree();
        tree.expand(tree.currentIndex());
        const QModelIndex inner = tree.model()->index(0, 0, tree.currentIndex());
        tree.scrollTo(inner);
        QVERIFY(tree.viewport()->rect().contains(tree.visualRect(inner).center()));
        // Through the window, as the window system delivers it: a blocked window gets none.
        QTest::mouseClick(viewer_->windowHandle(), Qt::LeftButton, {},
                          tree.viewport()->mapTo(viewer_.get(), tree.visualRect(inner).center()));
        clicked = selectedKey(*viewer_);
        shown.reject();
    });
    results.exec();
    QCOMPARE(clicked, QString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Viewer\\Nested\\Inner"));
}

void TestRegistryViewer::noEditorOnceUnregistered() {
    editor_.reset();
    QVERIFY(!OpenRegeditAt(kValuesKey, ""));
    QVERIFY(!viewer_->isVisible());
}

QTEST_MAIN(TestRegistryViewer)
#include "test_ui_registry_viewer.moc"
