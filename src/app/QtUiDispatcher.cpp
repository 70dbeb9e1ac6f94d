#include "app/QtUiDispatcher.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace app {

QtUiDispatcher::QtUiDispatcher() {
    if (const QCoreApplication* application = QCoreApplication::instance())
        QObject::connect(application, &QCoreApplication::aboutToQuit, &context_,
                         [this] { shuttingDown_ = true; });
}

void QtUiDispatcher::Post(std::function<void()> task) {
    // Queued events for one receiver are delivered in the order they were posted.
    QMetaObject::invokeMethod(&context_, std::move(task), Qt::QueuedConnection);
}

} // namespace app
