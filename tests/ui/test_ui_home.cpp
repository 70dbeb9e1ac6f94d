// The home window: its status box (the times of the last scan, backup and compaction as
// the store holds them, and the link that resets them), the replacements that wait, its
// headings, its note on the installation, and where it opens.

#include "UiTestSupport.h"
#include "registry/OSInfo.h"
#include "store/OptionValues.h"
#include "store/ProgramFolder.h"
#include "store/SettingsNames.h"
#include "store/fxRegistryFile.h"
#include "support/MachineFixture.h"
#include "ui/TfrmMain.h"
#include "ui/WordWrapLabel.h"
#include "win32/machine/Machine.h"
#include "win32/registry/PendingReplacements.h"
#include "win32/registry/Registry.h"

#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace ui_testing;

class TestHome : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void withoutAStoreTheTimesStayEmptyAndNothingIsCreated();
    void showsTheStoredTimesAndResetEmptiesThemForGood();
    void showsReplacementsThatWaitAndWhenTheyAreMade();
    void centredOnTheDesktopAtStart();
    void bothBoxesShareOneHeadingStyle();
    void theNoteNeverBreaksAnOptionAcrossLines_data();
    void theNoteNeverBreaksAnOptionAcrossLines();
    void aWordWiderThanTheNoteIsBrokenAfterAFolder_data();
    void aWordWiderThanTheNoteIsBrokenAfterAFolder();
    void whatTheWindowMustSayNeverOverlaps();

private:
    QStringList shownTimes(ui::TfrmMain& home) {
        return {Child<QLabel>(home, "lblLastscan")->text(),
                Child<QLabel>(home, "lbllastBackup")->text(),
                Child<QLabel>(home, "lbllastCompact")->text()};
    }

    std::unique_ptr<testing_support::TestMachine> machine_;
    std::unique_ptr<QTemporaryDir> programFolder_;
};

void TestHome::init() {
    machine_ = std::make_unique<testing_support::TestMachine>();
    InitOSInfo();
    programFolder_ = std::make_unique<QTemporaryDir>();
    SetProgramFolder(programFolder_->path().toStdString());
}

void TestHome::cleanup() {
    SetProgramFolder("");
    machine_.reset();
}

void TestHome::withoutAStoreTheTimesStayEmptyAndNothingIsCreated() {
    ui::TfrmMain home;
    home.show();
    QCOMPARE(shownTimes(home), QStringList({"", "", ""}));
    QCOMPARE(home.size(), QSize(715, 543)); // nothing more to say than it was designed for
    QTest::mouseClick(Child<QPushButton>(home, "lvreset"), Qt::LeftButton);
    QCOMPARE(shownTimes(home), QStringList({"", "", ""}));
    QVERIFY(!QFileInfo::exists(QString::fromStdString(StoreFilePath())));
}

void TestHome::showsTheStoredTimesAndResetEmptiesThemForGood() {
    WriteOptionString(StoreFilePath(), kLastScanValue, "10-12-2026 09:15:00");
    WriteOptionString(StoreFilePath(), kLastCompactValue, "09-12-2026 18:40:12");
    {
        ui::TfrmMain home;
        home.show();
        // "LastBackup" does not exist: its label keeps what it showed.
        QCOMPARE(shownTimes(home), QStringList({"10-12-2026 09:15:00", "", "09-12-2026 18:40:12"}));
        QTest::mouseClick(Child<QPushButton>(home, "lvreset"), Qt::LeftButton);
        QCOMPARE(shownTimes(home), QStringList({"", "", ""}));
    }
    TfxRegFile store(StoreFilePath(), TfxRegFile::Access::ReadOnly);
    QVERIFY(store.OpenKey(kOptionsKey, false));
    for (const char* name : {kLastScanValue, kLastBackupValue, kLastCompactValue}) {
        QVERIFY2(store.ValueExists(name), name);
        QCOMPARE(store.ReadString(name), std::string());
    }
    store.CloseKey();
    // And a new home window shows them empty too.
    ui::TfrmMain again;
    again.show();
    QCOMPARE(shownTimes(again), QStringList({"", "", ""}));
}

// A replacement an earlier run could not make (its old-file name was taken when it let the
// machine go) waits on disk; the home window says so, and when it is made.
void TestHome::showsReplacementsThatWaitAndWhenTheyAreMade() {
    {
        ui::TfrmMain home;
        home.show();
        QVERIFY(!Child<QLabel>(home, "lblPendingReplacements")->isVisible());
    }
    QString failed;
    QVERIFY2(LeaveSoftwareReplacementWaiting(*machine_, failed), qPrintable(failed));
    QVERIFY(!win32::LastReleaseReplacements().allMade());

    machine_->boot();
    InitOSInfo();
    ui::TfrmMain home;
    home.show();
    auto* waiting = Child<QLabel>(home, "lblPendingReplacements");
    QVERIFY(waiting->isVisible());
    QCOMPARE(waiting->text(), QString("Hive replacements wait for this installation (SOFTWARE): "
                                      "Hivewarden makes them when it closes."));
    // Closing lets the machine go: then it is made.
    machine_->shutdown();
    QVERIFY(win32::LastReleaseReplacements().allMade());
    QVERIFY(win32::PendingReplacementsOf(machine_->folder()).empty());
    machine_->boot();
}

void TestHome::centredOnTheDesktopAtStart() {
    ui::TfrmMain home;
    home.show();
    QVERIFY(QTest::qWaitForWindowExposed(&home));
    const QPoint offset =
        home.frameGeometry().center() - home.screen()->availableGeometry().center();
    QVERIFY2(offset.manhattanLength() <= 2,
             qPrintable(QString("%1, %2").arg(offset.x()).arg(offset.y())));
}

// "Windows installation" and "Status & Summary" are headings of one kind: bold, over text
// in the window's own font.
void TestHome::bothBoxesShareOneHeadingStyle() {
    ui::TfrmMain home;
    home.show();
    auto* machine = Child<QGroupBox>(home, "grpMachine");
    auto* status = Child<QGroupBox>(home, "grpStatus");
    QCOMPARE(machine->title(), QString("Windows installation"));
    QCOMPARE(status->title(), QString("Status && Summary"));
    for (QGroupBox* box : {machine, status}) {
        QVERIFY2(box->font().bold(), qPrintable(box->title()));
        QCOMPARE(box->styleSheet(), QString());
    }
    QCOMPARE(machine->font(), status->font());
    for (const char* name : {"lblMachineFolder", "lblMachineVersion", "lblLastscan"})
        QVERIFY2(!Child<QLabel>(home, name)->font().bold(), name);
    QCOMPARE(Child<QLabel>(home, "lblMachineFolder")->font(),
             Child<QLabel>(home, "lblLastscan")->font());
}

void TestHome::theNoteNeverBreaksAnOptionAcrossLines_data() {
    QTest::addColumn<QString>("note");
    QTest::newRow("the sandbox's")
        << "Working on the sandbox machine at /home/someone/.local/share/"
           "hivewarden/Sandbox. To work on a real Windows installation, "
           "name its folder (the one that holds WINDOWS) with --machine "
           "DIR or HIVEWARDEN_MACHINE=DIR.";
    QTest::newRow("with text to escape") << "A <b>note</b> & an option: -x or --machine DIR.";
}

void TestHome::theNoteNeverBreaksAnOptionAcrossLines() {
    QFETCH(QString, note);
    ui::TfrmMain home;
    home.SetMachineNote(note);
    home.show();
    auto* label = Child<QLabel>(home, "lblMachineNote");
    QVERIFY(label->isVisible());
    // Whatever the width, the lines fit it and break only between words, so that an option
    // ("--machine") is never cut after its hyphens.
    int least = 0;
    for (const QString& word : note.split(' '))
        least = std::max(least, label->fontMetrics().horizontalAdvance(word));
    for (int width = least + 1; width <= 700; width += 7) {
        label->resize(width + 2 * label->margin(), label->heightForWidth(width));
        const QStringList lines = label->text().split('\n');
        const QString shown = QString("at %1: %2").arg(width).arg(lines.join(" | "));
        QCOMPARE(lines.join(' '), note.simplified());
        for (const QString& line : lines)
            QVERIFY2(label->fontMetrics().horizontalAdvance(line) <= label->contentsRect().width(),
                     qPrintable(shown));
        QCOMPARE(label->height(), int(lines.size()) * label->fontMetrics().lineSpacing());
    }
}

// A folder wider than the note takes lines of its own, each broken after a separator where
// one fits, else where the line is full; nothing of it is lost.
void TestHome::aWordWiderThanTheNoteIsBrokenAfterAFolder_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("widthOf");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("a path") << "at /aaaa/bbbb/cccc/dddd."
                            << "/aaaa/bbbb/" << QStringList{"at", "/aaaa/bbbb/", "cccc/dddd."};
    QTest::newRow("a Windows path") << "C:\\aaaa\\bbbb\\cccc"
                                    << "C:\\aaaa\\bbbb" << QStringList{"C:\\aaaa\\", "bbbb\\cccc"};
    QTest::newRow("no separator") << "xxxxxxxxxx"
                                  << "xxxx" << QStringList{"xxxx", "xxxx", "xx"};
    QTest::newRow("paragraphs") << "one two\nthree"
                                << "one two" << QStringList{"one two", "three"};
}

void TestHome::aWordWiderThanTheNoteIsBrokenAfterAFolder() {
    QFETCH(QString, text);
    QFETCH(QString, widthOf);
    QFETCH(QStringList, lines);
    const QFontMetrics metrics(QApplication::font());
    QCOMPARE(ui::WordWrapLabel::WrapAtSpaces(text, metrics, metrics.horizontalAdvance(widthOf)),
             lines);
}

// A long note and replacements that wait need more room than the window's designed size:
// the window grows taller rather than lay one line over another or cut the status off.
void TestHome::whatTheWindowMustSayNeverOverlaps() {
    QString failed;
    QVERIFY2(LeaveSoftwareReplacementWaiting(*machine_, failed), qPrintable(failed));
    machine_->boot();
    InitOSInfo();
    ui::TfrmMain home;
    QString note;
    for (int i = 0; i < 12; ++i)
        note += QString("This is line %1 of a note that says a great deal. ").arg(i);
    home.SetMachineNote(note);
    home.show();
    const auto bottomOf = [&](const char* name) {
        auto* widget = Child<QWidget>(home, name);
        return widget->mapTo(&home, QPoint(0, widget->height())).y();
    };
    const auto topOf = [&](const char* name) {
        return Child<QWidget>(home, name)->mapTo(&home, QPoint(0, 0)).y();
    };
    auto* noteLabel = Child<QLabel>(home, "lblMachineNote");
    QVERIFY(noteLabel->height() >= noteLabel->heightForWidth(noteLabel->width()));
    QVERIFY(Child<QLabel>(home, "lblPendingReplacements")->isVisible());
    QVERIFY(bottomOf("lblMachineNote") <= topOf("lblPendingReplacements"));
    QVERIFY(bottomOf("grpMachine") <= topOf("grpStatus"));
    QVERIFY(bottomOf("grpStatus") <= home.height());
    QCOMPARE(home.width(), 715);
    const int tall = home.height();
    QVERIFY(tall > 543);
    // Without the note the window shrinks again, never below its designed size.
    home.SetMachineNote({});
    QVERIFY(home.height() < tall);
    QVERIFY(home.height() >= 543);
    QVERIFY(bottomOf("grpStatus") <= home.height());
}

QTEST_MAIN(TestHome)
#include "test_ui_home.moc"
