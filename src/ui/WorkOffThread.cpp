#include "ui/WorkOffThread.h"

#include "app/QtUiDispatcher.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <exception>
#include <thread>

namespace ui {

namespace {

// The small window that says what the program waits for. Neither Escape nor its close
// button ends it: only the end of the work does.
class WaitWindow : public QDialog {
public:
    WaitWindow(QWidget* owner, const QString& caption, const QString& text) : QDialog(owner) {
        setObjectName("frmWait");
        setWindowTitle(caption);
        setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
        setModal(true);
        auto* label = new QLabel(text, this);
        label->setObjectName("lblWait");
        label->setWordWrap(true);
        auto* bar = new QProgressBar(this);
        bar->setObjectName("pgWait");
        bar->setRange(0, 0); // no measure of how far: a busy bar
        bar->setTextVisible(false);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(16, 16, 16, 16);
        layout->addWidget(label);
        layout->addWidget(bar);
        setMinimumWidth(360);
    }

    void finish() {
        finished_ = true;
        hide();
    }
    void reject() override {
        if (finished_)
            QDialog::reject();
    }

protected:
    void closeEvent(QCloseEvent* event) override {
        if (finished_)
            QDialog::closeEvent(event);
        else
            event->ignore();
    }

private:
    bool finished_ = false;
};

// Drops the user's clicks and keys while the work runs: a job started meanwhile would run
// over the first. Dropped rather than held back, so that nothing runs after the wait.
class InputBlocker : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
            return true;
        default:
            return QObject::eventFilter(watched, event);
        }
    }
};

} // namespace

void RunOffWindowThread(QWidget* owner, const QString& caption, const QString& text,
                        const std::function<void()>& work, int showAfterMs) {
    RunOffWindowThread(
        owner, caption, text, [&work](UiDispatcher&) { work(); }, showAfterMs);
}

void RunOffWindowThread(QWidget* owner, const QString& caption, const QString& text,
                        const std::function<void(UiDispatcher& ui)>& work, int showAfterMs) {
    app::QtUiDispatcher dispatcher;
    QEventLoop loop;
    bool ended = false;
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work(dispatcher);
        } catch (...) {
            failure = std::current_exception();
        }
        // The loop learns of the end on its own thread, after every event posted before.
        dispatcher.Post([&] {
            ended = true;
            loop.quit();
        });
    });
    WaitWindow window(owner, caption, text);
    QTimer showLater;
    showLater.setSingleShot(true);
    QObject::connect(&showLater, &QTimer::timeout, &window, [&] {
        if (!ended)
            window.show();
    });
    if (showAfterMs >= 0)
        showLater.start(showAfterMs);
    InputBlocker blocker;
    QCoreApplication::instance()->installEventFilter(&blocker);
    while (!ended)
        loop.exec();
    QCoreApplication::instance()->removeEventFilter(&blocker);
    worker.join();
    showLater.stop();
    window.finish();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace ui
