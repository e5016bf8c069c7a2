#include "ProjectController.h"

#include "Alerts.h"
#include "AppDelegate.h"
#include "ChartExport.h"
#include "Exception.h"
#include "FileAccess.h"
#include "GanttView.h"
#include "Ids.h"
#include "IntPublisher.h"
#include "LinkTaskDialog.h"
#include "PlanExchange.h"
#include "Project.h"
#include "ProjectFile.h"
#include "ProjectLoader.h"
#include "ProjectView.h"
#include "RecentDocuments.h"
#include "ShownText.h"
#include "SystemError.h"
#include "WindowFrame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QMenuBar>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QSaveFile>
#include <QScopeGuard>
#include <QUndoStack>
#include <vector>

namespace {

const QString geometryKey = QStringLiteral("Project Window");
const QString dividersKey = QStringLiteral("Project Window Dividers");
const QString showDependenciesKey = QStringLiteral("Project Window Show Dependencies");
const QString highlightCriticalKey = QStringLiteral("Project Window Highlight Critical Path");
constexpr QSize initialSize(480, 300);

// In the order the projects were opened, so that quitting asks about them in that order.
std::vector<std::unique_ptr<ProjectController>> &table()
{
    static std::vector<std::unique_ptr<ProjectController>> controllers;
    return controllers;
}

auto entryFor(const Project *project)
{
    return std::find_if(table().begin(), table().end(),
        [project](const std::unique_ptr<ProjectController> &controller) { return controller->project() == project; });
}

// Hands closing over to the controller, which may refuse.
class ProjectWindow final : public QMainWindow {
public:
    explicit ProjectWindow(ProjectController *controller)
        : m_controller(controller)
    { }

protected:
    void closeEvent(QCloseEvent *event) override
    {
        if (!m_controller->closingWithoutAsking() && !m_controller->windowShouldClose()) {
            event->ignore();
            return;
        }
        saveWindowFrame(this, geometryKey);
        if (const ProjectView *view = m_controller->projectView()) {
            saveDividers(view->splitter(), dividersKey);
            saveViewChoice(showDependenciesKey, view->ganttView()->showsDependencies());
        }
        event->accept();
        m_controller->windowWillClose();
    }

private:
    ProjectController *m_controller;
};

// The window system takes a title in one request, and a request of some megabytes ends the
// connection and with it the program.
QString windowTitle(const QString &projectName)
{
    return corvane::ShownText::cut(projectName, corvane::ShownText::titleLimit);
}

// The title with the mark of unsaved changes where the desktop shows it; "[*]" in the name itself
// is doubled, which Qt shows as it stands.
QString markedWindowTitle(const QString &projectName)
{
    return windowTitle(projectName).replace(QLatin1String("[*]"), QLatin1String("[*][*]")) + QLatin1String("[*]");
}

void showFileError(corvane::SystemError::FileOperation operation, const FileAccessError &error)
{
    corvane::SystemError shown = corvane::SystemError::fromFile(operation, error.path(), error.reason());
    if (!error.advice().isEmpty())
        shown.setRecoverySuggestion(error.advice());
    corvane::showSystemError(shown);
}

// A file name offered for an export: the title, short enough for any file system and without
// the one character no Linux file name may hold.
QString exportFileName(const QString &projectName, const QString &untitled)
{
    constexpr qsizetype longest = 80;
    QString name = corvane::ShownText::cut(projectName.trimmed(), longest);
    name.replace(u'/', u'-');
    return name.isEmpty() ? untitled : name;
}

void setUpPrinter(QPrinter &printer, const QString &projectName)
{
    printer.setPageLayout(QPageLayout(
        ChartExport::defaultPageSize(), QPageLayout::Landscape, QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter));
    printer.setDocName(windowTitle(projectName));
    printer.setCreator(QStringLiteral("Quillfern"));
}

// A window-modal progress window for work of many pages, with Cancel where the work can be called
// back, shown only once the work has taken longer than the delay. While it is up the window stays drawn and takes no
// edits.
class PageProgress {
public:
    enum class Cancel { Offered, NotOffered };
    PageProgress(QWidget *window, const QString &label, std::chrono::milliseconds delay, Cancel cancel)
        : m_dialog(label, QCoreApplication::translate("ProjectController", "Cancel"), 0, 0, window)
        , m_cancel(cancel)
    {
        if (cancel == Cancel::NotOffered)
            m_dialog.setCancelButton(nullptr);
        m_dialog.setWindowModality(Qt::WindowModal);
        m_dialog.setMinimumDuration(int(delay.count()));
        m_dialog.setAutoReset(false);
        m_dialog.setAutoClose(false);
    }
    ChartExport::Progress callback()
    {
        return [this](int done, int total) {
            m_dialog.setMaximum(total);
            // Being modal, this keeps the window drawn and delivers a press on Cancel.
            m_dialog.setValue(done);
            // Escape cancels even a dialog without the button.
            return m_cancel == Cancel::NotOffered || !m_dialog.wasCanceled();
        };
    }

private:
    QProgressDialog m_dialog;
    Cancel m_cancel;
};

} // namespace

ProjectController *ProjectController::open(std::unique_ptr<Project> project, std::optional<QString> url,
    std::optional<FileStamp> stamp, AppDelegate *application)
{
    const Project *key = project.get();
    std::unique_ptr<ProjectController> controller(
        new ProjectController(std::move(project), std::move(url), std::move(stamp), application));
    ProjectController *opened = controller.get();
    if (const auto found = entryFor(key); found != table().end())
        *found = std::move(controller);
    else
        table().push_back(std::move(controller));
    return opened;
}

QList<ProjectController *> ProjectController::openControllers()
{
    QList<ProjectController *> controllers;
    for (const std::unique_ptr<ProjectController> &controller : table())
        controllers.append(controller.get());
    return controllers;
}

void ProjectController::discardAll()
{
    // Out of the table first: a destructor that looks there finds nothing half-gone.
    std::vector<std::unique_ptr<ProjectController>> leaving;
    leaving.swap(table());
    leaving.clear();
}

ProjectController *ProjectController::controllerFor(const Project *project)
{
    const auto found = entryFor(project);
    return found == table().end() ? nullptr : found->get();
}

ProjectController::ProjectController(std::unique_ptr<Project> project, std::optional<QString> url,
    std::optional<FileStamp> stamp, AppDelegate *application)
    : m_application(application)
    , m_project(std::move(project))
    , m_url(std::move(url))
    , m_fileStamp(stamp ? stamp
              : m_url   ? stampOf(*m_url)
                        : std::nullopt)
{
    connect(m_project.get(), &Project::nameChanged, this, [this] {
        if (m_window)
            m_window->setWindowTitle(markedWindowTitle(m_project->name()));
    });
    connect(m_project.get(), &Project::dirtyChanged, this, [this](bool dirty) {
        if (m_window)
            m_window->setWindowModified(dirty);
        updateActions();
    });
    m_autosave = std::make_unique<Autosave>(m_project.get(), [this] { return m_url; });
}

ProjectController::~ProjectController()
{
    m_project->setUndoManager(nullptr);
    m_window.reset();
}

QMainWindow *ProjectController::projectWindow() const
{
    return m_window.get();
}

ProjectView *ProjectController::projectView() const
{
    return m_view;
}

QUndoStack *ProjectController::undoStack() const
{
    return m_undoStack;
}

void ProjectController::showWindow()
{
    if (m_window) {
        m_window->raise();
        m_window->activateWindow();
        return;
    }
    m_window = std::make_unique<ProjectWindow>(this);
    m_undoStack = new QUndoStack(m_window.get());
    m_view = new ProjectView(m_project.get(), m_window.get());
    m_window->setCentralWidget(m_view);
    m_window->setWindowTitle(markedWindowTitle(m_project->name()));
    m_window->setWindowModified(m_project->isDirty());

    restoreWindowFrame(m_window.get(), initialSize, geometryKey);
    QList<const QWidget *> others;
    for (const ProjectController *controller : openControllers()) {
        if (controller != this && controller->projectWindow())
            others.append(controller->projectWindow());
    }
    cascadeWindow(m_window.get(), others);
    restoreDividers(m_view->splitter(), dividersKey);
    m_view->ganttView()->setShowDependencies(restoreViewChoice(showDependenciesKey, true));
    m_view->setHighlightCritical(restoreViewChoice(highlightCriticalKey, false));

    createActions();
    createMenus();
    connect(m_undoStack, &QUndoStack::indexChanged, this, &ProjectController::updateActions);
    if (m_application)
        connect(m_application, &AppDelegate::validationChanged, this, &ProjectController::updateActions);
    connect(m_view->selectedTaskIdHolder(), &IntPublisher::refChanged, this, &ProjectController::updateActions);
    connect(m_view->ganttView(), &GanttView::zoomChanged, this, &ProjectController::updateActions);
    updateActions();

    m_undoAdapter = std::make_unique<UndoStackAdapter>(m_undoStack);
    m_project->setUndoManager(m_undoAdapter.get());
    m_autosave->watchWindow(m_window.get());
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void ProjectController::createActions()
{
    const auto add = [this](Command command, const QString &text, const QKeySequence &shortcut, auto slot) {
        auto *action = new QAction(text, m_window.get());
        action->setShortcut(shortcut);
        connect(action, &QAction::triggered, this, slot);
        m_actions.insert(command, action);
    };
    add(New, tr("New"), QKeySequence(QKeySequence::New), toApplication(&AppDelegate::newDocument));
    add(Open, tr("Open..."), QKeySequence(QKeySequence::Open), toApplication(&AppDelegate::openDocument));
    add(Import, tr("Import..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I),
        toApplication(&AppDelegate::importDocument));
    add(Preferences, tr("Preferences..."), QKeySequence(Qt::CTRL | Qt::Key_Comma),
        toApplication(&AppDelegate::openPreferences));
    m_actions[Preferences]->setObjectName(QStringLiteral("openPreferences"));
    add(NewTask, tr("New Task"), QKeySequence(Qt::CTRL | Qt::Key_T), &ProjectController::newTask);
    add(DuplicateTask, tr("Duplicate Task"), QKeySequence(Qt::CTRL | Qt::Key_D), &ProjectController::duplicateTask);
    add(MoveRight, tr("Move Right"), QKeySequence(Qt::CTRL | Qt::Key_Right), &ProjectController::moveRight);
    add(AddPredecessor, tr("Add Predecessor..."), QKeySequence(), &ProjectController::addPredecessor);
    add(AddSuccessor, tr("Add Successor..."), QKeySequence(), &ProjectController::addSuccessor);
    add(Save, tr("Save"), QKeySequence(Qt::CTRL | Qt::Key_S), &ProjectController::saveDocument);
    add(SaveAs, tr("Save As..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), &ProjectController::saveDocumentAs);
    add(Revert, tr("Revert to Saved"), QKeySequence(), &ProjectController::revertToSavedState);
    add(Export, tr("Export..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E), &ProjectController::exportDocument);
    add(Print, tr("Print..."), QKeySequence(QKeySequence::Print), &ProjectController::printDocument);
    add(PrintPreview, tr("Print Preview..."), QKeySequence(), &ProjectController::printPreview);
    add(Close, tr("Close"), QKeySequence(Qt::CTRL | Qt::Key_W), [this] { m_window->close(); });
    add(Quit, tr("Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q), toApplication(&AppDelegate::terminate));
    add(Delete, tr("Delete"), QKeySequence(Qt::Key_Delete), [this] { m_view->deleteCommand(); });
    m_actions[Delete]->setShortcutContext(Qt::WindowShortcut);
    GanttView *chart = m_view->ganttView();
    add(ZoomIn, tr("Zoom In"), QKeySequence(QKeySequence::ZoomIn), [chart] { chart->zoomIn(); });
    // Typing + takes Shift on many layouts, so the unshifted key it shares zooms in as well.
    QList<QKeySequence> zoomIn = QKeySequence::keyBindings(QKeySequence::ZoomIn);
    if (const QKeySequence unshifted(Qt::CTRL | Qt::Key_Equal); !zoomIn.contains(unshifted))
        zoomIn.append(unshifted);
    m_actions[ZoomIn]->setShortcuts(zoomIn);
    add(ZoomOut, tr("Zoom Out"), QKeySequence(QKeySequence::ZoomOut), [chart] { chart->zoomOut(); });
    add(FitWholeProject, tr("Fit Whole Project"), QKeySequence(Qt::CTRL | Qt::Key_0),
        [chart] { chart->fitWholeProject(); });
    add(ShowDependencies, tr("Show Dependencies"), QKeySequence(),
        [chart](bool show) { chart->setShowDependencies(show); });
    m_actions[ShowDependencies]->setCheckable(true);
    m_actions[ShowDependencies]->setChecked(chart->showsDependencies());
    connect(chart, &GanttView::showDependenciesChanged, m_actions[ShowDependencies], &QAction::setChecked);
    add(HighlightCriticalPath, tr("Highlight Critical Path"), QKeySequence(), [this](bool highlight) {
        m_view->setHighlightCritical(highlight);
        saveViewChoice(highlightCriticalKey, highlight);
    });
    m_actions[HighlightCriticalPath]->setCheckable(true);
    m_actions[HighlightCriticalPath]->setChecked(m_view->highlightsCritical());
    add(Find, tr("Find..."), QKeySequence(QKeySequence::Find), [this] { m_view->showFindBar(); });
    add(About, tr("About Quillfern"), QKeySequence(), [this] {
        corvane::Alert about;
        about.style = corvane::AlertStyle::Informational;
        about.message = tr("Quillfern %1").arg(QCoreApplication::applicationVersion());
        about.informativeText = tr("Plan a project as a Gantt chart.");
        about.parent = m_window.get();
        corvane::presenter().runAlert(about);
    });

    QAction *undo = m_undoStack->createUndoAction(m_window.get(), tr("Undo"));
    undo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    m_actions.insert(Undo, undo);
    QAction *redo = m_undoStack->createRedoAction(m_window.get(), tr("Redo"));
    redo->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    m_actions.insert(Redo, redo);
}

void ProjectController::createMenus()
{
    QMenuBar *bar = m_window->menuBar();
    QMenu *file = bar->addMenu(tr("&File"));
    file->addAction(m_actions[New]);
    file->addAction(m_actions[Open]);
    QMenu *recent = file->addMenu(tr("Open Recent"));
    const auto fillRecent = [this, recent] {
        if (m_application)
            m_application->fillRecentMenu(recent);
    };
    connect(recent, &QMenu::aboutToShow, this, fillRecent);
    fillRecent();
    file->addAction(m_actions[Import]);
    file->addSeparator();
    file->addAction(m_actions[Save]);
    file->addAction(m_actions[SaveAs]);
    file->addAction(m_actions[Revert]);
    file->addSeparator();
    file->addAction(m_actions[Export]);
    file->addAction(m_actions[PrintPreview]);
    file->addAction(m_actions[Print]);
    file->addSeparator();
    file->addAction(m_actions[Close]);
    file->addAction(m_actions[Quit]);
    QMenu *edit = bar->addMenu(tr("&Edit"));
    edit->addAction(m_actions[Undo]);
    edit->addAction(m_actions[Redo]);
    edit->addSeparator();
    edit->addAction(m_actions[Delete]);
    edit->addAction(m_actions[Find]);
    edit->addSeparator();
    edit->addAction(m_actions[Preferences]);
    QMenu *task = bar->addMenu(tr("&Task"));
    task->addAction(m_actions[NewTask]);
    task->addAction(m_actions[DuplicateTask]);
    task->addAction(m_actions[MoveRight]);
    task->addAction(m_actions[AddPredecessor]);
    task->addAction(m_actions[AddSuccessor]);
    QMenu *view = bar->addMenu(tr("&View"));
    view->addAction(m_actions[ZoomIn]);
    view->addAction(m_actions[ZoomOut]);
    view->addAction(m_actions[FitWholeProject]);
    view->addSeparator();
    view->addAction(m_actions[ShowDependencies]);
    view->addAction(m_actions[HighlightCriticalPath]);
    bar->addMenu(tr("&Help"))->addAction(m_actions[About]);
    for (QMenu *menu : { file, edit, task })
        connect(menu, &QMenu::aboutToShow, this, &ProjectController::updateActions);
}

QAction *ProjectController::action(Command command) const
{
    return m_actions.value(command);
}

bool ProjectController::validateUserInterfaceItem(const QAction *action) const
{
    const bool selected = m_view && m_view->selectedTaskIdHolder()->ref().has_value();
    if (action == m_actions.value(DuplicateTask) || action == m_actions.value(MoveRight)
        || action == m_actions.value(AddPredecessor) || action == m_actions.value(AddSuccessor))
        return selected;
    if (action == m_actions.value(Save))
        return m_project->isDirty();
    if (action == m_actions.value(Revert))
        return m_project->isDirty() && m_url.has_value();
    // At fit there is nothing further out to go.
    if (action == m_actions.value(ZoomOut))
        return m_view && m_view->ganttView()->zoom() > 1.0;
    if (m_application)
        return m_application->validateUserInterfaceItem(action);
    return true;
}

void ProjectController::updateActions()
{
    for (Command command :
        { DuplicateTask, MoveRight, AddPredecessor, AddSuccessor, Save, Revert, Preferences, ZoomOut }) {
        if (QAction *action = m_actions.value(command))
            action->setEnabled(validateUserInterfaceItem(action));
    }
}

void ProjectController::newTask()
{
    TaskPtr task;
    try {
        task = Task::createNew(m_project.get());
    } catch (const Ids::IdsExhausted &error) {
        corvane::showMessage(QString::fromUtf8(error.what()));
        return;
    }
    m_project->addTask(task);
    if (m_view)
        m_view->selectedTaskIdHolder()->setRef(task->id());
}

void ProjectController::duplicateTask()
{
    const std::optional<qint64> selected = m_view ? m_view->selectedTaskIdHolder()->ref() : std::nullopt;
    TaskPtr copy;
    try {
        copy = m_project->duplicate(selected);
    } catch (const Ids::IdsExhausted &error) {
        corvane::showMessage(QString::fromUtf8(error.what()));
        return;
    }
    if (copy && m_view)
        m_view->selectedTaskIdHolder()->setRef(copy->id());
}

void ProjectController::moveRight()
{
    const TaskPtr task = m_project->taskWithId(m_view ? m_view->selectedTaskIdHolder()->ref() : std::nullopt);
    if (!task)
        return;
    const std::optional<double> offset = m_project->maximumEndOffset(*task, LimitByExclusionGroup);
    const double target = offset ? m_project->start() + *offset : m_project->end();
    m_project->moveTask(task, target - task->end());
}

void ProjectController::addPredecessor()
{
    openLinkDialog(false);
}

void ProjectController::addSuccessor()
{
    openLinkDialog(true);
}

void ProjectController::openLinkDialog(bool isSucc)
{
    const TaskPtr task = m_project->taskWithId(m_view ? m_view->selectedTaskIdHolder()->ref() : std::nullopt);
    if (!task)
        return;
    auto *dialog = new LinkTaskDialog(m_project.get(), task, isSucc, m_window.get());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void ProjectController::saveDocument()
{
    save();
}

void ProjectController::saveDocumentAs()
{
    saveAs();
}

void ProjectController::revertToSavedState()
{
    revert();
}

bool ProjectController::writeTo(const QString &path, WhenNotWritable notWritable)
{
    try {
        // Taking the bytes of a large plan and writing and syncing them takes a while: it runs
        // off the UI thread, the window drawn but taking no edits and staying open meanwhile,
        // so that the plan holds still while it is read.
        FileStamp written;
        m_saving = true;
        const auto saved = qScopeGuard([this] { m_saving = false; });
        const Project &project = *m_project;
        ProjectLoader::runInBackground(m_window.get(),
            tr("Saving \u201c%1\u201d\u2026").arg(QFileInfo(path).fileName()),
            [&written, &path, &project] { written = replaceFile(path, writeProject(project)); });
        m_fileStamp = written;
    } catch (const ProjectFileError &error) {
        corvane::showSystemError(corvane::SystemError(error.message(),
            QStringLiteral("Correct the value, then save again."), { { QStringLiteral("File"), path } }));
        return false;
    } catch (const FileAccessError &error) {
        if (error.kind() == FileAccessError::Kind::NotWritable && notWritable == WhenNotWritable::OfferSaveAs) {
            corvane::Alert alert;
            alert.message = tr("\u201c%1\u201d is read-only.").arg(QFileInfo(path).fileName());
            alert.informativeText = tr("You do not have permission to change it. To keep your changes, save them "
                                       "under another name.\nFile: %1")
                                        .arg(path);
            alert.buttons = { tr("Save As..."), tr("Cancel") };
            alert.parent = m_window.get();
            return corvane::presenter().runAlert(alert) == corvane::FirstButton && saveAs();
        }
        showFileError(corvane::SystemError::FileOperation::Write, error);
        return false;
    }
    return true;
}

bool ProjectController::mayOverwrite(const QString &path) const
{
    // A file that has gone, or one never read, holds nothing of anyone's to lose.
    const std::optional<FileStamp> now = stampOf(path);
    if (!m_fileStamp || !now || *now == *m_fileStamp)
        return true;
    corvane::Alert question;
    question.message = tr("The file has been changed by another application.");
    question.informativeText = tr("Saving replaces its changes with yours. To take its version instead, choose "
                                  "Revert to Saved.");
    question.buttons = { tr("Save Anyway"), tr("Cancel") };
    question.parent = m_window.get();
    return corvane::presenter().runAlert(question) == corvane::FirstButton;
}

namespace {

// Whether a file a recovery copy names may be saved over: a regular file that holds a project, or
// no file yet in a folder that exists.
bool holdsAProjectOrIsNew(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isAbsolute())
        return false;
    if (!info.exists() && !info.isSymLink())
        return QFileInfo(info.path()).isDir();
    try {
        return info.isFile() && readProject(readWholeFile(path)) != nullptr;
    } catch (const std::runtime_error &) {
        return false;
    }
}

} // namespace

bool ProjectController::save()
{
    // Asked again while the save runs (by the quit flow, say): that one is still writing.
    if (m_saving)
        return false;
    if (m_url && m_urlNeedsConfirming && !holdsAProjectOrIsNew(*m_url))
        m_url.reset();
    m_urlNeedsConfirming = false;
    if (!m_url)
        return saveAs();
    if (!mayOverwrite(*m_url))
        return false;
    const QString path = *m_url;
    if (!writeTo(path, WhenNotWritable::OfferSaveAs))
        return false;
    // Save As, chosen in place of a read-only file, has done the rest.
    if (m_url != path)
        return true;
    m_project->setDirty(false);
    RecentDocuments::note(*m_url);
    return true;
}

bool ProjectController::saveAs()
{
    corvane::FilePanel panel;
    panel.title = tr("Save Project");
    panel.suggestedName
        = (m_project->name().isEmpty() ? tr("Untitled") : m_project->name()) + QLatin1String(".quillfern");
    panel.defaultSuffix = QStringLiteral("quillfern");
    panel.nameFilter = tr("Quillfern projects (*.quillfern)");
    panel.directory = RecentDocuments::panelFolder(m_url);
    panel.parent = m_window.get();
    const std::optional<QString> path = corvane::presenter().runSavePanel(panel);
    if (!path || path->isEmpty())
        return false;
    RecentDocuments::notePanelChoice(*path);
    if (!writeTo(*path))
        return false;
    m_project->setDirty(false);
    m_url = path;
    RecentDocuments::note(*path);
    updateActions();
    return true;
}

void ProjectController::revert()
{
    if (!m_url)
        return;
    corvane::Alert question;
    question.message = tr("Reversion Warning");
    question.informativeText = tr("Do you really want to revert the project to the last saved version?");
    question.buttons = { tr("Yes"), tr("No") };
    question.parent = m_window.get();
    if (corvane::presenter().runAlert(question) != corvane::FirstButton)
        return;
    FileStamp read;
    // The window may close while a long read runs; then there is nothing left to revert.
    const QPointer<ProjectController> self(this);
    const std::unique_ptr<Project> saved = readFrom(*m_url, &read, m_window.get());
    if (self && saved && m_project) {
        m_project->applySnapshot(saved->takeSnapshot());
        m_fileStamp = read;
    }
}

std::unique_ptr<Project> ProjectController::readFrom(const QString &path, FileStamp *stamp, QWidget *window)
{
    try {
        ProjectLoader::Options options;
        options.window = window;
        std::optional<ProjectLoader::Loaded> loaded = ProjectLoader::load(path, options);
        if (!loaded)
            return nullptr;
        if (stamp)
            *stamp = loaded->stamp;
        return std::move(loaded->project);
    } catch (const FileAccessError &error) {
        showFileError(corvane::SystemError::FileOperation::Read, error);
    } catch (const ProjectFileError &error) {
        corvane::showSystemError(corvane::SystemError(error.message(),
            tr("The file is not a Quillfern project, or it is damaged."), { { QStringLiteral("File"), path } }));
    }
    return nullptr;
}

std::optional<ProjectLoader::Loaded> ProjectController::importFrom(const QString &path, PlanExchange::Format format)
{
    try {
        ProjectLoader::Options options;
        options.import = format;
        return ProjectLoader::load(path, options);
    } catch (const FileAccessError &error) {
        showFileError(corvane::SystemError::FileOperation::Read, error);
    } catch (const ProjectFileError &error) {
        corvane::showSystemError(corvane::SystemError(error.message(),
            tr("The file is not a plan in %1 form, or it is damaged. Nothing was imported.")
                .arg(PlanExchange::formatName(format)),
            { { QStringLiteral("File"), path } }));
    }
    return std::nullopt;
}

bool ProjectController::windowShouldClose()
{
    if (m_saving)
        return false;
    if (!m_project->isDirty())
        return true;
    switch (askToSaveChanges()) {
    case corvane::FirstButton:
        // Only a project that really reached its file may close; a cancelled panel or a failed
        // write keeps the window and its changes.
        return save();
    case corvane::SecondButton:
        return true;
    default:
        return false;
    }
}

int ProjectController::askToSaveChanges() const
{
    corvane::Alert question;
    question.message = tr("Do you want to save your changes?");
    question.buttons = { tr("Yes"), tr("No"), tr("Cancel") };
    question.parent = m_window.get();
    return corvane::presenter().runAlert(question);
}

void ProjectController::windowWillClose()
{
    // Closing means the changes were saved or the user chose to drop them.
    m_autosave->removeCopy();
    m_project->setUndoManager(nullptr);
    m_view = nullptr;
    const auto found = entryFor(m_project.get());
    if (found != table().end() && found->get() == this) {
        // Deleted once the close event that called us has returned.
        found->release()->deleteLater();
        table().erase(found);
    }
    if (m_application)
        m_application->windowsChanged();
}

void ProjectController::closeWindowWithoutAsking()
{
    // The save running reads the plan: the window goes once it is done, if asked again.
    if (!m_window || m_saving)
        return;
    m_closingWithoutAsking = true;
    m_window->close();
    m_closingWithoutAsking = false;
}

void ProjectController::exportDocument()
{
    corvane::FilePanel panel;
    panel.title = tr("Export");
    panel.suggestedName = exportFileName(m_project->name(), tr("Untitled")) + QLatin1String(".pdf");
    panel.defaultSuffix = QStringLiteral("pdf");
    panel.nameFilter = tr("PDF document (*.pdf);;SVG drawing (*.svg);;PNG image (*.png);;CSV table (*.csv);;"
                          "MS Project XML (*.xml);;GNOME Planner (*.planner)");
    panel.directory = RecentDocuments::panelFolder(m_url);
    panel.parent = m_window.get();
    const std::optional<QString> path = corvane::presenter().runSavePanel(panel);
    if (!path || path->isEmpty())
        return;
    RecentDocuments::notePanelChoice(*path);
    const std::optional<ChartExport::Format> format = ChartExport::formatForPath(*path);
    if (!format) {
        corvane::showMessage(
            tr("Choose a file name ending in .pdf, .svg, .png, .csv, .xml or .planner."), corvane::AlertStyle::Warning);
        return;
    }
    ChartExport::Request request;
    request.format = *format;
    if (m_view) {
        const GanttView *chart = m_view->ganttView();
        request.totalWidth = chart->totalWidth();
        request.devicePixelRatio = chart->devicePixelRatioF();
        request.appearance.font = chart->font();
        request.appearance.dependencies = chart->showsDependencies();
        if (chart->zoom() > 1.0)
            request.appearance.zoomedWidth = chart->totalWidth();
    }
    // A plan of many thousand tasks takes seconds to page.
    PageProgress progress(m_window.get(), tr("Exporting \u201c%1\u201d\u2026").arg(QFileInfo(*path).fileName()),
        m_progressDelay, PageProgress::Cancel::Offered);
    request.progress = progress.callback();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        ChartExport::write(*path, *m_project, request);
        if (*format == ChartExport::Format::Mspdi || *format == ChartExport::Format::Planner) {
            const QStringList changes = PlanExchange::exportChanges(*m_project, PlanExchange::defaultOrigin());
            if (!changes.isEmpty()) {
                corvane::Alert alert;
                alert.style = corvane::AlertStyle::Informational;
                alert.message = tr("Exported \u201c%1\u201d.").arg(QFileInfo(*path).fileName());
                alert.informativeText = changes.join(u'\n');
                alert.parent = m_window.get();
                corvane::postAlert(alert);
            }
        }
    } catch (const ChartExport::Cancelled &) {
        // Asked for: nothing was written, and there is nothing to say.
    } catch (const corvane::SystemError &error) {
        corvane::showSystemError(error);
    } catch (const corvane::Exception &error) {
        corvane::showError(error);
    }
    QApplication::restoreOverrideCursor();
}

int ProjectController::printTo(QPrinter &printer, const ChartExport::Progress &progress) const
{
    QPainter painter;
    if (!painter.begin(&printer)) {
        corvane::showMessage(tr("The printer could not be started."));
        return 0;
    }
    ChartExport::Appearance appearance;
    if (m_view) {
        appearance.font = m_view->ganttView()->font();
        appearance.dependencies = m_view->ganttView()->showsDependencies();
        if (m_view->ganttView()->zoom() > 1.0)
            appearance.zoomedWidth = m_view->ganttView()->totalWidth();
    }
    return ChartExport::paintPages(painter, printer, *m_project, appearance, progress);
}

void ProjectController::printDocument()
{
    QPrinter printer(QPrinter::HighResolution);
    setUpPrinter(printer, m_project->name());
    QPrintDialog dialog(&printer, m_window.get());
    if (dialog.exec() != QDialog::Accepted)
        return;
    // Printers take what they were sent: a run cannot be called back halfway, so none is offered.
    PageProgress progress(m_window.get(), tr("Printing\u2026"), m_progressDelay, PageProgress::Cancel::NotOffered);
    printTo(printer, progress.callback());
}

void ProjectController::printPreview()
{
    auto *preview = new QPrintPreviewDialog(m_window.get());
    preview->setAttribute(Qt::WA_DeleteOnClose);
    setUpPrinter(*preview->printer(), m_project->name());
    // A long plan's pages take seconds to lay out; the preview cannot be shown half done.
    connect(preview, &QPrintPreviewDialog::paintRequested, this, [this, preview](QPrinter *printer) {
        // Over the window until the preview is up, as it is when it is first filled.
        QWidget *over = preview->isVisible() ? static_cast<QWidget *>(preview) : m_window.get();
        PageProgress progress(
            over, tr("Preparing the preview\u2026"), m_progressDelay, PageProgress::Cancel::NotOffered);
        printTo(*printer, progress.callback());
    });
    preview->open();
}
