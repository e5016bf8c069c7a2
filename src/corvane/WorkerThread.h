#pragma once

#include <QString>

#include <functional>

namespace corvane {

// Runs work on a new detached thread named label, the stand-in for a labelled serial queue. The
// work must keep alive whatever it uses.
void startWorkerThread(const QString &label, std::function<void()> work);

} // namespace corvane
