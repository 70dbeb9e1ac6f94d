#include "cli/QtUiDispatcher.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace cli {

QtUiDispatcher::QtUiDispatcher() {
    if (const QCoreApplication* app = QCoreApplication::instance())
        QObject::connect(app, &QCoreApplication::aboutToQuit, &context_,
                         [this] { shuttingDown_ = true; });
}

void QtUiDispatcher::Post(std::function<void()> task) {
    // Queued events for one receiver are delivered in the order they were posted.
    QMetaObject::invokeMethod(&context_, std::move(task), Qt::QueuedConnection);
}

} // namespace cli
