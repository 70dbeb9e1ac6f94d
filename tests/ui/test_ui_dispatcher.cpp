// The engines' way onto the GUI thread: queued tasks in order, the blocking hand-over a
// scan worker uses, and a window that goes away while the worker waits.

#include "app/QtUiDispatcher.h"
#include "scan/UiHandOver.h"

#include <QtTest>
#include <atomic>
#include <thread>
#include <vector>

class TestDispatcher : public QObject {
    Q_OBJECT
private slots:
    void tasksRunOnTheGuiThreadInOrder();
    void handOverWaitsForTheGuiThread();
    void aWindowClosingWhileTheWorkerWaitsReleasesIt();
    void quittingReleasesAWaitingWorker();
};

void TestDispatcher::tasksRunOnTheGuiThreadInOrder() {
    app::QtUiDispatcher ui;
    std::vector<int> order;
    bool offThread = false;
    std::thread worker([&] {
        for (int i = 0; i < 1000; ++i)
            ui.Post([&, i] {
                offThread |= QThread::currentThread() != qApp->thread();
                order.push_back(i);
            });
    });
    worker.join();
    QTRY_COMPARE(order.size(), size_t(1000));
    QVERIFY(!offThread);
    for (int i = 0; i < 1000; ++i)
        QCOMPARE(order[size_t(i)], i);
}

void TestDispatcher::handOverWaitsForTheGuiThread() {
    app::QtUiDispatcher ui;
    UiHandOver handOver(ui);
    std::vector<int> appended; // touched only on the GUI thread
    std::atomic<int> results{0};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i)
            if (handOver.Invoke([&, i] { appended.push_back(i); }))
                ++results;
        done = true;
    });
    QTRY_VERIFY(done);
    worker.join();
    QCOMPARE(results.load(), 50);
    QCOMPARE(appended.size(), size_t(50));
}

void TestDispatcher::aWindowClosingWhileTheWorkerWaitsReleasesIt() {
    app::QtUiDispatcher ui;
    auto handOver = std::make_unique<UiHandOver>(ui);
    std::atomic<bool> ran{false};
    std::atomic<int> result{-1};
    std::thread worker([&] { result = handOver->Invoke([&] { ran = true; }) ? 1 : 0; });
    // The window goes away before its loop ran the worker's task: its owner abandons
    // the hand-over and waits for the worker, which must not hang.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    handOver->Abandon();
    worker.join();
    QCOMPARE(result.load(), 0);
    handOver.reset();
    QCoreApplication::processEvents();
    QVERIFY(!ran);
}

void TestDispatcher::quittingReleasesAWaitingWorker() {
    app::QtUiDispatcher ui;
    UiHandOver handOver(ui);
    QVERIFY(!ui.IsShuttingDown());
    std::atomic<int> result{-1};
    std::atomic<bool> ran{false};
    // The application quits without running the queued task; the worker learns of it.
    // (Last of the tests: the application's loop has ended after it.)
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    std::thread worker([&] { result = handOver.Invoke([&] { ran = true; }) ? 1 : 0; });
    worker.join();
    QVERIFY(ui.IsShuttingDown());
    QCOMPARE(result.load(), 0);
    QCoreApplication::processEvents();
    QVERIFY(!ran);
}

QTEST_MAIN(TestDispatcher)
#include "test_ui_dispatcher.moc"
