// The windowed program's start: the machine it is given, the home window that names it,
// and a clear message instead of a window when the machine cannot be mounted.

#include "UiTestSupport.h"
#include "registry/RegeditDriver.h"
#include "support/MachineFixture.h"
#include "ui/ElidedLabel.h"
#include "ui/HostPages.h"
#include "ui/ProgramStart.h"
#include "ui/RegistryViewer.h"
#include "ui/TfrmMain.h"
#include "ui/TfrmRepair.h"
#include "win32/host/MachineLock.h"
#include "win32/machine/Machine.h"
#include "win32/registry/PendingReplacements.h"
#include "win32/registry/Registry.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolTip>
#include <QtTest>
#include <optional>

using namespace ui_testing;

class TestProgram : public QObject {
    Q_OBJECT
private slots:
    void init() { qunsetenv("HIVEWARDEN_MACHINE"); }
    void withoutAMachineWorksOnTheSandbox();
    void aMachineThatCannotBeMountedIsReported_data();
    void aMachineThatCannotBeMountedIsReported();
    void showsTheMachineItWorksOn_data();
    void showsTheMachineItWorksOn();
    void namesAHiveWindowsDidNotFinishAtStartUp();
    void theEventLoopRunsWhileTheMachineMounts();
    void helpAndHomeOpenTheManualOnTheHost();
    void onlyAnAdministratorOfAnNtSystemGetsTheWindow_data();
    void onlyAnAdministratorOfAnNtSystemGetsTheWindow();
    void windowTitlesStandAlone();
    void aLongInstallationFolderIsCutInTheMiddle();
    void closingTheHomeWindowEndsTheProgram();
};

void TestProgram::withoutAMachineWorksOnTheSandbox() {
    QTemporaryDir programFolder;
    qputenv("HIVEWARDEN_PROGRAM_FOLDER", programFolder.path().toLocal8Bit());
    QString shownFolder, note;
    bool noteShown = false;
    const WhenHomeShown atHome([&] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (auto* home = qobject_cast<ui::TfrmMain*>(window); home && home->isVisible()) {
                shownFolder = Child<QLabel>(*home, "lblMachineFolder")->text();
                // Wrapped to the window's width: lines break between words.
                note = Child<QLabel>(*home, "lblMachineNote")->text().replace('\n', ' ');
                noteShown = Child<QLabel>(*home, "lblMachineNote")->isVisible();
                home->close();
            }
        }
    });
    MessageBoxes boxes;
    QCOMPARE(ui::RunHivewarden({"hivewarden"}), 0);
    qunsetenv("HIVEWARDEN_PROGRAM_FOLDER");
    QVERIFY(boxes.asked().isEmpty());
    QCOMPARE(QFileInfo(shownFolder).canonicalFilePath(),
             QFileInfo(programFolder.path() + "/Sandbox").canonicalFilePath());
    QVERIFY(noteShown);
    QVERIFY2(note.contains("sandbox") && note.contains("--machine DIR"), qPrintable(note));
    QVERIFY(!win32::IsMachineBooted());
}

void TestProgram::aMachineThatCannotBeMountedIsReported_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("said");
    QTest::newRow("no hives") << "empty"
                              << "";
    QTest::newRow("a hive that is no hive") << "garbage SOFTWARE"
                                            << "SOFTWARE";
    QTest::newRow("held by another process") << "held"
                                             << "in use by another process";
}

void TestProgram::aMachineThatCannotBeMountedIsReported() {
    QFETCH(QString, fault);
    QFETCH(QString, said);
    QTemporaryDir empty;
    std::optional<testing_support::TestMachine> machine;
    std::optional<win32::MachineLock> lock;
    QString folder = empty.path();
    if (fault != "empty") {
        machine.emplace();
        machine->shutdown();
        folder = QString::fromStdString(machine->folder());
        if (fault == "held") {
            lock = win32::MachineLock::acquire(machine->folder());
        } else {
            QFile hive(
                QString::fromStdString(machine->hostPath("WINDOWS/system32/config/SOFTWARE")));
            QVERIFY(hive.open(QIODevice::WriteOnly | QIODevice::Truncate));
            hive.write(QByteArray(8192, 'x'));
        }
    }
    MessageBoxes boxes;
    QCOMPARE(ui::RunHivewarden({"hivewarden", "--machine", folder}), 1);
    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(boxes.asked()[0].icon, QMessageBox::Critical);
    const QString text = boxes.asked()[0].text;
    QVERIFY2(text.startsWith("The Windows installation cannot be opened.") && text.contains(said),
             qPrintable(text));
    QVERIFY(!win32::IsMachineBooted());
}

void TestProgram::showsTheMachineItWorksOn_data() {
    QTest::addColumn<bool>("fromEnvironment");
    QTest::newRow("--machine") << false;
    QTest::newRow("HIVEWARDEN_MACHINE") << true;
}

void TestProgram::showsTheMachineItWorksOn() {
    QFETCH(bool, fromEnvironment);
    win32::NewMachine options;
    options.user = "Alice";
    testing_support::TestMachine machine({}, {}, options);
    machine.shutdown();
    const QString folder = QString::fromStdString(machine.folder());
    QStringList arguments{"hivewarden"};
    if (fromEnvironment)
        qputenv("HIVEWARDEN_MACHINE", folder.toLocal8Bit());
    else
        arguments << "--machine" << folder;

    QString shownFolder, shownVersion, shownUser, caption;
    bool noteShown = true;
    const WhenHomeShown atHome([&] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (auto* home = qobject_cast<ui::TfrmMain*>(window); home && home->isVisible()) {
                caption = home->windowTitle();
                shownFolder = Child<QLabel>(*home, "lblMachineFolder")->text();
                shownVersion = Child<QLabel>(*home, "lblMachineVersion")->text();
                shownUser = Child<QLabel>(*home, "lblMachineUser")->text();
                noteShown = Child<QLabel>(*home, "lblMachineNote")->isVisible();
                home->close();
            }
        }
    });
    MessageBoxes boxes;
    QCOMPARE(ui::RunHivewarden(arguments), 0);
    QVERIFY(boxes.asked().isEmpty());
    QCOMPARE(caption, QString("Hivewarden 1.0"));
    QCOMPARE(QFileInfo(shownFolder).canonicalFilePath(), QFileInfo(folder).canonicalFilePath());
    QCOMPARE(shownVersion, QString("Windows XP (5.1.2600), Service Pack 2"));
    QCOMPARE(shownUser, QString("Alice (administrator)"));
    QVERIFY(!noteShown);
    // The program released the machine when it ended.
    QVERIFY(!win32::IsMachineBooted());
}

void TestProgram::namesAHiveWindowsDidNotFinishAtStartUp() {
    testing_support::TestMachine machine;
    machine.shutdown();
    const std::string config = machine.hostPath("WINDOWS/system32/config");
    if (!testing_support::SharedHiveAs("SYSTEM_B", config + "/SYSTEM") ||
        !testing_support::SharedHiveAs("SYSTEM_B.LOG1", config + "/SYSTEM.LOG1") ||
        !testing_support::SharedHiveAs("SYSTEM_B.LOG2", config + "/SYSTEM.LOG2"))
        QSKIP("the shared test hives are absent");
    QFile hive(QString::fromStdString(config + "/SYSTEM"));
    QVERIFY(hive.open(QIODevice::ReadOnly));
    const QByteArray before = hive.readAll();
    hive.close();

    const WhenHomeShown atHome([] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* home = qobject_cast<ui::TfrmMain*>(window); home && home->isVisible())
                home->close();
    });
    MessageBoxes boxes;
    QCOMPARE(
        ui::RunHivewarden({"hivewarden", "--machine", QString::fromStdString(machine.folder())}),
        0);
    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(boxes.asked()[0].icon, QMessageBox::Warning);
    const QString text = boxes.asked()[0].text;
    QVERIFY2(text.contains(QString::fromStdString(config + "/SYSTEM")) &&
                 text.contains("was not finished by Windows") && text.contains("log entries") &&
                 text.contains("written in its place as a clean file"),
             qPrintable(text));
    // The window works on the machine, so the recovered hive took the file's place; what
    // Windows left is kept beside it unchanged.
    QFile kept(QString::fromStdString(config + "/SYSTEM.hwpre"));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), before);
    QVERIFY(hive.open(QIODevice::ReadOnly));
    QVERIFY(hive.readAll() != before);
}

void TestProgram::theEventLoopRunsWhileTheMachineMounts() {
    testing_support::TestMachine machine;
    machine.shutdown();
    int turnsBeforeHome = 0;
    bool homeShown = false;
    QTimer turn;
    QObject::connect(&turn, &QTimer::timeout, [&] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (qobject_cast<ui::TfrmMain*>(window) && window->isVisible())
                return;
        if (!homeShown)
            ++turnsBeforeHome;
    });
    turn.start(0);
    const WhenHomeShown atHome([&] {
        homeShown = true;
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* home = qobject_cast<ui::TfrmMain*>(window); home && home->isVisible())
                home->close();
    });
    MessageBoxes boxes;
    QCOMPARE(
        ui::RunHivewarden({"hivewarden", "--machine", QString::fromStdString(machine.folder())}),
        0);
    turn.stop();
    QVERIFY(homeShown);
    QVERIFY(boxes.asked().isEmpty());
    QVERIFY2(turnsBeforeHome > 0, "the window's loop stood still while the machine mounted");
    QVERIFY(!win32::IsMachineBooted());
}

void TestProgram::helpAndHomeOpenTheManualOnTheHost() {
    testing_support::TestMachine machine;
    machine.shutdown();
    QList<QUrl> opened;
    bool desktopTakesIt = true;
    ui::SetHostOpener([&](const QUrl& url) {
        opened << url;
        return desktopTakesIt;
    });
    MessageBoxes boxes;
    const WhenHomeShown atHome([&] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (auto* home = qobject_cast<ui::TfrmMain*>(window); home && home->isVisible()) {
                QTest::mouseClick(Child<QPushButton>(*home, "lvHelp"), Qt::LeftButton);
                QTest::mouseClick(Child<QPushButton>(*home, "lvHome"), Qt::LeftButton);
                desktopTakesIt = false;
                QTest::mouseClick(Child<QPushButton>(*home, "lvHelp"), Qt::LeftButton);
                home->close();
            }
        }
    });
    QCOMPARE(
        ui::RunHivewarden({"hivewarden", "--machine", QString::fromStdString(machine.folder())}),
        0);
    ui::SetHostOpener({});

    QCOMPARE(opened.size(), 3);
    QCOMPARE(opened[0].fileName(), QString("manual.html"));
    QCOMPARE(opened[1].fileName(), QString("index.html"));
    for (const QUrl& url : opened) {
        QVERIFY(url.isLocalFile());
        QFile page(url.toLocalFile());
        QVERIFY2(page.open(QIODevice::ReadOnly), qPrintable(url.toLocalFile()));
        QVERIFY(page.readAll().contains("Hivewarden"));
    }
    // A desktop that opens nothing is said so, once, for the one link that failed.
    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(boxes.asked()[0].icon, QMessageBox::Warning);
    QVERIFY(boxes.asked()[0].text.contains("manual.html"));
}

void TestProgram::onlyAnAdministratorOfAnNtSystemGetsTheWindow_data() {
    QTest::addColumn<QString>("ini");
    QTest::addColumn<bool>("windowShown");
    QTest::newRow("XP, administrator") << QString() << true;
    QTest::newRow("XP, standard user") << QString("[Machine]\nAdministrator=no\n") << false;
    QTest::newRow("98, no rights check")
        << QString("[Machine]\nAdministrator=no\n[Version]\nPlatform=9x\nVersion=4.10.2222\n"
                   "CSDVersion=A\n")
        << true;
}

void TestProgram::onlyAnAdministratorOfAnNtSystemGetsTheWindow() {
    QFETCH(QString, ini);
    QFETCH(bool, windowShown);
    testing_support::TestMachine machine;
    machine.shutdown();
    if (!ini.isEmpty()) {
        QFile file(QString::fromStdString(machine.hostPath("hivewarden-machine.ini")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(ini.toUtf8());
    }
    bool shown = false;
    const WhenHomeShown atHome([&] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* home = qobject_cast<ui::TfrmMain*>(window); home && home->isVisible()) {
                shown = true;
                home->close();
            }
    });
    MessageBoxes boxes;
    const int status =
        ui::RunHivewarden({"hivewarden", "--machine", QString::fromStdString(machine.folder())});
    QCOMPARE(shown, windowShown);
    QCOMPARE(status, windowShown ? 0 : 1);
    if (windowShown) {
        QVERIFY(boxes.asked().isEmpty());
    } else {
        QCOMPARE(boxes.asked().size(), 1);
        QCOMPARE(boxes.asked()[0].caption, QString());
        QCOMPARE(boxes.asked()[0].icon, QMessageBox::Information);
        QCOMPARE(boxes.asked()[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(boxes.asked()[0].text,
                 QString("In order to access System functions you must be logged on with Local "
                         "Administrator rights.\r\n \r\nFor more information please contact "
                         "your network or PC administrator."));
    }
    QVERIFY(!win32::IsMachineBooted());
}

// The platform appends the application's display name to every window title when one is
// set: none is, so "Hivewarden 1.0" and "About" stand alone. The desktop knows the program
// by its desktop entry.
void TestProgram::windowTitlesStandAlone() {
    testing_support::TestMachine machine;
    machine.shutdown();
    QString caption, displayName;
    const WhenHomeShown atHome([&] {
        displayName = QGuiApplication::applicationDisplayName();
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* home = qobject_cast<ui::TfrmMain*>(window); home && home->isVisible()) {
                caption = home->windowTitle();
                home->close();
            }
    });
    MessageBoxes boxes;
    QCOMPARE(
        ui::RunHivewarden({"hivewarden", "--machine", QString::fromStdString(machine.folder())}),
        0);
    QCOMPARE(caption, QString("Hivewarden 1.0"));
    // Unset, the display name is the application's name, and nothing is appended.
    QCOMPARE(displayName, QCoreApplication::applicationName());
    QCOMPARE(QGuiApplication::desktopFileName(), QString("hivewarden"));
}

// A long folder is cut in the middle, so that the installation's own folder stays in sight,
// and takes one line; its whole path is its tooltip.
void TestProgram::aLongInstallationFolderIsCutInTheMiddle() {
    testing_support::TestMachine machine;
    machine.shutdown();
    QTemporaryDir deep;
    QString folder = deep.path();
    for (int i = 0; i < 6; ++i)
        folder += QString("/a folder with a rather long name %1").arg(i);
    folder += "/TheInstallation";
    QVERIFY(QDir().mkpath(QFileInfo(folder).path()));
    const QString original = QString::fromStdString(machine.folder());
    QVERIFY(QDir().rename(original, folder));

    QString whole, shown, tip, copied;
    int height = 0, lineHeight = 0;
    const WhenHomeShown atHome([&] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* home = qobject_cast<ui::TfrmMain*>(window); home && home->isVisible()) {
                auto* label = Child<ui::ElidedLabel>(*home, "lblMachineFolder");
                whole = label->text();
                shown = label->ShownText();
                height = label->height();
                lineHeight = label->fontMetrics().height();
                const QPoint at(4, label->height() / 2);
                QHelpEvent hover(QEvent::ToolTip, at, label->mapToGlobal(at));
                QApplication::sendEvent(label, &hover);
                tip = QToolTip::isVisible() ? QToolTip::text() : QString();
                QToolTip::hideText();
                label->findChild<QAction*>("actCopy")->trigger();
                copied = QGuiApplication::clipboard()->text();
                home->close();
            }
    });
    MessageBoxes boxes;
    const int status = ui::RunHivewarden({"hivewarden", "--machine", folder});
    QVERIFY(QDir().rename(folder, original));
    QCOMPARE(status, 0);
    QCOMPARE(whole, folder);
    QVERIFY2(shown.contains(QChar(0x2026)) && shown.endsWith("/TheInstallation"),
             qPrintable(shown));
    QVERIFY2(shown.startsWith(whole.left(4)), qPrintable(shown));
    QVERIFY2(height < 2 * lineHeight, qPrintable(QString::number(height)));
    QCOMPARE(tip, whole);
    QCOMPARE(copied, whole);
}

// Closing the home window ends the program: a registry viewer still open closes with it,
// and the machine is let go, which makes the hive replacements that wait for it.
void TestProgram::closingTheHomeWindowEndsTheProgram() {
    testing_support::TestMachine machine;
    // A replacement that waits on disk: an earlier run could not make it (its old-file
    // name was taken when it let the machine go).
    QString failed;
    QVERIFY2(LeaveSoftwareReplacementWaiting(machine, failed), qPrintable(failed));
    QCOMPARE(win32::PendingReplacementsOf(machine.folder()).size(), size_t(1));

    QString waiting;
    bool viewerShown = false;
    QPointer<ui::RegistryViewer> viewer;
    const WhenHomeShown atHome([&] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* home = qobject_cast<ui::TfrmMain*>(window); home && home->isVisible()) {
                auto* label = Child<QLabel>(*home, "lblPendingReplacements");
                waiting = label->isVisible() ? label->text() : QString();
                // The wizard's "Open item location" opens the viewer at a key; the viewer
                // stays open when the wizard closes.
                WhenModal<ui::TfrmRepair>([&](ui::TfrmRepair& wizard) {
                    if (OpenRegeditAt("HKEY_LOCAL_MACHINE\\SOFTWARE", ""))
                        for (QWidget* other : QApplication::topLevelWidgets())
                            if (auto* open = qobject_cast<ui::RegistryViewer*>(other))
                                viewer = open;
                    wizard.reject();
                });
                QTest::mouseClick(Child<QPushButton>(*home, "lvRepair"), Qt::LeftButton);
                viewerShown = viewer && viewer->isVisible();
                home->close();
            }
    });
    // Should the program go on after the window closed, the test ends it, and fails.
    bool endedByTheTest = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        endedByTheTest = true;
        for (QWidget* window : QApplication::topLevelWidgets())
            window->close();
    });
    guard.start(5000);
    MessageBoxes boxes;
    const int status =
        ui::RunHivewarden({"hivewarden", "--machine", QString::fromStdString(machine.folder())});
    guard.stop();
    QCOMPARE(status, 0);
    QVERIFY(boxes.asked().isEmpty());
    QCOMPARE(waiting, QString("Hive replacements wait for this installation (SOFTWARE): "
                              "Hivewarden makes them when it closes."));
    QVERIFY(viewerShown);
    QVERIFY(!endedByTheTest);
    QVERIFY(viewer.isNull() || !viewer->isVisible());
    QVERIFY(!win32::IsMachineBooted());
    QVERIFY(win32::LastReleaseReplacements().allMade());
    QVERIFY(win32::PendingReplacementsOf(machine.folder()).empty());
}

QTEST_MAIN(TestProgram)
#include "test_ui_program.moc"
