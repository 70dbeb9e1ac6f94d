#pragma once
// Work that can take long on a large installation (a mount, an import, a flush of the
// hives) runs on a thread of its own, while the window's thread goes on painting and
// answering; a small window says what is under way once it takes more than a moment.

#include "scan/UiDispatcher.h"

#include <QString>
#include <functional>

class QWidget;

namespace ui {

// For work whose window shows its progress itself: the wait window never comes up.
constexpr int kNeverShow = -1;

// Runs `work` on a worker thread and returns when it has ended, the window's event loop
// running meanwhile. What `work` throws is thrown again here. After `showAfterMs` a modal
// window over `owner` (captioned `caption`) shows `text` with a busy bar; it cannot be
// closed, and the windows it blocks take no input, until the work has ended. `work` must
// not touch a widget.
void RunOffWindowThread(QWidget* owner, const QString& caption, const QString& text,
                        const std::function<void()>& work, int showAfterMs = 250);
// The same for work that reports as it goes: what it posts through `ui` runs on the
// window's thread in order, each before this returns.
void RunOffWindowThread(QWidget* owner, const QString& caption, const QString& text,
                        const std::function<void(UiDispatcher& ui)>& work, int showAfterMs = 250);

} // namespace ui
