#pragma once

#include <functional>

class QObject;

namespace zorvi {

// Runs work once from the event loop, ms milliseconds from now, unless
// context is destroyed first: a single-shot timer that belongs to context.
// Qt 5.2, the reader's Qt, has no QTimer::singleShot that takes a callable.
void runLater(QObject *context, int ms, std::function<void()> work);

} // namespace zorvi
