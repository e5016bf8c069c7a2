#include "Alerts.h"
#include "Log.h"
#include "Opening.h"
#include "ProjectController.h"
#include "QuitRequests.h"
#include "Updater.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSettings>

int main(int argc, char *argv[])
{
    corvane::installMessageHandler();
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quillfern"));
    QApplication::setApplicationName(QStringLiteral("Quillfern"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLFERN_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("org.quillfern.Quillfern"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QApplication::translate("main", "Plan a project as a Gantt chart."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("files"), QApplication::translate("main", "Project files to open."),
        QStringLiteral("[files...]"));
    parser.process(application);

    // The updater asks through this to quit the way File > Quit does, so unsaved work is offered for saving.
    corvane::listenForQuitRequests([] { QApplication::closeAllWindows(); });

    const QStringList files = parser.positionalArguments();
    for (const QString &file : files)
        Opening::openProject(file);
    // A process without windows is invisible here, so one always opens.
    if (files.isEmpty())
        Opening::newDocument();
    // Stored inverted: true under the key switches automatic checking off.
    if (!QSettings().value(QStringLiteral("check version"), false).toBool()) {
        try {
            std::make_shared<corvane::Updater>(QStringLiteral("Quillfern"), QStringLiteral("Quillfern"), false)
                ->start();
        } catch (const std::exception &error) {
            corvane::showError(error);
        }
    }
    return QApplication::exec();
}
