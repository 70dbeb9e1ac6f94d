// The About window, opened from the home window: the Windows line of the machine and the
// memory line in whole megabytes.

#include "UiTestSupport.h"
#include "registry/OSInfo.h"
#include "support/MachineFixture.h"
#include "ui/TfrmAbout.h"
#include "ui/TfrmMain.h"
#include "win32/system/MemoryStatus.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

using namespace ui_testing;

class TestAbout : public QObject {
    Q_OBJECT
private slots:
    void memoryLineRoundsToWholeMegabytes_data();
    void memoryLineRoundsToWholeMegabytes();
    void windowsLineOfTheMachine_data();
    void windowsLineOfTheMachine();
    void closesWithEnterAndEscape();
};

void TestAbout::memoryLineRoundsToWholeMegabytes_data() {
    QTest::addColumn<quint64>("bytes");
    QTest::addColumn<QString>("megabytes");
    QTest::newRow("2 GB") << quint64(2147483648ull) << "2048";
    QTest::newRow("1.5 GB") << quint64(1610612736ull) << "1536";
    QTest::newRow("a half rounds down to even") << quint64(2621440) << "2";
    QTest::newRow("a half rounds up to even") << quint64(3670016) << "4";
    QTest::newRow("just under a half") << quint64(2621439) << "2";
    QTest::newRow("just over a half") << quint64(2621441) << "3";
    QTest::newRow("none") << quint64(0) << "0";
    QTest::newRow("64 GB") << quint64(68719476736ull) << "65536";
}

void TestAbout::memoryLineRoundsToWholeMegabytes() {
    QFETCH(quint64, bytes);
    QFETCH(QString, megabytes);
    QCOMPARE(ui::TfrmAbout::MemoryLine(bytes),
             "Physical memory of the computer Hivewarden runs on: " + megabytes + " MB");
}

void TestAbout::windowsLineOfTheMachine_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("servicePack");
    QTest::addColumn<QString>("ini");
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("win64");
    QTest::newRow("XP SP2") << "5.1.2600"
                            << "Service Pack 2"
                            << ""
                            << "Windows XP (Service Pack 2)" << false;
    QTest::newRow("2003 without a service pack") << "5.2.3790"
                                                 << ""
                                                 << ""
                                                 << "Windows 2003" << false;
    QTest::newRow("7 SP1, named though the product codes have no name")
        << "6.1.7601"
        << "Service Pack 1"
        << ""
        << "Windows 7 (Service Pack 1)" << false;
    QTest::newRow("11") << "10.0.22631"
                        << ""
                        << ""
                        << "Windows 11" << false;
    QTest::newRow("11 on 64 bits") << "10.0.22631"
                                   << ""
                                   << ""
                                   << "Windows 11 64-bit" << true;
    QTest::newRow("98 SE") << "5.1.2600"
                           << ""
                           << "[Version]\nPlatform=9x\nVersion=4.10.2222\nCSDVersion=A\n"
                           << "Windows 98 (SE)" << false;
    QTest::newRow("no name and no service pack: an empty line")
        << "5.1.2600"
        << ""
        << "[Version]\nPlatform=Win32s\nVersion=1.30.172\n"
        << "" << false;
}

void TestAbout::windowsLineOfTheMachine() {
    QFETCH(QString, version);
    QFETCH(QString, servicePack);
    QFETCH(QString, ini);
    QFETCH(QString, line);
    QFETCH(bool, win64);
    win32::NewMachine options;
    options.version = version.toStdString();
    options.servicePack = servicePack.toStdString();
    // A 64-bit installation keeps its 32-bit system files in SysWOW64.
    std::vector<testing_support::FixtureFile> files;
    if (win64)
        files.push_back({"C:\\WINDOWS\\SysWOW64\\kernel32.dll", testing_support::MzImage()});
    testing_support::TestMachine machine({}, files, options);
    if (!ini.isEmpty())
        machine.rebootWithIni(ini.toStdString());
    InitOSInfo();

    ui::TfrmMain home;
    home.show();
    QString sys, memory, caption;
    bool sawWindow = false;
    WhenModal<ui::TfrmAbout>([&](ui::TfrmAbout& about) {
        sawWindow = true;
        caption = about.windowTitle();
        sys = Child<QLabel>(about, "lblSys")->text();
        memory = Child<QLabel>(about, "lblMemory")->text();
        QCOMPARE(about.size(), QSize(478, 363));
        QCOMPARE(Child<QLabel>(about, "lblProduct")->text(), QString("Hivewarden"));
        QCOMPARE(Child<QLabel>(about, "lblVersion")->text(), QString("Version 1.0"));
        QTest::mouseClick(Child<QPushButton>(about, "btnClose"), Qt::LeftButton);
    });
    QTest::mouseClick(Child<QPushButton>(home, "lvAbout"), Qt::LeftButton);
    QVERIFY(sawWindow);
    QCOMPARE(caption, QString("About"));
    QCOMPARE(sys, line);
    MEMORYSTATUS status{};
    GlobalMemoryStatus(&status);
    QCOMPARE(memory, ui::TfrmAbout::MemoryLine(status.dwTotalPhys));
}

void TestAbout::closesWithEnterAndEscape() {
    testing_support::TestMachine machine;
    InitOSInfo();
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        ui::TfrmAbout about;
        about.FillSystemInfo();
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QTest::keyClick(&about, key);
        QVERIFY(!about.isVisible());
    }
}

QTEST_MAIN(TestAbout)
#include "test_ui_about.moc"
