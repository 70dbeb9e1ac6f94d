// The Options window, opened from the home window over a test machine and a settings
// store of its own: loading and saving "\Options", adding, editing and removing
// exclusion lines through the browse-key dialog, and the autostart entry.

#include "UiTestSupport.h"
#include "app/HostAutoStart.h"
#include "store/ProgramFolder.h"
#include "store/SettingsNames.h"
#include "store/fxRegistryFile.h"
#include "support/MachineFixture.h"
#include "ui/RegistryTreeModel.h"
#include "ui/TfrmBrowsekey.h"
#include "ui/TfrmMain.h"
#include "ui/TfrmOptions.h"
#include "win32/machine/Machine.h"

#include <QCheckBox>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>
#include <memory>
#include <optional>

using namespace ui_testing;

namespace {

const char* const kKeys = "[HKEY_CURRENT_USER\\Software\\Foo]\n"
                          "[HKEY_CURRENT_USER\\Software\\Classes\\Inner]\n"
                          "[HKEY_CURRENT_USER\\Soft]\n"
                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Acme\\Tools]\n"
                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\App (x86)\\Sub]\n";

struct StoredOptions {
    std::optional<std::string> exclusions;
    std::optional<bool> canReplace;
    std::optional<int> replaceAmount;
    std::optional<bool> autoRun;
};

// Selects the key at `path` in the browse dialog as a user does: expanding the nodes on
// the way and clicking the key.
void clickKey(ui::TfrmBrowsekey& browse, const QStringList& path) {
    ui::RegistryTreeModel& model = *browse.Model();
    QTreeView& tree = *browse.Tree();
    QModelIndex node = model.TopIndex();
    for (const QString& name : path) {
        tree.expand(node);
        node = model.FindChild(node, name.toStdString());
        QVERIFY2(node.isValid(), qPrintable(name));
    }
    tree.scrollTo(node);
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, tree.visualRect(node).center());
    QCOMPARE(tree.currentIndex(), node);
}

QStringList listLines(ui::TfrmOptions& options) {
    QStringList lines;
    auto* list = Child<QListWidget>(options, "lsExclude");
    for (int row = 0; row < list->count(); ++row)
        lines << list->item(row)->text();
    return lines;
}

void selectLine(ui::TfrmOptions& options, int row) {
    auto* list = Child<QListWidget>(options, "lsExclude");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(row)).center());
}

} // namespace

class TestOptions : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void loadsTheStoreAndSavesItAfterOK();
    void withoutAStoreShowsTheDefaultsAndCancelStoresNothing();
    void addRefusesAKeyThatALineHolds_data();
    void addRefusesAKeyThatALineHolds();
    void addWithSubKeysStoresTheSuffix();
    void editOpensTheDialogAtTheLine_data();
    void editOpensTheDialogAtTheLine();
    void removeAsksAndCancelLeavesTheStore();
    void autoStartEntryIsCreatedAndRemoved();
    void anAutoStartEntryThatCannotBeWrittenIsReported();

private:
    void writeStore(const StoredOptions& options);
    StoredOptions readStore();
    // Opens the Options window from the home window and runs `act` in it.
    void withOptions(const std::function<void(ui::TfrmOptions&)>& act);

    std::unique_ptr<testing_support::TestMachine> machine_;
    std::unique_ptr<QTemporaryDir> programFolder_;
    std::unique_ptr<QTemporaryDir> config_;
};

void TestOptions::init() {
    machine_ = std::make_unique<testing_support::TestMachine>(kKeys);
    programFolder_ = std::make_unique<QTemporaryDir>();
    config_ = std::make_unique<QTemporaryDir>();
    SetProgramFolder(programFolder_->path().toStdString());
    qputenv("XDG_CONFIG_HOME", config_->path().toLocal8Bit());
}

void TestOptions::cleanup() {
    SetProgramFolder("");
    machine_.reset();
    programFolder_.reset();
    config_.reset();
}

void TestOptions::writeStore(const StoredOptions& options) {
    TfxRegFile store(StoreFilePath());
    QVERIFY(store.OpenKey(kOptionsKey, true));
    if (options.exclusions)
        store.WriteString(kExclusionsKeyValue, *options.exclusions);
    if (options.canReplace)
        store.WriteBool(kCanReplaceValue, *options.canReplace);
    if (options.replaceAmount)
        store.WriteInteger(kReplaceAmountValue, *options.replaceAmount);
    if (options.autoRun)
        store.WriteBool(kAutoRunValue, *options.autoRun);
    store.CloseKey();
}

StoredOptions TestOptions::readStore() {
    StoredOptions options;
    if (!QFile::exists(QString::fromStdString(StoreFilePath())))
        return options;
    TfxRegFile store(StoreFilePath(), TfxRegFile::Access::ReadOnly);
    if (!store.OpenKey(kOptionsKey, false))
        return options;
    if (store.ValueExists(kExclusionsKeyValue))
        options.exclusions = store.ReadString(kExclusionsKeyValue);
    if (store.ValueExists(kCanReplaceValue))
        options.canReplace = store.ReadBool(kCanReplaceValue);
    if (store.ValueExists(kReplaceAmountValue))
        options.replaceAmount = store.ReadInteger(kReplaceAmountValue);
    if (store.ValueExists(kAutoRunValue))
        options.autoRun = store.ReadBool(kAutoRunValue);
    return options;
}

void TestOptions::withOptions(const std::function<void(ui::TfrmOptions&)>& act) {
    ui::TfrmMain home;
    home.show();
    bool opened = false;
    WhenModal<ui::TfrmOptions>([&](ui::TfrmOptions& options) {
        opened = true;
        act(options);
    });
    QTest::mouseClick(Child<QPushButton>(home, "lvOptions"), Qt::LeftButton);
    QVERIFY(opened);
}

void TestOptions::loadsTheStoreAndSavesItAfterOK() {
    writeStore({"HKEY_CURRENT_USER\\Software\\Foo\r\nHKEY_LOCAL_MACHINE\\SOFTWARE(include "
                "subkey)\r\n",
                true, 7, false});
    withOptions([](ui::TfrmOptions& options) {
        QCOMPARE(options.windowTitle(), QString("Options"));
        QCOMPARE(options.size(), QSize(501, 483));
        QCOMPARE(listLines(options), (QStringList{"HKEY_CURRENT_USER\\Software\\Foo",
                                                  "HKEY_LOCAL_MACHINE\\SOFTWARE(include subkey)"}));
        QVERIFY(Child<QCheckBox>(options, "chkReplace")->isChecked());
        QCOMPARE(Child<QSpinBox>(options, "edtAmount")->value(), 7);
        QVERIFY(!Child<QCheckBox>(options, "chkAutoRun")->isChecked());
        // Edit and Remove need a selected line; Add never does.
        QVERIFY(Child<QPushButton>(options, "btnAdd")->isEnabled());
        QVERIFY(!Child<QPushButton>(options, "btnEdit")->isEnabled());
        QVERIFY(!Child<QPushButton>(options, "btnRemove")->isEnabled());
        selectLine(options, 1);
        QVERIFY(Child<QPushButton>(options, "btnEdit")->isEnabled());
        QVERIFY(Child<QPushButton>(options, "btnRemove")->isEnabled());

        QTest::mouseClick(Child<QCheckBox>(options, "chkReplace"), Qt::LeftButton);
        auto* amount = Child<QSpinBox>(options, "edtAmount");
        amount->selectAll();
        QTest::keyClicks(amount, "12");
        QTest::mouseClick(Child<QPushButton>(options, "btnOK"), Qt::LeftButton);
    });
    const StoredOptions stored = readStore();
    QCOMPARE(stored.exclusions.value_or("?"),
             std::string("HKEY_CURRENT_USER\\Software\\Foo\r\nHKEY_LOCAL_MACHINE\\SOFTWARE("
                         "include subkey)\r\n"));
    QCOMPARE(stored.canReplace, std::optional<bool>(false));
    QCOMPARE(stored.replaceAmount, std::optional<int>(12));
    QCOMPARE(stored.autoRun, std::optional<bool>(false));
}

void TestOptions::withoutAStoreShowsTheDefaultsAndCancelStoresNothing() {
    withOptions([](ui::TfrmOptions& options) {
        QVERIFY(listLines(options).isEmpty());
        QVERIFY(!Child<QCheckBox>(options, "chkReplace")->isChecked());
        QCOMPARE(Child<QSpinBox>(options, "edtAmount")->value(), 10);
        QCOMPARE(Child<QSpinBox>(options, "edtAmount")->minimum(), 1);
        QCOMPARE(Child<QSpinBox>(options, "edtAmount")->maximum(), 50);
        QVERIFY(!Child<QCheckBox>(options, "chkAutoRun")->isChecked());
        QTest::mouseClick(Child<QPushButton>(options, "btnCancel"), Qt::LeftButton);
    });
    // Opening the window makes the file; Cancel writes nothing into it.
    QVERIFY(QFile::exists(QString::fromStdString(StoreFilePath())));
    QVERIFY(!readStore().exclusions);
    QVERIFY(
        !QFile::exists(app::AutoStartEntryPath(QString::fromStdString(win32::MachineFolder()))));
}

void TestOptions::addRefusesAKeyThatALineHolds_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("key");
    QTest::addColumn<bool>("refused");
    QTest::newRow("a shorter path inside a longer line")
        << "HKEY_CURRENT_USER\\Software\\Foo" << QStringList{"HKEY_CURRENT_USER", "Software"}
        << true;
    QTest::newRow("the same key with its subkeys")
        << "HKEY_CURRENT_USER\\Software\\Foo(include subkey)"
        << QStringList{"HKEY_CURRENT_USER", "Software", "Foo"} << true;
    QTest::newRow("letter case does not count")
        << "hkey_current_user\\SOFTWARE\\foo" << QStringList{"HKEY_CURRENT_USER", "Software", "Foo"}
        << true;
    QTest::newRow("a longer path beside a shorter line")
        << "HKEY_CURRENT_USER\\Software" << QStringList{"HKEY_CURRENT_USER", "Software", "Foo"}
        << false;
    QTest::newRow("a key whose name begins another's is another key")
        << "HKEY_CURRENT_USER\\Software" << QStringList{"HKEY_CURRENT_USER", "Soft"} << false;
}

void TestOptions::addRefusesAKeyThatALineHolds() {
    QFETCH(QString, line);
    QFETCH(QStringList, key);
    QFETCH(bool, refused);
    writeStore({line.toStdString() + "\r\n", {}, {}, {}});
    MessageBoxes boxes;
    withOptions([&](ui::TfrmOptions& options) {
        WhenModal<ui::TfrmBrowsekey>([&](ui::TfrmBrowsekey& browse) {
            // Add opens the dialog without a preset: no key is chosen yet.
            QVERIFY(browse.KeyPath().empty());
            QVERIFY(!Child<QPushButton>(browse, "btnOK")->isEnabled());
            clickKey(browse, key);
            QTest::mouseClick(Child<QPushButton>(browse, "btnOK"), Qt::LeftButton);
        });
        QTest::mouseClick(Child<QPushButton>(options, "btnAdd"), Qt::LeftButton);
        const QStringList expected =
            refused ? QStringList{line} : QStringList{line, key.join("\\")};
        QCOMPARE(listLines(options), expected);
        QTest::mouseClick(Child<QPushButton>(options, "btnOK"), Qt::LeftButton);
    });
    if (refused) {
        QCOMPARE(boxes.asked().size(), 1);
        QCOMPARE(boxes.asked()[0].caption, QString("Options"));
        QCOMPARE(boxes.asked()[0].text, QString("Exclusions Keys already exist!"));
        QCOMPARE(boxes.asked()[0].icon, QMessageBox::Information);
        QCOMPARE(readStore().exclusions.value_or("?"), line.toStdString() + "\r\n");
    } else {
        QVERIFY(boxes.asked().isEmpty());
        QCOMPARE(readStore().exclusions.value_or("?"),
                 line.toStdString() + "\r\n" + key.join("\\").toStdString() + "\r\n");
    }
}

void TestOptions::addWithSubKeysStoresTheSuffix() {
    withOptions([&](ui::TfrmOptions& options) {
        WhenModal<ui::TfrmBrowsekey>([&](ui::TfrmBrowsekey& browse) {
            clickKey(browse, {"HKEY_CURRENT_USER", "Software", "Classes"});
            QTest::mouseClick(Child<QCheckBox>(browse, "chkIncludeSub"), Qt::LeftButton);
            QTest::mouseClick(Child<QPushButton>(browse, "btnOK"), Qt::LeftButton);
        });
        QTest::mouseClick(Child<QPushButton>(options, "btnAdd"), Qt::LeftButton);
        // Cancel in the browse dialog adds nothing.
        WhenModal<ui::TfrmBrowsekey>([&](ui::TfrmBrowsekey& browse) {
            clickKey(browse, {"HKEY_CURRENT_USER", "Soft"});
            QTest::mouseClick(Child<QPushButton>(browse, "btnCancel"), Qt::LeftButton);
        });
        QTest::mouseClick(Child<QPushButton>(options, "btnAdd"), Qt::LeftButton);
        QTest::mouseClick(Child<QPushButton>(options, "btnOK"), Qt::LeftButton);
    });
    QCOMPARE(readStore().exclusions.value_or("?"),
             std::string("HKEY_CURRENT_USER\\Software\\Classes(include subkey)\r\n"));
}

void TestOptions::editOpensTheDialogAtTheLine_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<bool>("includeSubKeys");
    QTest::newRow("a line with its subkeys") << "HKEY_LOCAL_MACHINE\\SOFTWARE\\Acme(include subkey)"
                                             << "HKEY_LOCAL_MACHINE\\SOFTWARE\\Acme" << true;
    QTest::newRow("a line without") << "HKEY_LOCAL_MACHINE\\SOFTWARE\\Acme\\Tools"
                                    << "HKEY_LOCAL_MACHINE\\SOFTWARE\\Acme\\Tools" << false;
    // The preset is cut at the first "(", so the walk ends at the key above.
    QTest::newRow("a key name with a bracket") << "HKEY_LOCAL_MACHINE\\SOFTWARE\\App (x86)\\Sub"
                                               << "HKEY_LOCAL_MACHINE\\SOFTWARE" << true;
}

void TestOptions::editOpensTheDialogAtTheLine() {
    QFETCH(QString, line);
    QFETCH(QString, selected);
    QFETCH(bool, includeSubKeys);
    writeStore({"HKEY_CURRENT_USER\\Soft\r\n" + line.toStdString() + "\r\n", {}, {}, {}});
    MessageBoxes boxes;
    withOptions([&](ui::TfrmOptions& options) {
        selectLine(options, 1);
        QString shownPath;
        bool shownInclude = false;
        WhenModal<ui::TfrmBrowsekey>([&](ui::TfrmBrowsekey& browse) {
            shownPath =
                QString::fromStdString(browse.Model()->KeyPath(browse.Tree()->currentIndex()));
            shownInclude = Child<QCheckBox>(browse, "chkIncludeSub")->isChecked();
            QTest::mouseClick(Child<QPushButton>(browse, "btnCancel"), Qt::LeftButton);
        });
        QTest::mouseClick(Child<QPushButton>(options, "btnEdit"), Qt::LeftButton);
        QCOMPARE(shownPath, selected);
        QCOMPARE(shownInclude, includeSubKeys);
        QCOMPARE(listLines(options), (QStringList{"HKEY_CURRENT_USER\\Soft", line}));

        // OK on the key of the line adds nothing: the line already holds it.
        selectLine(options, 1);
        WhenModal<ui::TfrmBrowsekey>([&](ui::TfrmBrowsekey& browse) {
            QTest::mouseClick(Child<QPushButton>(browse, "btnOK"), Qt::LeftButton);
        });
        QTest::mouseClick(Child<QPushButton>(options, "btnEdit"), Qt::LeftButton);
        QCOMPARE(listLines(options), (QStringList{"HKEY_CURRENT_USER\\Soft", line}));
        QCOMPARE(boxes.asked().size(), 1);
        QCOMPARE(boxes.asked()[0].text, QString("Exclusions Keys already exist!"));
        QTest::mouseClick(Child<QPushButton>(options, "btnCancel"), Qt::LeftButton);
    });
}

void TestOptions::removeAsksAndCancelLeavesTheStore() {
    const std::string lines = "HKEY_CURRENT_USER\\Soft\r\nHKEY_CURRENT_USER\\Software\\Foo\r\n";
    writeStore({lines, {}, {}, {}});
    MessageBoxes boxes({QMessageBox::No, QMessageBox::Yes});
    withOptions([&](ui::TfrmOptions& options) {
        selectLine(options, 1);
        QTest::mouseClick(Child<QPushButton>(options, "btnRemove"), Qt::LeftButton);
        QCOMPARE(listLines(options).size(), 2);
        QTest::mouseClick(Child<QPushButton>(options, "btnRemove"), Qt::LeftButton);
        QCOMPARE(listLines(options), QStringList{"HKEY_CURRENT_USER\\Soft"});
        QCOMPARE(Child<QPushButton>(options, "btnRemove")->isEnabled(),
                 !Child<QListWidget>(options, "lsExclude")->selectedItems().isEmpty());
        QTest::mouseClick(Child<QPushButton>(options, "btnCancel"), Qt::LeftButton);
    });
    QCOMPARE(boxes.asked().size(), 2);
    for (const ui::MessageBoxRequest& asked : boxes.asked()) {
        QCOMPARE(asked.caption, QString("Confirm"));
        QCOMPARE(asked.text, QString("Permanently remove the selected item?"));
        QCOMPARE(asked.icon, QMessageBox::Question);
        QCOMPARE(asked.buttons, QMessageBox::Yes | QMessageBox::No);
    }
    QCOMPARE(readStore().exclusions.value_or("?"), lines);
}

void TestOptions::autoStartEntryIsCreatedAndRemoved() {
    const QString entry = app::AutoStartEntryPath(QString::fromStdString(win32::MachineFolder()));
    QVERIFY(entry.startsWith(config_->path() + "/autostart/hivewarden-"));
    // Another machine's entry stays as it is.
    QVERIFY(QDir().mkpath(config_->path() + "/autostart"));
    const QString other = config_->path() + "/autostart/hivewarden-other.desktop";
    QFile(other).open(QIODevice::WriteOnly);

    withOptions([](ui::TfrmOptions& options) {
        QTest::mouseClick(Child<QCheckBox>(options, "chkAutoRun"), Qt::LeftButton);
        QTest::mouseClick(Child<QPushButton>(options, "btnOK"), Qt::LeftButton);
    });
    QCOMPARE(readStore().autoRun, std::optional<bool>(true));
    QFile file(entry);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QVERIFY2(text.startsWith("[Desktop Entry]\n"), qPrintable(text));
    QVERIFY2(text.contains("\nType=Application\n"), qPrintable(text));
    QVERIFY2(text.contains("\nExec=\"" + QCoreApplication::applicationFilePath() +
                           "\" --machine \"" + QString::fromStdString(win32::MachineFolder()) +
                           "\"\n"),
             qPrintable(text));
    file.close();

    withOptions([](ui::TfrmOptions& options) {
        QVERIFY(Child<QCheckBox>(options, "chkAutoRun")->isChecked());
        QTest::mouseClick(Child<QCheckBox>(options, "chkAutoRun"), Qt::LeftButton);
        QTest::mouseClick(Child<QPushButton>(options, "btnOK"), Qt::LeftButton);
    });
    QCOMPARE(readStore().autoRun, std::optional<bool>(false));
    QVERIFY(!QFile::exists(entry));
    QVERIFY(QFile::exists(other));
}

void TestOptions::anAutoStartEntryThatCannotBeWrittenIsReported() {
    // A file where the autostart folder belongs.
    QFile(config_->path() + "/autostart").open(QIODevice::WriteOnly);
    MessageBoxes boxes;
    withOptions([](ui::TfrmOptions& options) {
        QTest::mouseClick(Child<QCheckBox>(options, "chkAutoRun"), Qt::LeftButton);
        QTest::mouseClick(Child<QPushButton>(options, "btnOK"), Qt::LeftButton);
    });
    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(boxes.asked()[0].caption, QString("Options"));
    QCOMPARE(boxes.asked()[0].icon, QMessageBox::Warning);
    QVERIFY2(boxes.asked()[0].text.contains("autostart"), qPrintable(boxes.asked()[0].text));
    // The store keeps the user's choice all the same.
    QCOMPARE(readStore().autoRun, std::optional<bool>(true));
}

QTEST_MAIN(TestOptions)
#include "test_ui_options.moc"
