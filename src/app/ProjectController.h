#pragma once

#include "Autosave.h"
#include "ChartExport.h"
#include "FileAccess.h"
#include "ProjectLoader.h"
#include "UndoStackAdapter.h"

#include <QMainWindow>
#include <QObject>
#include <QPointer>
#include <chrono>
#include <memory>
#include <optional>

class AppDelegate;
class Project;
class ProjectView;
class QAction;
class QMenu;
class QPrinter;
class QUndoStack;

// One open project: owns the project, its window and the window's view, keeps the window title
// equal to the project's name, and carries out the window's commands. A controller lives in the
// table of open controllers from its construction until its window closes.
class ProjectController : public QObject {
    Q_OBJECT

public:
    // Creates the controller for a project and enters it into the table, which owns it. stamp is
    // that of the version of url the project was read from; without one, url's stamp now. The
    // window's application commands go to application, when there is one (not in tests of a
    // single window); it outlives the controller or is noticed gone.
    static ProjectController *open(std::unique_ptr<Project> project, std::optional<QString> url = std::nullopt,
        std::optional<FileStamp> stamp = std::nullopt, AppDelegate *application = nullptr);
    // The controllers whose windows are open, in the order they were opened.
    [[nodiscard]] static QList<ProjectController *> openControllers();
    [[nodiscard]] static ProjectController *controllerFor(const Project *project);
    // Destroys every controller and its window without a question: the end of the run, before the
    // application goes, since a window outliving it cannot be destroyed.
    static void discardAll();

    ~ProjectController() override;

    void showWindow();

    [[nodiscard]] Project *project() const { return m_project.get(); }
    [[nodiscard]] QMainWindow *projectWindow() const;
    [[nodiscard]] ProjectView *projectView() const;
    [[nodiscard]] QUndoStack *undoStack() const;
    [[nodiscard]] const std::optional<QString> &url() const { return m_url; }
    // The url came from a recovery copy, which anyone who could write there might have chosen:
    // the first save goes there only when it still holds a project, or names a new file in an
    // existing folder, and otherwise asks with the save panel.
    void setUrlNeedsConfirming() { m_urlNeedsConfirming = true; }
    // The recovery copy of the project's unsaved work.
    [[nodiscard]] Autosave *autosave() const { return m_autosave.get(); }

    // Reads and decodes a project file off the UI thread, with a progress window (over window,
    // when given) should it take long; a failure is reported, and it and a cancelled read give
    // none. stamp receives that of the version read.
    [[nodiscard]] static std::unique_ptr<Project> readFrom(
        const QString &path, FileStamp *stamp = nullptr, QWidget *window = nullptr);
    // The same for another planner's plan, imported: with what it kept and changed.
    [[nodiscard]] static std::optional<ProjectLoader::Loaded> importFrom(
        const QString &path, PlanExchange::Format format);

    // Each returns whether the project was written.
    bool save();
    bool saveAs();
    void revert();
    // Paints the chart's pages onto a printer set up by the caller; returns the number of pages.
    // The progress is told of each page; printing cannot be stopped by it.
    int printTo(QPrinter &printer, const ChartExport::Progress &progress = {}) const;
    // How long exporting or printing many pages runs before its progress window shows.
    void setProgressDelay(std::chrono::milliseconds delay) { m_progressDelay = delay; }

    // Whether a command may run now; commands this controller does not know are enabled.
    [[nodiscard]] bool validateUserInterfaceItem(const QAction *action) const;

    enum Command {
        New,
        Open,
        Import,
        Preferences,
        NewTask,
        DuplicateTask,
        MoveRight,
        AddPredecessor,
        AddSuccessor,
        Save,
        SaveAs,
        Revert,
        Export,
        Print,
        PrintPreview,
        Close,
        Quit,
        Undo,
        Redo,
        Delete,
        ZoomIn,
        ZoomOut,
        FitWholeProject,
        ShowDependencies,
        HighlightCriticalPath,
        Find,
        About
    };
    [[nodiscard]] QAction *action(Command command) const;

    // Closing: whether the window may close (asking to save a dirty project), and the clean-up
    // after it has closed.
    bool windowShouldClose();
    // "Do you want to save your changes?" with Yes, No and Cancel, on this window.
    [[nodiscard]] int askToSaveChanges() const;
    void windowWillClose();
    // Closes the window without the question about unsaved changes: the quit flow has asked it.
    void closeWindowWithoutAsking();
    [[nodiscard]] bool closingWithoutAsking() const { return m_closingWithoutAsking; }

public Q_SLOTS:
    void newTask();
    void duplicateTask();
    void moveRight();
    // Open a window-modal dialog that makes a task, picked by name, a predecessor or a successor
    // of the selected one.
    void addPredecessor();
    void addSuccessor();
    void saveDocument();
    void saveDocumentAs();
    void revertToSavedState();
    // File > Export...: the chart as PDF, SVG or PNG, or the tasks as CSV, by the chosen extension.
    void exportDocument();
    // File > Print... through the system's dialog, and File > Print Preview... in a window-modal
    // preview; both paged as the PDF export is.
    void printDocument();
    void printPreview();

private:
    ProjectController(std::unique_ptr<Project> project, std::optional<QString> url, std::optional<FileStamp> stamp,
        AppDelegate *application);
    // Runs an application command, when there is an application.
    template<typename Command> auto toApplication(Command command)
    {
        return [this, command] {
            if (m_application)
                (m_application->*command)();
        };
    }
    void createActions();
    void createMenus();
    void updateActions();
    void openLinkDialog(bool isSucc);
    // notWritable: what to do when the file may not be changed; Save offers Save As there.
    enum class WhenNotWritable { Report, OfferSaveAs };
    bool writeTo(const QString &path, WhenNotWritable notWritable = WhenNotWritable::Report);
    // Whether the file may be saved over: asks when another program changed it since.
    [[nodiscard]] bool mayOverwrite(const QString &path) const;

    QPointer<AppDelegate> m_application;
    std::unique_ptr<Project> m_project;
    std::optional<QString> m_url;
    // The file as this window last read or wrote it, to notice another program's changes.
    std::optional<FileStamp> m_fileStamp;
    // Goes before the project it watches.
    std::unique_ptr<Autosave> m_autosave;
    std::unique_ptr<QMainWindow> m_window;
    QPointer<ProjectView> m_view;
    QPointer<QUndoStack> m_undoStack;
    std::unique_ptr<UndoStackAdapter> m_undoAdapter;
    QHash<Command, QAction *> m_actions;
    bool m_closingWithoutAsking = false;
    bool m_urlNeedsConfirming = false;
    bool m_saving = false;
    std::chrono::milliseconds m_progressDelay = std::chrono::milliseconds(500);
};
