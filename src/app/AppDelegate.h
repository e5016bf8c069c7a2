#pragma once

#include "PlanExchange.h"

#include <QObject>
#include <QString>
#include <QStringList>

class QAction;
class QMenu;

// The application's own commands: new projects, opening files, the preferences window, the update
// check after launch, and the quit flow that offers to save every changed project. Keeps only the
// files waiting to be opened:
// the projects live with their controllers, the preferences window in its slot. main() creates the
// one instance; the windows' menus reach it through instance().
class AppDelegate : public QObject {
    Q_OBJECT

public:
    enum TerminateReply { TerminateCancel, TerminateNow };

    explicit AppDelegate(QObject *parent = nullptr);
    ~AppDelegate() override;

    // The instance main() made, or none (tests of a single window).
    [[nodiscard]] static AppDelegate *instance();

    // A file handed over by the desktop or the command line.
    bool applicationOpenFile(const QString &path);
    // At a start: offers the unsaved work of runs that ended without closing their windows, to
    // restore, discard or leave for later. Returns how many projects it restored.
    int offerRecoveredWork();
    // Launch is done: the update check runs if the preference says so.
    void applicationDidFinishLaunching();
    // Offers to save each changed project, in the order the windows were opened, and closes their
    // windows. Cancel stops it there; windows closed so far stay closed.
    [[nodiscard]] TerminateReply applicationShouldTerminate();
    // Preferences is enabled only while no preferences window is open; everything else always.
    [[nodiscard]] bool validateUserInterfaceItem(const QAction *action) const;

    // Reads the file and opens its window. A file that cannot be read or decoded is reported and
    // opens nothing; dependencies dropped while loading are reported before the window opens.
    // A file open already opens again as an independent project.
    // Plans of other planners (.xml, .planner, .csv) are imported instead: see importProject.
    static bool openProject(const QString &path);
    // Imports another planner's plan as a new, unsaved project named after the plan, after one
    // alert that says what was kept and what was changed or left out.
    static bool importProject(const QString &path, PlanExchange::Format format);
    // Opens the files one after another, the windows answering in between; files asked for
    // while some are still waiting join the end of the line.
    void openFilesInTurn(const QStringList &paths);

    // The Open Recent submenu of a window, filled afresh each time it is shown.
    void fillRecentMenu(QMenu *menu);
    void openRecentDocument(const QString &path);

    // Called by the controllers when a window opens or closes: the Preferences command may change,
    // and the last window to close ends the run.
    void windowsChanged();

public Q_SLOTS:
    void newDocument();
    void openDocument();
    // File > Import...: the open panel for plans of other planners.
    void importDocument();
    void openPreferences();
    // The Quit command: the quit flow, then the end of the run unless the user cancelled.
    void terminate();

Q_SIGNALS:
    // The quit flow has closed every window: the run may end.
    void terminating();
    // Something validateUserInterfaceItem reads has changed.
    void validationChanged();

private:
    void openNextPending();

    QStringList m_pendingOpens;
    bool m_openingInTurn = false;
};
