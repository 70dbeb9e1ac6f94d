// The browse-key dialog over a test machine's registry: the tree as it loads level by
// level, selecting keys, and the preset path walk.

#include "UiTestSupport.h"
#include "support/MachineFixture.h"
#include "ui/RegistryTreeModel.h"
#include "ui/TfrmBrowsekey.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>
#include <memory>

using namespace ui_testing;

namespace {

const char* const kKeys = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Browse\\beta]\n"
                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Browse\\Alpha\\Inner\\Deepest]\n"
                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Browse\\gamma]\n"
                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Browse\\Delta]\n"
                          "[HKEY_CURRENT_USER\\Software\\Acme]\n";

QStringList childTexts(const QAbstractItemModel& model, const QModelIndex& parent) {
    QStringList texts;
    for (int row = 0; row < model.rowCount(parent); ++row)
        texts << model.index(row, 0, parent).data().toString();
    return texts;
}

// The node reached from the top by the given texts.
QModelIndex nodeAt(ui::RegistryTreeModel& model, const QStringList& texts) {
    QModelIndex node = model.TopIndex();
    for (const QString& text : texts)
        node = model.FindChild(node, text.toStdString());
    return node;
}

} // namespace

class TestBrowsekey : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void showsTheFiveHivesUnderMyRegistry();
    void expandingLoadsChildrenSortedWithoutRegardToCase();
    void onlyHivesAndKeysEnableOK();
    void rightButtonSelectsTheNodeUnderThePointer();
    void presetWalk_data();
    void presetWalk();
    void returnsTheKeyAndTheCheckBoxAfterOK();

private:
    std::unique_ptr<testing_support::TestMachine> machine_;
};

void TestBrowsekey::init() {
    machine_ = std::make_unique<testing_support::TestMachine>(kKeys);
}

void TestBrowsekey::cleanup() {
    machine_.reset();
}

void TestBrowsekey::showsTheFiveHivesUnderMyRegistry() {
    ui::TfrmBrowsekey browse;
    browse.show();
    QVERIFY(QTest::qWaitForWindowExposed(&browse));
    QCOMPARE(browse.windowTitle(), QString("Browse keys"));
    QCOMPARE(browse.size(), QSize(489, 494));
    const auto& model = *browse.Model();
    QCOMPARE(childTexts(model, {}), QStringList{"My Registry"});
    QVERIFY(browse.Tree()->isExpanded(browse.Model()->TopIndex()));
    QCOMPARE(childTexts(model, browse.Model()->TopIndex()),
             (QStringList{"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                          "HKEY_USERS", "HKEY_CURRENT_CONFIG"}));
    QVERIFY(!Child<QCheckBox>(browse, "chkIncludeSub")->isChecked());
    QCOMPARE(Child<QCheckBox>(browse, "chkIncludeSub")->text(), QString("Include sub keys"));
}

void TestBrowsekey::expandingLoadsChildrenSortedWithoutRegardToCase() {
    ui::TfrmBrowsekey browse;
    browse.show();
    QVERIFY(QTest::qWaitForWindowExposed(&browse));
    auto& model = *browse.Model();
    const QModelIndex hklm = nodeAt(model, {"HKEY_LOCAL_MACHINE"});
    QCOMPARE(model.rowCount(hklm), 0); // nothing read before it is expanded
    browse.Tree()->expand(hklm);
    const QModelIndex software = nodeAt(model, {"HKEY_LOCAL_MACHINE", "SOFTWARE"});
    QVERIFY(software.isValid());
    QVERIFY(model.hasChildren(software));
    browse.Tree()->expand(software);
    const QModelIndex list = nodeAt(model, {"HKEY_LOCAL_MACHINE", "SOFTWARE", "Browse"});
    browse.Tree()->expand(list);
    QCOMPARE(childTexts(model, list), (QStringList{"Alpha", "beta", "Delta", "gamma"}));
    // A key without subkeys shows no expand button and expands to nothing.
    const QModelIndex leaf = model.index(1, 0, list);
    QVERIFY(!model.hasChildren(leaf));
    QVERIFY(model.hasChildren(model.index(0, 0, list)));
    browse.Tree()->expand(leaf);
    QCOMPARE(model.rowCount(leaf), 0);
    // Keys with and without subkeys look different.
    const QIcon branch = model.index(0, 0, list).data(Qt::DecorationRole).value<QIcon>();
    const QIcon key = leaf.data(Qt::DecorationRole).value<QIcon>();
    QVERIFY(branch.pixmap(16).toImage() != key.pixmap(16).toImage());
    QVERIFY(branch.pixmap(16, QIcon::Selected).toImage() != branch.pixmap(16).toImage());
}

void TestBrowsekey::onlyHivesAndKeysEnableOK() {
    ui::TfrmBrowsekey browse;
    browse.show();
    QVERIFY(QTest::qWaitForWindowExposed(&browse));
    auto* ok = Child<QPushButton>(browse, "btnOK");
    QVERIFY(!ok->isEnabled());
    auto& model = *browse.Model();
    QTreeView& tree = *browse.Tree();
    auto click = [&](const QModelIndex& index) {
        tree.scrollTo(index);
        QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, tree.visualRect(index).center());
    };
    click(nodeAt(model, {"HKEY_USERS"}));
    QVERIFY(ok->isEnabled());
    QCOMPARE(browse.KeyPath(), std::string("HKEY_USERS"));
    click(model.TopIndex());
    QVERIFY(!ok->isEnabled());
    tree.expand(nodeAt(model, {"HKEY_CURRENT_USER"}));
    click(nodeAt(model, {"HKEY_CURRENT_USER", "Software"}));
    QVERIFY(ok->isEnabled());
    QCOMPARE(browse.KeyPath(), std::string("HKEY_CURRENT_USER\\Software"));
    QCOMPARE(Child<QLabel>(browse, "lblKeyPath")->text(), QString("HKEY_CURRENT_USER\\Software"));
    click(model.TopIndex());
    QVERIFY(!ok->isEnabled());
}

void TestBrowsekey::rightButtonSelectsTheNodeUnderThePointer() {
    ui::TfrmBrowsekey browse;
    browse.show();
    QVERIFY(QTest::qWaitForWindowExposed(&browse));
    QTreeView& tree = *browse.Tree();
    const QModelIndex hkcc = nodeAt(*browse.Model(), {"HKEY_CURRENT_CONFIG"});
    QTest::mouseClick(tree.viewport(), Qt::RightButton, {}, tree.visualRect(hkcc).center());
    QCOMPARE(tree.currentIndex(), hkcc);
    QVERIFY(tree.selectionModel()->isSelected(hkcc));
    QCOMPARE(browse.KeyPath(), std::string("HKEY_CURRENT_CONFIG"));
}

void TestBrowsekey::presetWalk_data() {
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QString>("selected");
    QTest::newRow("a key") << "HKEY_LOCAL_MACHINE\\SOFTWARE\\Browse\\Alpha\\Inner"
                           << "HKEY_LOCAL_MACHINE\\SOFTWARE\\Browse\\Alpha\\Inner";
    QTest::newRow("a hive") << "HKEY_CURRENT_USER"
                            << "HKEY_CURRENT_USER";
    QTest::newRow("the last key no longer exists selects its parent")
        << "HKEY_LOCAL_MACHINE\\SOFTWARE\\Browse\\Gone"
        << "HKEY_LOCAL_MACHINE\\SOFTWARE\\Browse";
    QTest::newRow("the walk stops at the first name not found")
        << "HKEY_LOCAL_MACHINE\\SOFTWARE\\Gone\\Alpha"
        << "HKEY_LOCAL_MACHINE\\SOFTWARE";
    QTest::newRow("letter case counts") << "HKEY_LOCAL_MACHINE\\software\\Browse"
                                        << "HKEY_LOCAL_MACHINE";
    QTest::newRow("doubled and trailing separators") << "HKEY_CURRENT_USER\\\\Software\\Acme\\"
                                                     << "HKEY_CURRENT_USER\\Software\\Acme";
}

void TestBrowsekey::presetWalk() {
    QFETCH(QString, preset);
    QFETCH(QString, selected);
    ui::TfrmBrowsekey browse;
    browse.SetKeyPath(preset.toStdString());
    browse.show();
    QVERIFY(QTest::qWaitForWindowExposed(&browse));
    QTreeView& tree = *browse.Tree();
    QVERIFY(tree.currentIndex().isValid());
    QCOMPARE(QString::fromStdString(browse.Model()->KeyPath(tree.currentIndex())), selected);
    QCOMPARE(QString::fromStdString(browse.KeyPath()), selected);
    QVERIFY(Child<QPushButton>(browse, "btnOK")->isEnabled());
    // Every node on the way is expanded, and the selected one is in view.
    for (QModelIndex up = tree.currentIndex().parent(); up.isValid(); up = up.parent())
        QVERIFY(tree.isExpanded(up));
    QVERIFY(tree.viewport()->rect().intersects(tree.visualRect(tree.currentIndex())));
}

void TestBrowsekey::returnsTheKeyAndTheCheckBoxAfterOK() {
    ui::TfrmBrowsekey browse;
    browse.SetKeyPath("HKEY_CURRENT_USER\\Software\\Acme");
    browse.SetIncludeSubKeys(true);
    WhenModal<ui::TfrmBrowsekey>([](ui::TfrmBrowsekey& shown) {
        QVERIFY(Child<QCheckBox>(shown, "chkIncludeSub")->isChecked());
        QTest::mouseClick(Child<QCheckBox>(shown, "chkIncludeSub"), Qt::LeftButton);
        QTest::keyClick(&shown, Qt::Key_Return);
    });
    QCOMPARE(browse.exec(), int(QDialog::Accepted));
    QCOMPARE(browse.KeyPath(), std::string("HKEY_CURRENT_USER\\Software\\Acme"));
    QVERIFY(!browse.IncludeSubKeys());
}

QTEST_MAIN(TestBrowsekey)
#include "test_ui_browsekey.moc"
