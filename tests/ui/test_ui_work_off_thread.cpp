// Long work off the window's thread: the event loop runs while it is under way, a small
// window says what the program waits for, and the user's input cannot start anything
// meanwhile.

#include "UiTestSupport.h"
#include "ui/WorkOffThread.h"

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

using namespace ui_testing;
using namespace std::chrono_literals;

namespace {

// Waits on the worker until `flag` is set (by the window's thread); false after 10 s.
bool waitFor(const std::atomic<bool>& flag) {
    for (int n = 0; n < 2000 && !flag; ++n)
        std::this_thread::sleep_for(5ms);
    return flag;
}

QDialog* waitWindow() {
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->objectName() == "frmWait" && window->isVisible())
            return qobject_cast<QDialog*>(window);
    return nullptr;
}

} // namespace

class TestWorkOffThread : public QObject {
    Q_OBJECT
private slots:
    void theLoopRunsWhileTheWorkRuns();
    void theWaitWindowSaysWhatRunsAndStaysUntilTheEnd();
    void aQuickJobShowsNoWindow();
    void clicksMeanwhileAreDropped();
    void whatTheWorkThrowsComesBack();
    void whatTheWorkPostsRunsInOrderBeforeTheEnd();
};

void TestWorkOffThread::theLoopRunsWhileTheWorkRuns() {
    // The work can only end once a timer of the window's thread has fired.
    std::atomic<bool> timerFired{false};
    QTimer::singleShot(20, [&] { timerFired = true; });
    bool sawTimer = false;
    ui::RunOffWindowThread(nullptr, "Caption", "Working", [&] { sawTimer = waitFor(timerFired); });
    QVERIFY(sawTimer);
}

void TestWorkOffThread::theWaitWindowSaysWhatRunsAndStaysUntilTheEnd() {
    QWidget owner;
    owner.show();
    std::atomic<bool> release{false};
    QString caption, text;
    bool modal = false, visibleAfterEscape = false, visibleAfterClose = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QDialog* window = waitWindow();
        if (!window)
            return;
        poll.stop();
        caption = window->windowTitle();
        text = Child<QLabel>(*window, "lblWait")->text();
        modal = window->isModal();
        window->reject(); // Escape
        visibleAfterEscape = window->isVisible();
        window->close(); // the close button
        visibleAfterClose = window->isVisible();
        release = true;
    });
    poll.start();
    bool released = false;
    ui::RunOffWindowThread(
        &owner, "Restore", "Importing, please wait...", [&] { released = waitFor(release); }, 10);
    QVERIFY(released);
    QCOMPARE(caption, QString("Restore"));
    QCOMPARE(text, QString("Importing, please wait..."));
    QVERIFY(modal);
    QVERIFY(visibleAfterEscape);
    QVERIFY(visibleAfterClose);
    QVERIFY(!waitWindow());
}

void TestWorkOffThread::aQuickJobShowsNoWindow() {
    bool shown = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] { shown |= waitWindow() != nullptr; });
    poll.start(0);
    int runs = 0;
    ui::RunOffWindowThread(
        nullptr, "Caption", "Working", [&] { ++runs; }, 10000);
    QCOMPARE(runs, 1);
    QVERIFY(!shown);
}

void TestWorkOffThread::clicksMeanwhileAreDropped() {
    QWidget owner;
    auto* button = new QPushButton("Start", &owner);
    owner.show();
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    std::atomic<bool> clicked{false};
    // Before the wait window is up, as a quick user would.
    QTimer::singleShot(0, [&] {
        QTest::mouseClick(button, Qt::LeftButton);
        QTest::keyClick(button, Qt::Key_Space);
        clicked = true;
    });
    ui::RunOffWindowThread(
        &owner, "Caption", "Working", [&] { waitFor(clicked); }, 10000);
    QCoreApplication::processEvents();
    QCOMPARE(clicks, 0);
    // Afterwards the button works again.
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(clicks, 1);
}

void TestWorkOffThread::whatTheWorkThrowsComesBack() {
    QString message;
    try {
        ui::RunOffWindowThread(nullptr, "Caption", "Working",
                               [] { throw std::runtime_error("The hive SOFTWARE is torn."); });
    } catch (const std::runtime_error& e) {
        message = e.what();
    }
    QCOMPARE(message, QString("The hive SOFTWARE is torn."));
}

void TestWorkOffThread::whatTheWorkPostsRunsInOrderBeforeTheEnd() {
    QList<int> seen;
    bool onWindowThread = true;
    QThread* windowThread = QThread::currentThread();
    ui::RunOffWindowThread(nullptr, "Caption", "Working", [&](UiDispatcher& ui) {
        for (int n = 0; n < 500; ++n)
            ui.Post([&, n] {
                seen << n;
                onWindowThread &= QThread::currentThread() == windowThread;
            });
    });
    QCOMPARE(seen.size(), 500);
    for (int n = 0; n < 500; ++n)
        QCOMPARE(seen[n], n);
    QVERIFY(onWindowThread);
}

QTEST_MAIN(TestWorkOffThread)
#include "test_ui_work_off_thread.moc"
