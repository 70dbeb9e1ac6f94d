// The Registry Wizard in Compact mode, driven as a user drives it: Start and Stop on one
// button, the report's totals, and the restart that puts the compact hives in place, at
// the end of a backup, a change and a restore made from the Backup page.

#include "UiTestSupport.h"
#include "compact/THiveManager.h"
#include "registry/OSInfo.h"
#include "registry/TRegistry.h"
#include "store/ProgramFolder.h"
#include "store/SettingsNames.h"
#include "store/fxRegistryFile.h"
#include "support/MachineFixture.h"
#include "ui/TfrmBackProfile.h"
#include "ui/TfrmRepair.h"
#include "win32/machine/Machine.h"
#include "win32/registry/PendingReplacements.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <memory>

using namespace ui_testing;
using testing_support::kMachineHives;
using ui::TfrmBackProfile;
using ui::TfrmRepair;

namespace {

const char kHiveList[] = "SYSTEM\\CurrentControlSet\\Control\\hivelist";

std::vector<win32::PendingReplacement> pending() {
    return win32::PendingReplacementsOf(win32::MachineFolder());
}

QByteArray contentOf(const std::string& path) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

qint64 sizeOf(const std::string& path) {
    return QFileInfo(QString::fromStdString(path)).size();
}

// Takes the program's quit request, as the application would.
class QuitCatcher : public QObject {
public:
    QuitCatcher() { qApp->installEventFilter(this); }
    ~QuitCatcher() override { qApp->removeEventFilter(this); }
    int quits = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == qApp && event->type() == QEvent::Quit) {
            ++quits;
            return true;
        }
        return false;
    }
};

QString valueOf(HKEY root, const char* key, const char* name) {
    TRegistry registry(KEY_READ);
    registry.SetRootKey(root);
    if (!registry.OpenKeyReadOnly(key))
        return "(no key)";
    return registry.ValueExists(name) ? QString::fromStdString(registry.ReadString(name))
                                      : "(no value)";
}

void setValue(HKEY root, const char* key, const char* name, const char* data) {
    TRegistry registry;
    registry.SetRootKey(root);
    QVERIFY(registry.OpenKey(key, true));
    registry.WriteString(name, data);
}

} // namespace

class TestWizardCompact : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void theCompactPageAtShowing();
    void startOnWindows98();
    void startThenStop();
    void theReportSumsSignedSizesWithAMissingHiveFile();
    void aFailedCompactionSaysSoAndOffersStartAgain();
    void backupChangeRestoreThenRestartOnTheReport();

private:
    void runCompaction(TfrmRepair& wizard);

    std::unique_ptr<testing_support::TestMachine> machine_;
    std::unique_ptr<QTemporaryDir> programFolder_;
};

void TestWizardCompact::init() {
    machine_ = std::make_unique<testing_support::TestMachine>(
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kept]\r\n\"v\"=\"before\"\r\n"
        "[HKEY_USERS\\.DEFAULT\\Kept]\r\n\"v\"=\"before\"\r\n");
    InitOSInfo();
    programFolder_ = std::make_unique<QTemporaryDir>();
    SetProgramFolder(programFolder_->path().toStdString());
}

void TestWizardCompact::cleanup() {
    SetProgramFolder("");
    machine_.reset();
}

void TestWizardCompact::runCompaction(TfrmRepair& wizard) {
    auto* start = Child<QPushButton>(wizard, "btnCompact");
    QCOMPARE(start->text(), QString("&Start"));
    QTest::mouseClick(start, Qt::LeftButton);
    QCOMPARE(start->text(), QString("&Stop"));
    QVERIFY(Child<QProgressBar>(wizard, "pgCompact")->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(wizard.PageIndex(), int(TfrmRepair::pgReport), 30000);
}

void TestWizardCompact::theCompactPageAtShowing() {
    auto wizard = OpenWizard(TfrmRepair::wmCompact);
    QCOMPARE(wizard->PageIndex(), int(TfrmRepair::pgCompact));
    QCOMPARE(Child<QPushButton>(*wizard, "btnCompact")->text(), QString("&Start"));
    QVERIFY(!Child<QLabel>(*wizard, "lblCompact")->isVisible());
    QVERIFY(!Child<QProgressBar>(*wizard, "pgCompact")->isVisible());
    QVERIFY(Child<QPushButton>(*wizard, "btnCompact")->isEnabled());
}

void TestWizardCompact::startOnWindows98() {
    machine_->rebootWithIni("[Version]\nPlatform=9x\nVersion=4.10.2222\nCSDVersion=A\n");
    InitOSInfo();
    auto wizard = OpenWizard(TfrmRepair::wmCompact);
    MessageBoxes boxes;
    auto* start = Child<QPushButton>(*wizard, "btnCompact");
    QVERIFY(start->isEnabled());
    QTest::mouseClick(start, Qt::LeftButton);
    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(boxes.asked()[0].caption, QString("Compact and Defragment"));
    QCOMPARE(boxes.asked()[0].text, QString("This function does not support Windows 9x system."));
    QCOMPARE(start->text(), QString("&Start"));
    QVERIFY(!Child<QProgressBar>(*wizard, "pgCompact")->isVisible());
    QVERIFY(!wizard->HiveManager()->IsBusy());
    QVERIFY(pending().empty());
}

void TestWizardCompact::startThenStop() {
    auto wizard = OpenWizard(TfrmRepair::wmCompact);
    MessageBoxes boxes;
    auto* button = Child<QPushButton>(*wizard, "btnCompact");
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(button->text(), QString("&Stop"));
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(button->text(), QString("&Start"));
    // A stopped compaction ends as one: its report follows, over every listed hive.
    QTRY_COMPARE_WITH_TIMEOUT(wizard->PageIndex(), int(TfrmRepair::pgReport), 30000);
    QVERIFY(boxes.asked().isEmpty());
    QVERIFY(pending().size() <= 1);
    QCOMPARE(Child<QLabel>(*wizard, "lblTotalkey")->text(), QString("Total keys compacted 7"));
    QCOMPARE(Child<QPushButton>(*wizard, "btnCancel")->text(), QString("&Finish"));
    TfxRegFile store(StoreFilePath(), TfxRegFile::Access::ReadOnly);
    QVERIFY(store.OpenKey(kOptionsKey, false));
    QVERIFY(!store.ReadString(kLastCompactValue).empty());
}

void TestWizardCompact::theReportSumsSignedSizesWithAMissingHiveFile() {
    // A hive the list names whose file is not there: its sizes count as -1.
    {
        TRegistry registry;
        registry.SetRootKey(HKEY_LOCAL_MACHINE);
        QVERIFY(registry.OpenKey(kHiveList, false));
        registry.WriteString("\\REGISTRY\\MACHINE\\GHOST",
                             "\\Device\\HarddiskVolume1\\WINDOWS\\system32\\config\\GHOST");
    }
    auto wizard = OpenWizard(TfrmRepair::wmCompact);
    QCOMPARE(wizard->HiveManager()->Hives.size(), size_t(8));
    runCompaction(*wizard);
    qint64 before = -1, after = -1;
    for (const char* hive : kMachineHives) {
        before += sizeOf(machine_->hostPath(hive));
        after += sizeOf(machine_->hostPath(hive) + ".rctemp");
    }
    QCOMPARE(Child<QLabel>(*wizard, "lblTotalkey")->text(), QString("Total keys compacted 8"));
    QCOMPARE(Child<QLabel>(*wizard, "lblKeysize")->text(),
             QString("Total size of all keys %1 KB").arg(before / 1024));
    QCOMPARE(Child<QLabel>(*wizard, "lblCompactsize")->text(),
             QString("Total size after compaction %1 KB").arg(after / 1024));
    QCOMPARE(pending().size(), size_t(7));
}

void TestWizardCompact::aFailedCompactionSaysSoAndOffersStartAgain() {
    machine_->rebootWithIni("[Privileges]\nSeShutdownPrivilege=denied\n");
    InitOSInfo();
    auto wizard = OpenWizard(TfrmRepair::wmCompact);
    MessageBoxes boxes;
    QTest::mouseClick(Child<QPushButton>(*wizard, "btnCompact"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!wizard->HiveManager()->IsBusy(), 30000);
    QCOMPARE(wizard->PageIndex(), int(TfrmRepair::pgCompact));
    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(boxes.asked()[0].caption, QString("Compact and Defragment"));
    QVERIFY2(boxes.asked()[0].text.startsWith("The compaction failed: Compact error: "),
             qPrintable(boxes.asked()[0].text));
    // It failed at the first hive: nothing waits, and the message does not say otherwise.
    QVERIFY2(boxes.asked()[0].text.endsWith("\nNo hive will be replaced."),
             qPrintable(boxes.asked()[0].text));
    QVERIFY(pending().empty());
    QCOMPARE(Child<QPushButton>(*wizard, "btnCompact")->text(), QString("&Start"));
    QVERIFY(!Child<QProgressBar>(*wizard, "pgCompact")->isVisible());
}

void TestWizardCompact::backupChangeRestoreThenRestartOnTheReport() {
    MessageBoxes boxes;
    std::map<std::string, QByteArray> profile;
    {
        auto backup = OpenWizard(TfrmRepair::wmBackup);
        WhenModal<TfrmBackProfile>([](TfrmBackProfile& dialog) {
            dialog.edtProfile->setText("Good state");
            QTest::mouseClick(Child<QPushButton>(dialog, "btnOK"), Qt::LeftButton);
        });
        QTest::mouseClick(Child<QToolButton>(*backup, "taskBackup"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!backup->HiveManager()->IsBusy(), 30000);
        QCOMPARE(boxes.asked().last().text, QString("Backup is complete."));
        for (const char* name : {"SYSTEM", "SOFTWARE", "SAM", "SECURITY", "DEFAULT"})
            profile[name] = contentOf(RegistryBackupFolder() + "Good state/" + name);

        setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", "v", "after");
        setValue(HKEY_USERS, ".DEFAULT\\Kept", "v", "after");
        setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Added", "v", "new");
        setValue(HKEY_CURRENT_USER, "Software\\Kept", "v", "the user's");
        win32::FlushMachine();

        auto* view = Child<QListView>(*backup, "gdRestore");
        const QRect slide = view->visualRect(view->model()->index(0, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, slide.topLeft() + QPoint(10, 9));
        backup->UpdateActions();
        QTest::mouseClick(Child<QToolButton>(*backup, "taskRestore"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!backup->HiveManager()->IsBusy(), 30000);
        QVERIFY(boxes.asked().last().text.startsWith(
            "You need to restart Windows to complete restoration.\nHivewarden makes the change "
            "when it closes"));
        QTest::mouseClick(Child<QPushButton>(*backup, "btnCancel"), Qt::LeftButton);
    }

    std::map<std::string, QByteArray> before;
    for (const char* hive : kMachineHives)
        before[hive] = contentOf(machine_->hostPath(hive));
    QuitCatcher quit;
    auto wizard = OpenWizard(TfrmRepair::wmCompact);
    runCompaction(*wizard);
    QCOMPARE(pending().size(), size_t(7));
    QTest::mouseClick(Child<QPushButton>(*wizard, "btnRestart"), Qt::LeftButton);
    QTRY_COMPARE(quit.quits, 1);
    QVERIFY(!win32::IsMachineBooted());
    // Before the program ends, the restart says what it replaced.
    QCOMPARE(boxes.asked().last().caption, QString("Compact and Defragment"));
    QVERIFY2(
        boxes.asked().last().text.startsWith("Windows was restarted. These hives were replaced:\n"),
        qPrintable(boxes.asked().last().text));
    QCOMPARE(boxes.asked().last().text.count("\n"), 7);
    wizard.reset();

    for (const char* hive : kMachineHives) {
        const std::string path = machine_->hostPath(hive);
        QVERIFY2(QFileInfo::exists(QString::fromStdString(path + ".rcbak")), hive);
        QCOMPARE(contentOf(path + ".rcbak"), before[hive]);
        QVERIFY(!QFileInfo::exists(QString::fromStdString(path + ".rctemp")));
        QVERIFY(!QFileInfo::exists(QString::fromStdString(path + ".rcrestore")));
        QVERIFY2(sizeOf(path) <= before[hive].size(), hive);
    }
    // The five hives of the profile are its copies, saved dense when it was made.
    for (const auto& [name, bytes] : profile)
        QCOMPARE(contentOf(machine_->hostPath("WINDOWS/system32/config/" + name)), bytes);

    machine_->boot();
    QCOMPARE(valueOf(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", "v"), QString("before"));
    QCOMPARE(valueOf(HKEY_USERS, ".DEFAULT\\Kept", "v"), QString("before"));
    QCOMPARE(valueOf(HKEY_LOCAL_MACHINE, "SOFTWARE\\Added", "v"), QString("(no key)"));
    // The user's own hive is no part of a profile: compacted with its change.
    QCOMPARE(valueOf(HKEY_CURRENT_USER, "Software\\Kept", "v"), QString("the user's"));
    QVERIFY(pending().empty());
}

QTEST_MAIN(TestWizardCompact)
#include "test_ui_wizard_compact.moc"
