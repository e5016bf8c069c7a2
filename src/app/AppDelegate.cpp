#include "AppDelegate.h"

#include "Alerts.h"
#include "Autosave.h"
#include "Log.h"
#include "Preferences.h"
#include "PreferencesController.h"
#include "Project.h"
#include "ProjectController.h"
#include "ProjectFile.h"
#include "ProjectLoader.h"
#include "RecentDocuments.h"
#include "ShownText.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QLocale>
#include <QMenu>
#include <QPointer>
#include <QTimer>

namespace {

AppDelegate *theInstance = nullptr;

// The windows' menus find the application's commands by these names.
const QString openPreferencesName = QStringLiteral("openPreferences");

// Windows that the quit flow closes are not the user closing the last window.
bool quitFlowRunning = false;

struct QuitFlowScope {
    QuitFlowScope() { quitFlowRunning = true; }
    ~QuitFlowScope() { quitFlowRunning = false; }
    QuitFlowScope(const QuitFlowScope &) = delete;
    QuitFlowScope &operator=(const QuitFlowScope &) = delete;
};

bool noWindowOpen()
{
    return ProjectController::openControllers().isEmpty() && !PreferencesController::currentPreferencesController();
}

} // namespace

AppDelegate::AppDelegate(QObject *parent)
    : QObject(parent)
{
    Q_ASSERT(!theInstance);
    theInstance = this;
}

AppDelegate::~AppDelegate()
{
    if (theInstance == this)
        theInstance = nullptr;
}

AppDelegate *AppDelegate::instance()
{
    return theInstance;
}

bool AppDelegate::applicationOpenFile(const QString &path)
{
    return openProject(path);
}

namespace {

QString recoveredLine(const RecoveryCopy &copy)
{
    const QString name = corvane::ShownText::cut(copy.name.isEmpty() ? AppDelegate::tr("Untitled") : copy.name);
    const QString where = copy.path ? *copy.path : AppDelegate::tr("never saved");
    return AppDelegate::tr("\u201c%1\u201d (%2), changed %3")
        .arg(name, where, QLocale().toString(copy.written.toLocalTime(), QLocale::ShortFormat));
}

bool restore(RecoveryCopy copy, AppDelegate *application)
{
    std::unique_ptr<Project> project;
    QString reason;
    if (const std::optional<QByteArray> bytes = Recovery::projectBytes(copy)) {
        try {
            project = readProject(*bytes);
        } catch (const ProjectFileError &error) {
            reason = error.message();
        }
    }
    if (!project) {
        corvane::showSystemError(corvane::SystemError(
            AppDelegate::tr("The unsaved changes of \u201c%1\u201d could not be restored.").arg(copy.name),
            AppDelegate::tr("The recovery copy is damaged. It stays in the recovery folder."),
            { { QStringLiteral("File"), QVariant(Recovery::folder() + u'/' + copy.id + QLatin1String(".recovery")) },
                { QStringLiteral("Reason"), QVariant(reason) } }));
        return false;
    }
    // Unsaved work again: saving it, to its own file if it had one, is the user's choice.
    project->setDirty(true);
    qCInfo(corvane::lcCorvane).noquote() << "restoring the unsaved changes of" << copy.name << "from recovery copy"
                                         << copy.id;
    ProjectController *controller = ProjectController::open(std::move(project), copy.path, std::nullopt, application);
    controller->setUrlNeedsConfirming();
    controller->autosave()->adopt(std::move(copy));
    controller->showWindow();
    return true;
}

} // namespace

int AppDelegate::offerRecoveredWork()
{
    std::vector<RecoveryCopy> copies = Recovery::takeOrphanedCopies();
    if (copies.empty())
        return 0;
    QStringList lines;
    for (const RecoveryCopy &copy : copies)
        lines.append(recoveredLine(copy));
    corvane::Alert alert;
    alert.style = corvane::AlertStyle::Warning;
    alert.message = tr("Quillfern found unsaved changes from a session that ended unexpectedly.");
    alert.informativeText = corvane::ShownText::cutLines(lines.join(u'\n'));
    alert.buttons = { tr("Restore"), tr("Discard"), tr("Later") };
    int restored = 0;
    switch (corvane::presenter().runAlert(alert)) {
    case corvane::FirstButton:
        for (RecoveryCopy &copy : copies)
            restored += restore(std::move(copy), this) ? 1 : 0;
        break;
    case corvane::SecondButton:
        for (RecoveryCopy &copy : copies)
            Recovery::remove(std::move(copy));
        break;
    default:
        // Their locks go with them, and the next start offers them again.
        break;
    }
    return restored;
}

void AppDelegate::applicationDidFinishLaunching()
{
    if (Preferences::shared().isCheckVersion())
        Preferences::startUpdateCheck();
    else
        qCInfo(corvane::lcCorvane, "automatic update check is switched off");
}

void AppDelegate::newDocument()
{
    ProjectController::open(std::make_unique<Project>(), std::nullopt, std::nullopt, this)->showWindow();
}

void AppDelegate::openDocument()
{
    corvane::FilePanel panel;
    panel.title = tr("Open Project");
    panel.directory = RecentDocuments::panelFolder();
    panel.parent = QApplication::activeWindow();
    corvane::presenter().beginOpenPanel(panel, [](const std::optional<QString> &path) {
        if (path && !path->isEmpty()) {
            RecentDocuments::notePanelChoice(*path);
            openProject(*path);
        }
    });
}

void AppDelegate::importDocument()
{
    corvane::FilePanel panel;
    panel.title = tr("Import Plan");
    panel.nameFilter = tr("Plans (*.xml *.planner *.csv);;MS Project XML (*.xml);;GNOME Planner (*.planner);;"
                          "Quillfern CSV (*.csv)");
    panel.directory = RecentDocuments::panelFolder();
    panel.parent = QApplication::activeWindow();
    corvane::presenter().beginOpenPanel(panel, [](const std::optional<QString> &path) {
        if (!path || path->isEmpty())
            return;
        RecentDocuments::notePanelChoice(*path);
        if (const std::optional<PlanExchange::Format> format = PlanExchange::formatForPath(*path)) {
            importProject(*path, *format);
            return;
        }
        corvane::showMessage(tr("Choose a file ending in .xml (MS Project XML), .planner (GNOME Planner) or .csv "
                                "(a table Quillfern exported)."),
            corvane::AlertStyle::Warning);
    });
}

bool AppDelegate::importProject(const QString &path, PlanExchange::Format format)
{
    std::optional<ProjectLoader::Loaded> loaded = ProjectController::importFrom(path, format);
    if (!loaded)
        return false;
    std::unique_ptr<Project> project = std::move(loaded->project);
    corvane::Alert alert;
    alert.message = loaded->kept;
    QStringList lines = loaded->changes;
    QString details;
    if (const std::optional<ConsistencyReport> report = project->deletedEdgesReport()) {
        const qsizetype dropped = project->deletedEdges().size();
        lines.append(dropped == 1
                ? tr("1 dependency contradicted the imported times and was deleted:")
                : tr("%1 dependencies contradicted the imported times and were deleted:").arg(dropped));
        const QString first = corvane::ShownText::firstLines(report->informativeText);
        lines.append(first);
        if (first != report->informativeText)
            details = report->informativeText;
    }
    alert.style = lines.isEmpty() ? corvane::AlertStyle::Informational : corvane::AlertStyle::Warning;
    alert.informativeText = corvane::ShownText::cutLines(lines.join(u'\n'));
    if (!details.isEmpty())
        alert.detailedText = details;
    corvane::presenter().runAlert(alert);
    // A new plan that no file holds yet: Save asks where, and closing asks first.
    project->setDirty(true);
    ProjectController::open(std::move(project), std::nullopt, std::nullopt, instance())->showWindow();
    return true;
}

bool AppDelegate::openProject(const QString &path)
{
    if (const std::optional<PlanExchange::Format> format = PlanExchange::formatForPath(path))
        return importProject(path, *format);
    const QString absolute = QFileInfo(path).absoluteFilePath();
    FileStamp stamp;
    std::unique_ptr<Project> project = ProjectController::readFrom(absolute, &stamp);
    if (!project)
        return false;
    // Asked directly rather than posted, so the user reads it before the window appears.
    if (const std::optional<ConsistencyReport> report = project->deletedEdgesReport()) {
        corvane::Alert alert;
        alert.style = corvane::AlertStyle::Warning;
        alert.message = report->message;
        // A screenful of the list; all of it behind Show Details. The report names the tasks,
        // which a document may give names of any length.
        alert.informativeText = corvane::ShownText::cutLines(corvane::ShownText::firstLines(report->informativeText));
        if (alert.informativeText != report->informativeText)
            alert.detailedText = report->informativeText;
        corvane::presenter().runAlert(alert);
    }
    ProjectController::open(std::move(project), absolute, stamp, instance())->showWindow();
    RecentDocuments::note(absolute);
    return true;
}

void AppDelegate::openFilesInTurn(const QStringList &paths)
{
    m_pendingOpens += paths;
    if (!m_openingInTurn)
        openNextPending();
}

void AppDelegate::openNextPending()
{
    m_openingInTurn = !m_pendingOpens.isEmpty();
    if (!m_openingInTurn)
        return;
    openProject(m_pendingOpens.takeFirst());
    // The windows answer between one file and the next.
    QTimer::singleShot(0, this, &AppDelegate::openNextPending);
}

void AppDelegate::fillRecentMenu(QMenu *menu)
{
    menu->clear();
    const QStringList paths = RecentDocuments::list();
    for (const QString &path : paths) {
        const QFileInfo info(path);
        const QString title = info.exists() ? info.fileName() : tr("%1 (not found)").arg(info.fileName());
        QAction *entry = menu->addAction(title, this, [this, path] { openRecentDocument(path); });
        entry->setToolTip(path);
    }
    menu->addSeparator();
    QAction *clear = menu->addAction(tr("Clear Menu"), this, [] { RecentDocuments::clear(); });
    clear->setEnabled(!paths.isEmpty());
}

void AppDelegate::openRecentDocument(const QString &path)
{
    if (QFileInfo::exists(path)) {
        openProject(path);
        return;
    }
    RecentDocuments::remove(path);
    corvane::Alert alert;
    alert.style = corvane::AlertStyle::Warning;
    alert.message = tr("\u201c%1\u201d can no longer be found.").arg(QFileInfo(path).fileName());
    alert.informativeText = tr("It was moved, renamed or deleted since it was last opened, and has been taken "
                               "off the Open Recent menu. Use Open... to find it.\nFile: %1")
                                .arg(path);
    corvane::postAlert(alert);
}

void AppDelegate::openPreferences()
{
    PreferencesController::openPreferencesWindow();
}

bool AppDelegate::validateUserInterfaceItem(const QAction *action) const
{
    if (action && action->objectName() == openPreferencesName)
        return PreferencesController::currentPreferencesController() == nullptr;
    return true;
}

AppDelegate::TerminateReply AppDelegate::applicationShouldTerminate()
{
    const QuitFlowScope scope;
    // A window-modal question leaves the other windows working: one may close meanwhile.
    QList<QPointer<ProjectController>> controllers;
    for (ProjectController *controller : ProjectController::openControllers())
        controllers.append(controller);
    for (const QPointer<ProjectController> &controller : controllers) {
        if (!controller || !controller->projectWindow())
            continue;
        if (!controller->project()->isDirty()) {
            controller->closeWindowWithoutAsking();
            continue;
        }
        controller->projectWindow()->raise();
        switch (controller->askToSaveChanges()) {
        case corvane::FirstButton:
            if (!controller)
                return TerminateCancel;
            // Only a project that really reached its file may close; a cancelled panel or a
            // failed write keeps the window and its changes, and the quit stops.
            if (!controller->save())
                return TerminateCancel;
            controller->closeWindowWithoutAsking();
            break;
        case corvane::SecondButton:
            if (controller)
                controller->closeWindowWithoutAsking();
            break;
        default:
            return TerminateCancel;
        }
    }
    return TerminateNow;
}

void AppDelegate::terminate()
{
    // Quit chosen again while the flow's question is up is the same quit.
    if (quitFlowRunning)
        return;
    if (applicationShouldTerminate() == TerminateCancel)
        return;
    if (PreferencesController *preferences = PreferencesController::currentPreferencesController()) {
        const QuitFlowScope scope;
        preferences->window()->close();
    }
    Q_EMIT terminating();
}

void AppDelegate::windowsChanged()
{
    Q_EMIT validationChanged();
    if (quitFlowRunning || !noWindowOpen())
        return;
    // A process without a window would be invisible, so the last window to close ends the run
    // through the quit flow, once the closing has finished and if no window opened meanwhile.
    QTimer::singleShot(0, this, [this] {
        if (!quitFlowRunning && noWindowOpen())
            terminate();
    });
}
