#include "UpdateWindow.h"

#include "Presenter.h"
#include "UpdateJob.h"

UpdateWindow::UpdateWindow(UpdateJob &job, const QString &appName, QWidget *parent)
    : QProgressDialog(parent)
{
    setWindowTitle(QStringLiteral("Updating %1").arg(appName));
    setCancelButtonText(QStringLiteral("Cancel Update"));
    setMinimumDuration(0);
    setAutoClose(false);
    setAutoReset(false);
    // The wait for the program to quit may last long; the text must stay readable beside the bar.
    setMinimumWidth(420);
    connect(this, &QProgressDialog::canceled, &job, &UpdateJob::cancel);
    connect(&job, &UpdateJob::progress, this, [this](const QString &status, qint64 done, qint64 total) {
        setLabelText(status);
        // Bytes can exceed an int; the bar only needs the fraction.
        setMaximum(total > 0 ? 1000 : 0);
        setValue(total > 0 ? int(done * 1000 / total) : 0);
    });
}

void endRunWhenFinished(UpdateJob &job, UpdateWindow *window, bool showFailure, std::function<void(int)> ended)
{
    QObject::connect(&job, &UpdateJob::finished, &job,
        [window, showFailure, ended = std::move(ended)](
            bool success, const QString &message, const QString &information) {
            if (window)
                window->hide();
            if (!success && showFailure && !(window && window->wasCanceled())) {
                corvane::Alert alert;
                alert.style = corvane::AlertStyle::Critical;
                alert.message = message;
                alert.informativeText = information;
                corvane::presenter().runAlert(alert);
            }
            ended(success ? 0 : 1);
        });
}
