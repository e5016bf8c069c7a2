#include "Alerts.h"

#include "Log.h"

#include <QCoreApplication>

#include <deque>
#include <functional>

namespace corvane {

namespace {

// UI thread only. A modal alert spins a nested event loop that would start the next posted unit
// on top of the open alert; queueing them here keeps the user reading them in posting order.
std::deque<std::function<void()>> pendingUnits;
bool runningUnits = false;

void runInOrder(std::function<void()> unit)
{
    pendingUnits.push_back(std::move(unit));
    if (runningUnits)
        return;
    runningUnits = true;
    struct Reset {
        ~Reset() { runningUnits = false; }
    } reset;
    while (!pendingUnits.empty()) {
        const std::function<void()> next = std::move(pendingUnits.front());
        pendingUnits.pop_front();
        next();
    }
}

void post(std::function<void()> unit, const QString &summary)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app) {
        qCCritical(lcCorvane).noquote() << "Alert not shown, there is no application:" << summary;
        return;
    }
    QMetaObject::invokeMethod(
        app, [unit = std::move(unit)]() mutable { runInOrder(std::move(unit)); }, Qt::QueuedConnection);
}

void postSystemError(const SystemError &error, const QString &information)
{
    post(
        [error, information] {
            Alert alert = makeErrorAlert(error);
            if (!information.isEmpty()) {
                alert.informativeText
                    = alert.informativeText.isEmpty() ? information : information + u'\n' + alert.informativeText;
            }
            presenter().runAlert(alert);
        },
        error.description());
}

} // namespace

void postAfterAlerts(std::function<void()> work)
{
    post(std::move(work), QStringLiteral("work after the alerts"));
}

void postAlert(Alert alert)
{
    const QString summary = alert.message;
    post([alert = std::move(alert)] { presenter().runAlert(alert); }, summary);
}

void showError(const std::exception &error)
{
    showError(error, QString());
}

void showError(const std::exception_ptr &error)
{
    showError(error, QString());
}

void showError(const std::exception &error, const QString &information)
{
    if (const auto *exception = dynamic_cast<const Exception *>(&error))
        exception->show();
    else
        postSystemError(toSystemError(error), information);
}

void showError(const std::exception_ptr &error, const QString &information)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const std::exception &e) {
        showError(e, information);
        return;
    } catch (...) { }
    postSystemError(toSystemError(error), information);
}

void showSystemError(const SystemError &error)
{
    postSystemError(error, QString());
}

Alert makeErrorAlert(const SystemError &error)
{
    Alert alert;
    alert.message = error.description();
    QString text = error.recoverySuggestion().value_or(QString());
    const SystemError::UserInfo &entries = error.userInfo();
    if (!entries.isEmpty()) {
        if (!text.isEmpty())
            text += u'\n';
        for (qsizetype i = 0; i < entries.size(); ++i) {
            if (i > 0)
                text += u'\n';
            text += entries.at(i).first + QLatin1String(": ") + describeValue(entries.at(i).second);
        }
    }
    alert.informativeText = text;
    return alert;
}

void showMessage(const QString &message, AlertStyle style)
{
    Alert alert;
    alert.style = style;
    alert.message = message;
    postAlert(std::move(alert));
}

} // namespace corvane
