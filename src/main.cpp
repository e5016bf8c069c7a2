#include "Alerts.h"
#include "AppDelegate.h"
#include "CommandLine.h"
#include "Log.h"
#include "ProjectController.h"
#include "QuitRequests.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

namespace {

// Scripts and tests of the whole program run it where nobody can answer a question.
bool unattended()
{
    const QByteArray value = qgetenv("QUILLFERN_UNATTENDED");
    return !value.isEmpty() && value != "0";
}

} // namespace

int main(int argc, char *argv[])
{
    corvane::installMessageHandler();
    if (const std::optional<int> status = runCommandLine(argc, argv))
        return *status;
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quillfern"));
    QApplication::setApplicationName(QStringLiteral("Quillfern"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLFERN_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("org.quillfern.Quillfern"));
    // Installed with the desktop entry; a build run from its tree has none and shows the default.
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.quillfern.Quillfern")));
    // The last window to close ends the run through the quit flow of the application delegate.
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.setApplicationDescription(QApplication::translate("main", "Plan a project as a Gantt chart."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("files"), QApplication::translate("main", "Project files to open."),
        QStringLiteral("[files...]"));
    parser.process(application);

    corvane::UnattendedPresenter unattendedPresenter;
    if (unattended())
        corvane::installPresenter(&unattendedPresenter);

    AppDelegate delegate;
    QObject::connect(
        &delegate, &AppDelegate::terminating, &application, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    // The updater asks through this to quit the way File > Quit does, so unsaved work is offered for saving.
    corvane::listenForQuitRequests([&delegate] { delegate.terminate(); });

    const QStringList files = parser.positionalArguments();
    bool opened = files.isEmpty();
    for (const QString &file : files)
        opened = delegate.applicationOpenFile(file) || opened;
    if (files.isEmpty())
        delegate.newDocument();
    if (opened) {
        delegate.applicationDidFinishLaunching();
    } else {
        // Nothing named could be opened: once the user has read why, there is nothing to show.
        corvane::postAfterAlerts([] {
            if (ProjectController::openControllers().isEmpty())
                QCoreApplication::exit(1);
        });
    }
    const int status = QApplication::exec();
    corvane::stopListeningForQuitRequests();
    corvane::installPresenter(nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return status;
}
