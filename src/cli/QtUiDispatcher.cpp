#include "cli/QtUiDispatcher.h"

#include <QMetaObject>

namespace cli {

void QtUiDispatcher::Post(std::function<void()> task) {
    // Queued events for one receiver are delivered in the order they were posted.
    QMetaObject::invokeMethod(&context_, std::move(task), Qt::QueuedConnection);
}

} // namespace cli
