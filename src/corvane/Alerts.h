#pragma once

#include "Exception.h"
#include "Presenter.h"
#include "SystemError.h"

#include <exception>
#include <functional>

// The alert operations. All are callable from any thread: each posts one unit of work to the UI
// thread and returns at once. The units run in posting order, and an alert waits until the one
// before it has closed.
namespace corvane {

// Shows the alert through the presenter on the UI thread.
void postAlert(Alert alert);

// Runs the work on the UI thread once every alert posted before it has closed.
void postAfterAlerts(std::function<void()> work);

// An Exception shows its own alert; any other error shows the system-error alert of its conversion.
void showError(const std::exception &error);
void showError(const std::exception_ptr &error);
// The same, with information put in front of the system-error alert's informative text. An
// Exception shows its own alert and the information is dropped.
void showError(const std::exception &error, const QString &information);
void showError(const std::exception_ptr &error, const QString &information);

void showSystemError(const SystemError &error);
// The system-error alert: the description as message, the recovery suggestion and then one
// "key: value" line per user-info entry as informative text.
[[nodiscard]] Alert makeErrorAlert(const SystemError &error);

// An alert with the message as its title and no informative text.
void showMessage(const QString &message, AlertStyle style = AlertStyle::Critical);

} // namespace corvane
