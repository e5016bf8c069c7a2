#include "Alerts.h"
#include "AppDelegate.h"
#include "Autosave.h"
#include "CommandLine.h"
#include "FileAccess.h"
#include "Log.h"
#include "ProjectController.h"
#include "QuitRequests.h"
#include "SwapJournal.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QIcon>
#include <QLockFile>

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
    corvane::repairOwnInstallation(argv);
    if (const std::optional<int> status = runCommandLine(argc, argv))
        return *status;
    QCoreApplication::setOrganizationName(QStringLiteral("Quillfern"));
    QCoreApplication::setApplicationName(QStringLiteral("Quillfern"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLFERN_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate("main", "Plan a project as a Gantt chart."));
    // Qt's own options are words of one dash: -stylesheet is not -s -t -y -l -e -s -h (help).
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("files"), QCoreApplication::translate("main", "Project files to open."),
        QStringLiteral("[files...]"));
    // Answered before a window system is needed, so that they work on a terminal without a
    // display. The window system's own options are not known yet: a failed parse means nothing.
    (void)parser.parse(decodedArguments(argc, argv));
    if (parser.isSet(version) || parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        const QCoreApplication terminal(argc, argv);
        if (parser.isSet(version))
            parser.showVersion();
        if (parser.isSet(help))
            parser.showHelp();
        // With the options of the application object there is; a window system's need a display.
        parser.process(terminal);
    }

    QApplication application(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("org.quillfern.Quillfern"));
    // Installed with the desktop entry; a build run from its tree has none and shows the default.
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.quillfern.Quillfern")));
    // The last window to close ends the run through the quit flow of the application delegate.
    QApplication::setQuitOnLastWindowClosed(false);
    // The application has taken its own options off the command line.
    parser.process(decodedArguments(argc, argv));

    // One Quillfern a user session: a later start gives its files to the one running, which
    // opens them in its own windows (an empty start, a new one), and is done.
    QByteArrayList handedOver;
    for (const QString &file : parser.positionalArguments())
        handedOver.append(encodeFileName(QFileInfo(file).absoluteFilePath()));
    std::unique_ptr<QLockFile> sessionLock;
    const corvane::StartRole role = corvane::takeSessionRole(handedOver, sessionLock);
    if (role == corvane::StartRole::HandedOver)
        return 0;

    // Scripts may name buttons to press where an alert offers them, such as Restore.
    corvane::UnattendedPresenter unattendedPresenter(
        qEnvironmentVariable("QUILLFERN_UNATTENDED_ANSWERS").split(u',', Qt::SkipEmptyParts));
    if (unattended())
        corvane::installPresenter(&unattendedPresenter);

    AppDelegate delegate;
    QObject::connect(
        &delegate, &AppDelegate::terminating, &application, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    // The updater asks through this to quit the way File > Quit does, so unsaved work is offered
    // for saving. A start that runs alone beside the session's program does not listen.
    if (role == corvane::StartRole::First)
        corvane::listenForQuitRequests([&delegate] { delegate.terminate(); });
    corvane::setOpenRequestHandler([&delegate](const QByteArrayList &files) {
        if (files.isEmpty())
            delegate.newDocument();
        QStringList paths;
        for (const QByteArray &file : files)
            paths.append(decodeFileName(file));
        delegate.openFilesInTurn(paths);
    });

    const bool restored = delegate.offerRecoveredWork() > 0;
    const QStringList files = parser.positionalArguments();
    bool opened = files.isEmpty() || restored;
    for (const QString &file : files)
        opened = delegate.applicationOpenFile(file) || opened;
    if (files.isEmpty() && !restored)
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
    corvane::setOpenRequestHandler(nullptr);
    corvane::stopListeningForQuitRequests();
    ProjectController::discardAll();
    // Recovery copies of the projects closed by the quit are removed on the writer thread.
    Recovery::waitForWrites();
    corvane::installPresenter(nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return status;
}
