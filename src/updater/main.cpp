#include "Log.h"
#include "Presenter.h"
#include "UpdateJob.h"
#include "UpdateWindow.h"
#include "Updater.h"

#include <QApplication>
#include <QDir>

#include <cstdio>

using namespace std::chrono_literals;

// The updater program: started by Quillfern with four arguments (bundle identifier, product name,
// the product's folder on the update site, "true" or "false") in its update folder. With
// QUILLFERN_UPDATER_UNATTENDED set it shows no window and ends with status 1 on failure, for tests.
int main(int argc, char *argv[])
{
    corvane::installMessageHandler();
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quillfern"));
    QApplication::setApplicationName(QStringLiteral("SoftwareUpdater"));

    const auto parameters = corvane::SoftwareUpdateParameters::fromArguments(QApplication::arguments().mid(1));
    if (!parameters) {
        std::fputs("usage: SoftwareUpdater BUNDLE-ID APP-NAME URL-PATH true|false\n", stderr);
        return 2;
    }
    const bool unattended = !qEnvironmentVariableIsEmpty("QUILLFERN_UPDATER_UNATTENDED");
    QApplication::setQuitOnLastWindowClosed(false);

    UpdateJob job(*parameters, QDir::currentPath());
    UpdateWindow *window = nullptr;
    if (unattended) {
        job.setQuitWaitLimit(20s);
    } else {
        window = new UpdateWindow(job, parameters->shortAppName);
        window->show();
    }
    endRunWhenFinished(job, window, !unattended, [](int status) { QApplication::exit(status); });
    job.start();
    const int result = QApplication::exec();
    delete window;
    return result;
}
