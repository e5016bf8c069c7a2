#include "../update/UpdateTestSupport.h"
#include "../views/ViewTestSupport.h"
#include "AppTestSupport.h"

#include "AppDelegate.h"
#include "Bundle.h"
#include "ChartGeometry.h"
#include "GanttView.h"
#include "Preferences.h"
#include "PreferencesController.h"
#include "PreferencesView.h"
#include "Presenter.h"
#include "Project.h"
#include "ProjectAttributesView.h"
#include "ProjectController.h"
#include "ProjectFile.h"
#include "ProjectView.h"
#include "PropertiesView.h"
#include "RecentDocuments.h"
#include "TaskAttributesView.h"
#include "TaskListModel.h"
#include "TaskListView.h"
#include "TaskNamesModel.h"
#include "TaskNamesView.h"
#include "Updater.h"

#include <QAction>
#include <QCheckBox>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUndoStack>

using namespace AppTest;
using corvane::FirstButton;
using corvane::SecondButton;
using corvane::ThirdButton;
using ViewTest::typeInto;

namespace {

const QString checkVersionKey = QStringLiteral("check version");
const QString saveQuestion = QStringLiteral("Do you want to save your changes?");

// A command of the menu bar, found by its menu's title and its own text as a person reads them;
// Undo and Redo carry the name of their step after their own. Opening the menu first brings its
// enabling up to date, as the menu's opening does.
QAction *menuCommand(QMainWindow *window, const QString &menuTitle, const QString &text)
{
    for (QAction *top : window->menuBar()->actions()) {
        QMenu *menu = top->menu();
        if (!menu || top->text().remove(u'&') != menuTitle)
            continue;
        Q_EMIT menu->aboutToShow();
        for (QAction *entry : menu->actions()) {
            if (entry->text() == text || entry->text().startsWith(text + u' '))
                return entry;
        }
    }
    return nullptr;
}

// Chooses a command from the menu bar; false when the menu has no such command or it is disabled.
bool choose(QMainWindow *window, const QString &menuTitle, const QString &text)
{
    QAction *action = menuCommand(window, menuTitle, text);
    if (!action || !action->isEnabled())
        return false;
    action->trigger();
    return true;
}

QWidget *panelOf(const ProjectController *controller)
{
    return controller->projectView()->propertiesView()->panel();
}

TaskAttributesView *taskPanelOf(const ProjectController *controller)
{
    return qobject_cast<TaskAttributesView *>(panelOf(controller));
}

// Every task with its times and group, in list order, exact to the last bit.
QStringList describe(const Project &project)
{
    QStringList lines;
    for (const TaskPtr &task : project.tasks())
        lines.append(QStringLiteral("%1 at %2 for %3 in %4")
                         .arg(task->name())
                         .arg(task->start(), 0, 'g', 17)
                         .arg(task->duration(), 0, 'g', 17)
                         .arg(task->exclusionGroup().value_or(QStringLiteral("no group"))));
    return lines;
}

QStringList dependencyNames(const Project &project)
{
    QStringList names;
    for (const Edge &edge : project.edges())
        names.append(edge.predecessor->name() + QLatin1String(" -> ") + edge.successor->name());
    names.sort();
    return names;
}

TaskPtr taskNamed(const Project &project, const QString &name)
{
    for (const TaskPtr &task : project.tasks())
        if (task->name() == name)
            return task;
    return {};
}

// Mouse moves that carry the held button, which QTest::mouseMove cannot send.
void dragInChart(GanttView *chart, QPoint from, QPoint to, Qt::KeyboardModifiers keys)
{
    QWidget *viewport = chart->viewport();
    QTest::mousePress(viewport, Qt::LeftButton, keys, from);
    for (const QPoint &at : { (from + to) / 2, to }) {
        QMouseEvent move(
            QEvent::MouseMove, QPointF(at), viewport->mapToGlobal(QPointF(at)), Qt::NoButton, Qt::LeftButton, keys);
        QCoreApplication::sendEvent(viewport, &move);
    }
    QTest::mouseRelease(viewport, Qt::LeftButton, keys, to);
}

// Saved, so it opens clean. Written out here, since moc misreads raw strings in a class body.
QByteArray oneTaskProject(const QString &name)
{
    return R"({"tasks":[{"duration":600.0,"start":0.0,"id":1,"name":"only"}],"dependencies":[],"name":")"
        + name.toUtf8() + R"("})";
}

} // namespace

class TestApplication : public QObject {
    Q_OBJECT

private:
    corvane::RecordingPresenter m_presenter;
    std::optional<corvane::ScopedPresenter> m_scoped;
    std::optional<UpdateTest::Server> m_server;
    std::optional<AppDelegate> m_delegate;
    QTemporaryDir m_dir;

    [[nodiscard]] QString path(const QString &name) const { return m_dir.filePath(name); }

    [[nodiscard]] qsizetype checksMade() const
    {
        qsizetype count = 0;
        for (const QByteArray &request : m_server->requests())
            count += request.startsWith("GET /Quillfern/index.html ") ? 1 : 0;
        return count;
    }

    // The window main() opens when it is started without files.
    ProjectController *launch()
    {
        m_delegate->newDocument();
        ProjectController *controller = ProjectController::openControllers().constLast();
        activate(controller);
        return controller;
    }

    // Shortcuts reach only the active window; a person clicks into a window first.
    static void activate(ProjectController *controller)
    {
        QMainWindow *window = controller->projectWindow();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        // Room for the panel's lists and a chart wide enough to aim in.
        if (window->width() < 900 || window->height() < 480)
            window->resize(900, 480);
        deliverPostedWork();
    }

    // Ctrl+T in the window, then the new task's name typed into the panel's title field and, if
    // given, its exclusion group into the group field.
    static void addTask(ProjectController *controller, const QString &name, const QString &group = QString())
    {
        QWidget *window = controller->projectWindow();
        QCOMPARE(QApplication::activeWindow(), window);
        const qsizetype before = controller->project()->tasks().size();
        QTest::keyClick(window, Qt::Key_T, Qt::ControlModifier);
        QCOMPARE(controller->project()->tasks().size(), before + 1);
        QTRY_VERIFY(taskPanelOf(controller) && taskPanelOf(controller)->isVisible());
        TaskAttributesView *panel = taskPanelOf(controller);
        QCOMPARE(panel->task(), controller->project()->tasks().constLast());
        typeInto(panel->titleField(), name);
        if (!group.isEmpty())
            typeInto(panel->groupField(), group);
        QCOMPARE(panel->task()->name(), name);
    }

    static void clickName(ProjectController *controller, int row)
    {
        TaskNamesView *names = controller->projectView()->taskNamesView();
        QTest::mouseClick(
            names->viewport(), Qt::LeftButton, {}, names->visualRect(names->namesModel()->index(row)).center());
        const TaskPtr task = controller->project()->tasks().at(row);
        QCOMPARE(controller->projectView()->selectedTaskIdHolder()->ref(), std::optional(task->id()));
        QTRY_VERIFY(taskPanelOf(controller) && taskPanelOf(controller)->isVisible());
        QCOMPARE(taskPanelOf(controller)->task(), task);
    }

    // The name of the task in that row of the names list, dragged out as the list drags it and
    // dropped onto the selected task's successors or predecessors list. The list makes the
    // dependency only after the drop has returned, so that its alert is not shown inside the drag.
    static bool dropName(ProjectController *controller, int row, bool onSuccessors)
    {
        TaskNamesModel *names = controller->projectView()->taskNamesView()->namesModel();
        const std::unique_ptr<QMimeData> data(names->mimeData({ names->index(row) }));
        const TaskAttributesView *panel = taskPanelOf(controller);
        if (!data || !panel)
            return false;
        TaskListView *list = onSuccessors ? panel->successorsView() : panel->predecessorsView();
        QWidget *window = controller->projectWindow();
        const bool taken = ViewTest::dropAt(
            window, list->mapTo(window, list->rect().center()), data.get(), names->supportedDragActions());
        deliverPostedWork();
        return taken;
    }

    // Prep, Build and Test, five minutes each one after another, Prep and Build sharing the
    // exclusion group W, and Test depending on Build: all made in the window by keyboard and drop.
    static void makePlan(ProjectController *controller)
    {
        addTask(controller, QStringLiteral("Prep"), QStringLiteral("W"));
        if (QTest::currentTestFailed())
            return;
        addTask(controller, QStringLiteral("Build"), QStringLiteral("W"));
        if (QTest::currentTestFailed())
            return;
        addTask(controller, QStringLiteral("Test"));
        if (QTest::currentTestFailed())
            return;
        // New tasks line up at the end of the project.
        QCOMPARE(describe(*controller->project()),
            QStringList({ QStringLiteral("Prep at 0 for 300 in W"), QStringLiteral("Build at 300 for 300 in W"),
                QStringLiteral("Test at 600 for 300 in no group") }));

        clickName(controller, 1);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(dropName(controller, 2, true));
        QCOMPARE(dependencyNames(*controller->project()), QStringList { QStringLiteral("Build -> Test") });
        const TaskListModel *successors = taskPanelOf(controller)->successorsView()->listModel();
        QCOMPARE(successors->rowCount(), 1);
        QCOMPARE(successors->index(0).data().toString(), QStringLiteral("Test"));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("QuillfernTest"));
        QCoreApplication::setApplicationName(QStringLiteral("QuillfernApplicationTest"));
        QApplication::setQuitOnLastWindowClosed(false);
        QSettings().clear();
        QVERIFY(m_dir.isValid());
        m_server.emplace();
        // The release this build is: a check finds nothing newer and asks nothing.
        m_server->set(QStringLiteral("/Quillfern/index.html"),
            { 200, "<h2>New in Version " + corvane::shortVersionString().value_or(QString()).toUtf8() + "</h2>" });
        qputenv("QUILLFERN_UPDATE_SITE", m_server->baseUrl().toUtf8());
        QVERIFY(corvane::hasUpdateSite());
        m_scoped.emplace(m_presenter);
        m_delegate.emplace();
    }

    void cleanupTestCase()
    {
        waitForChecksToEnd();
        m_delegate.reset();
        m_scoped.reset();
        QSettings().clear();
    }

    void init()
    {
        m_presenter.clear();
        RecentDocuments::clear();
        QSettings().remove(checkVersionKey);
        Preferences::shared().reload();
    }

    void cleanup()
    {
        closeEveryWindow();
        QVERIFY(ProjectController::openControllers().isEmpty());
        QVERIFY(!PreferencesController::currentPreferencesController());
        QCOMPARE(m_presenter.unusedScript(), std::size_t(0));
        waitForChecksToEnd();
    }

    // A plan made from nothing, moved in the chart, undone and redone, saved, closed, and
    // opened again from the other window's Open Recent menu just as it was saved.
    void planSaveAndReopen()
    {
        QSignalSpy terminating(&*m_delegate, &AppDelegate::terminating);
        ProjectController *first = launch();
        if (QTest::currentTestFailed())
            return;
        QVERIFY(choose(first->projectWindow(), QStringLiteral("File"), QStringLiteral("New")));
        QCOMPARE(ProjectController::openControllers().size(), 2);
        ProjectController *plan = ProjectController::openControllers().constLast();
        QMainWindow *window = plan->projectWindow();
        QVERIFY(window != first->projectWindow());
        QCOMPARE(shownTitle(window), QStringLiteral("*"));
        activate(plan);
        if (QTest::currentTestFailed())
            return;

        auto *projectPanel = qobject_cast<ProjectAttributesView *>(panelOf(plan));
        QVERIFY(projectPanel);
        typeInto(projectPanel->titleField(), QStringLiteral("Launch"));
        QCOMPARE(shownTitle(window), QStringLiteral("Launch*"));

        makePlan(plan);
        if (QTest::currentTestFailed())
            return;
        Project &project = *plan->project();
        const TaskPtr prep = taskNamed(project, QStringLiteral("Prep"));
        const TaskPtr build = taskNamed(project, QStringLiteral("Build"));
        const TaskPtr test = taskNamed(project, QStringLiteral("Test"));

        // Shift lets Prep pass into Build, its group's next task: Build makes way, and Test,
        // which depends on Build, is pushed along.
        const QStringList beforeDrag = describe(project);
        GanttView *chart = plan->projectView()->ganttView();
        const ChartGeometry geometry = chart->chartGeometry();
        const int dx = qRound(150.0 * geometry.totalWidth() / geometry.projectDuration());
        const QPoint from = chart->boxRect(0).center().toPoint();
        dragInChart(chart, from, from + QPoint(dx, 0), Qt::ShiftModifier);
        QCOMPARE(prep->start(), geometry.timeDelta(dx));
        QVERIFY2(prep->end() > 300.0, "Prep was meant to overlap Build");
        QCOMPARE(build->start(), prep->end());
        QCOMPARE(test->start(), build->end());
        QCOMPARE(test->duration(), 300.0);
        const double movedPrep = prep->start();
        const double movedBuild = build->start();
        const double movedTest = test->start();

        QAction *undo = menuCommand(window, QStringLiteral("Edit"), QStringLiteral("Undo"));
        QVERIFY(undo);
        QCOMPARE(undo->text(), QStringLiteral("Undo Move Task"));
        QVERIFY(choose(window, QStringLiteral("Edit"), QStringLiteral("Undo")));
        QCOMPARE(describe(project), beforeDrag);
        QCOMPARE(dependencyNames(project), QStringList { QStringLiteral("Build -> Test") });
        QVERIFY(choose(window, QStringLiteral("Edit"), QStringLiteral("Redo")));
        // Bit for bit in undoAndRedoRestoreExactTimes; here the plan goes on to be saved.
        QCOMPARE(prep->start(), movedPrep);
        QCOMPARE(build->start(), movedBuild);
        QCOMPARE(test->start(), movedTest);
        const QStringList saving = describe(project);

        const QString file = path(QStringLiteral("Launch.quillfern"));
        m_presenter.scriptSavePanelResult(file);
        QTest::keyClick(window, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(m_presenter.savePanels().size(), 1);
        QCOMPARE(m_presenter.savePanels().at(0).suggestedName, QStringLiteral("Launch.quillfern"));
        QCOMPARE(plan->url(), std::optional(file));
        QVERIFY(!project.isDirty());
        QVERIFY(!menuCommand(window, QStringLiteral("File"), QStringLiteral("Save"))->isEnabled());
        const std::unique_ptr<Project> written = readProject(readFile(file));
        QCOMPARE(written->name(), QStringLiteral("Launch"));
        QCOMPARE(describe(*written), saving);
        const QStringList writtenDependencies = dependencyNames(*written);

        QTest::keyClick(window, Qt::Key_W, Qt::ControlModifier);
        deliverPostedWork();
        QVERIFY2(m_presenter.alerts().isEmpty(), "a saved project closes without a question");
        QCOMPARE(ProjectController::openControllers(), QList<ProjectController *> { first });

        QAction *recentEntry
            = menuCommand(first->projectWindow(), QStringLiteral("File"), QStringLiteral("Open Recent"));
        QVERIFY(recentEntry && recentEntry->menu());
        QMenu *recent = recentEntry->menu();
        Q_EMIT recent->aboutToShow();
        QAction *launchEntry = nullptr;
        for (QAction *entry : recent->actions())
            if (entry->text() == QStringLiteral("Launch.quillfern"))
                launchEntry = entry;
        QVERIFY(launchEntry);
        launchEntry->trigger();
        deliverPostedWork();

        QCOMPARE(ProjectController::openControllers().size(), 2);
        const ProjectController *reopened = ProjectController::openControllers().constLast();
        QCOMPARE(reopened->url(), std::optional(file));
        QCOMPARE(shownTitle(reopened->projectWindow()), QStringLiteral("Launch"));
        QVERIFY(!reopened->project()->isDirty());
        QCOMPARE(describe(*reopened->project()), saving);
        QCOMPARE(terminating.size(), 0);

        // Last, so that a lost dependency still lets everything above be seen working.
        const QStringList dependency { QStringLiteral("Build -> Test") };
        QVERIFY2(writtenDependencies == dependency,
            qPrintable(QStringLiteral("the saved file should hold Build -> Test; it holds [%1], the times being %2")
                           .arg(writtenDependencies.join(QStringLiteral(", ")), saving.join(QStringLiteral("; ")))));
        QCOMPARE(dependencyNames(*reopened->project()), dependency);
        const QString reported = m_presenter.alerts().isEmpty()
            ? QString()
            : m_presenter.alerts().constFirst().message + u' ' + m_presenter.alerts().constFirst().informativeText;
        QVERIFY2(reported.isEmpty(), qPrintable(QStringLiteral("reopening reported: ") + reported));
    }

    // Undo and Redo put every time back bit for bit, whatever fractions the chart's scale gave
    // the moves: two drags, then back and forth through the Edit menu.
    void undoAndRedoRestoreExactTimes_data()
    {
        QTest::addColumn<int>("prepPoints");
        QTest::addColumn<int>("testPoints");
        QTest::newRow("short drags") << 37 << 11;
        QTest::newRow("half a box") << 80 << 45;
        QTest::newRow("long drags") << 123 << 97;
    }
    void undoAndRedoRestoreExactTimes()
    {
        QFETCH(int, prepPoints);
        QFETCH(int, testPoints);
        ProjectController *controller = launch();
        if (QTest::currentTestFailed())
            return;
        makePlan(controller);
        if (QTest::currentTestFailed())
            return;
        QMainWindow *window = controller->projectWindow();
        const Project &project = *controller->project();
        GanttView *chart = controller->projectView()->ganttView();
        const auto drag = [chart](int row, int points, Qt::KeyboardModifiers keys) {
            const QPoint from = chart->boxRect(row).center().toPoint();
            dragInChart(chart, from, from + QPoint(points, 0), keys);
        };
        const auto exact = [&project](const char *step, const QStringList &expected) {
            const QStringList actual = describe(project);
            return actual == expected ? QByteArray()
                                      : QByteArray(step) + " left " + actual.join(QStringLiteral("; ")).toUtf8()
                    + " instead of " + expected.join(QStringLiteral("; ")).toUtf8();
        };
        const auto undo = [window] { return choose(window, QStringLiteral("Edit"), QStringLiteral("Undo")); };
        const auto redo = [window] { return choose(window, QStringLiteral("Edit"), QStringLiteral("Redo")); };

        const QStringList planned = describe(project);
        drag(0, prepPoints, Qt::ShiftModifier);
        const QStringList firstMove = describe(project);
        QVERIFY(firstMove != planned);
        drag(2, testPoints, Qt::NoModifier);
        const QStringList secondMove = describe(project);
        QVERIFY(secondMove != firstMove);

        QVERIFY(undo());
        QByteArray wrong = exact("Undo of the second move", firstMove);
        QVERIFY2(wrong.isEmpty(), wrong.constData());
        QVERIFY(redo());
        wrong = exact("Redo of the second move", secondMove);
        QVERIFY2(wrong.isEmpty(), wrong.constData());
        QVERIFY(undo() && undo());
        wrong = exact("Undo of both moves", planned);
        QVERIFY2(wrong.isEmpty(), wrong.constData());
        QVERIFY(redo());
        wrong = exact("Redo of the first move", firstMove);
        QVERIFY2(wrong.isEmpty(), wrong.constData());
        QVERIFY(redo());
        wrong = exact("Redo of the second move after the first", secondMove);
        QVERIFY2(wrong.isEmpty(), wrong.constData());
    }

    // A dependency the rules forbid, dropped onto a list, is refused in the window's alert and
    // leaves the plan and its history as they were.
    void refusedDependency_data()
    {
        QTest::addColumn<int>("selectedRow");
        QTest::addColumn<bool>("onSuccessors");
        QTest::addColumn<int>("droppedRow");
        QTest::addColumn<QString>("reason");
        // Rows: 0 Prep, 1 Build, 2 Test; Prep -> Build -> Test.
        QTest::newRow("on itself") << 1 << true << 1 << QStringLiteral("Task \"Build\" cannot depend on itself!");
        QTest::newRow("made already") << 2 << false << 1
                                      << QStringLiteral("Task \"Test\" already depends on task \"Build\"!");
        QTest::newRow("opposite, as a predecessor")
            << 1 << false << 2
            << QStringLiteral("Task \"Build\" and \"Test\" already have the opposite dependency, maybe implicitly!");
        QTest::newRow("opposite, as a successor")
            << 2 << true << 1
            << QStringLiteral("Task \"Build\" and \"Test\" already have the opposite dependency, maybe implicitly!");
        QTest::newRow("opposite through a chain")
            << 2 << true << 0
            << QStringLiteral("Task \"Prep\" and \"Test\" already have the opposite dependency, maybe implicitly!");
    }
    void refusedDependency()
    {
        QFETCH(int, selectedRow);
        QFETCH(bool, onSuccessors);
        QFETCH(int, droppedRow);
        QFETCH(QString, reason);
        ProjectController *controller = launch();
        if (QTest::currentTestFailed())
            return;
        makePlan(controller);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(dropName(controller, 0, false));
        const Project &project = *controller->project();
        const QStringList dependencies { QStringLiteral("Build -> Test"), QStringLiteral("Prep -> Build") };
        QCOMPARE(dependencyNames(project), dependencies);
        QVERIFY(m_presenter.alerts().isEmpty());
        const QStringList times = describe(project);
        const int steps = controller->undoStack()->count();

        clickName(controller, selectedRow);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(dropName(controller, droppedRow, onSuccessors));

        QCOMPARE(m_presenter.alerts().size(), 1);
        const corvane::Alert &alert = m_presenter.alerts().at(0);
        QCOMPARE(alert.message, QStringLiteral("Illegal Dependency"));
        QCOMPARE(alert.informativeText, reason);
        QCOMPARE(alert.style, corvane::AlertStyle::Warning);
        QCOMPARE(alert.parent, controller->projectWindow());
        QCOMPARE(dependencyNames(project), dependencies);
        QCOMPARE(describe(project), times);
        QCOMPARE(controller->undoStack()->count(), steps);
    }

    // Quit asks about each changed project in the order the windows opened; clean ones close
    // without a question. Cancel keeps the rest open with their changes and the run going.
    void quit_data()
    {
        QTest::addColumn<QList<bool>>("changed");
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<bool>("withPreferences");
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<bool>("ends");
        const QStringList second { QStringLiteral("second") };
        QTest::newRow("No, then Cancel") << QList<bool> { true, true } << QList<int> { SecondButton, ThirdButton }
                                         << false << second << false;
        QTest::newRow("No to both") << QList<bool> { true, true } << QList<int> { SecondButton, SecondButton } << false
                                    << QStringList() << true;
        QTest::newRow("clean, then Cancel")
            << QList<bool> { false, true } << QList<int> { ThirdButton } << false << second << false;
        QTest::newRow("only clean projects")
            << QList<bool> { false, false } << QList<int>() << false << QStringList() << true;
        QTest::newRow("only clean projects, preferences open")
            << QList<bool> { false, false } << QList<int>() << true << QStringList() << true;
    }
    void quit()
    {
        QFETCH(QList<bool>, changed);
        QFETCH(QList<int>, answers);
        QFETCH(bool, withPreferences);
        QFETCH(QStringList, left);
        QFETCH(bool, ends);

        const QStringList names { QStringLiteral("first"), QStringLiteral("second") };
        QStringList files;
        for (const QString &name : names) {
            files.append(path(name + QLatin1String(".quillfern")));
            writeFile(files.constLast(), oneTaskProject(name));
        }
        // The first as named on the command line, the second through File > Open.
        QVERIFY(m_delegate->applicationOpenFile(files.at(0)));
        ProjectController *first = ProjectController::openControllers().constLast();
        activate(first);
        m_presenter.scriptOpenPanelResult(files.at(1));
        QTest::keyClick(first->projectWindow(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(ProjectController::openControllers().size(), 1);
        QTRY_COMPARE(ProjectController::openControllers().size(), 2);
        QCOMPARE(m_presenter.openPanels().size(), 1);
        const QList<ProjectController *> windows = ProjectController::openControllers();
        for (qsizetype i = 0; i < windows.size(); ++i) {
            QVERIFY(!windows.at(i)->project()->isDirty());
            if (changed.at(i))
                QVERIFY(choose(windows.at(i)->projectWindow(), QStringLiteral("Task"), QStringLiteral("New Task")));
        }
        if (withPreferences) {
            QVERIFY(choose(windows.at(0)->projectWindow(), QStringLiteral("Edit"), QStringLiteral("Preferences...")));
            QVERIFY(PreferencesController::currentPreferencesController());
        }
        QList<QWidget *> askedAbout;
        for (qsizetype i = 0; i < windows.size() && askedAbout.size() < answers.size(); ++i)
            if (changed.at(i))
                askedAbout.append(windows.at(i)->projectWindow());
        for (int answer : answers)
            m_presenter.scriptAlertResponse(answer);
        QSignalSpy terminating(&*m_delegate, &AppDelegate::terminating);

        activate(windows.at(1));
        QTest::keyClick(windows.at(1)->projectWindow(), Qt::Key_Q, Qt::ControlModifier);
        deliverPostedWork();

        QCOMPARE(m_presenter.alerts().size(), answers.size());
        for (qsizetype i = 0; i < answers.size(); ++i) {
            QCOMPARE(m_presenter.alerts().at(i).message, saveQuestion);
            QCOMPARE(m_presenter.alerts().at(i).parent, askedAbout.at(i));
        }
        QVERIFY2(m_presenter.savePanels().isEmpty(), "nothing was to be saved");
        QStringList open;
        for (const ProjectController *controller : ProjectController::openControllers()) {
            open.append(controller->project()->name());
            QVERIFY(controller->projectWindow()->isVisible());
            QVERIFY(controller->project()->isDirty());
            QCOMPARE(controller->project()->tasks().size(), 2);
        }
        QCOMPARE(open, left);
        QCOMPARE(PreferencesController::currentPreferencesController() != nullptr, withPreferences && !ends);
        // Nothing unsaved reached a file.
        for (qsizetype i = 0; i < files.size(); ++i)
            QCOMPARE(readProject(readFile(files.at(i)))->tasks().size(), 1);
        QCOMPARE(terminating.size(), ends ? 1 : 0);
        // The run goes on, or ends exactly once.
        QTest::qWait(50);
        QCOMPARE(terminating.size(), ends ? 1 : 0);
    }

    // Yes saves before closing; a save that does not happen keeps the window with its changes
    // and stops the quit.
    void quitAnsweredYes_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("readOnlyFolder");
        QTest::addColumn<bool>("saved");
        QTest::newRow("save panel cancelled") << QString() << false << false;
        QTest::newRow("folder is read-only") << QStringLiteral("locked/Draft.quillfern") << true << false;
        QTest::newRow("parent is a regular file") << QStringLiteral("blocker/Draft.quillfern") << false << false;
        QTest::newRow("saved") << QStringLiteral("Draft.quillfern") << false << true;
    }
    void quitAnsweredYes()
    {
        QFETCH(QString, target);
        QFETCH(bool, readOnlyFolder);
        QFETCH(bool, saved);

        const QString file = target.isEmpty() ? QString() : path(target);
        writeFile(path(QStringLiteral("blocker")), "not a folder");
        const QString locked = path(QStringLiteral("locked"));
        QVERIFY(QDir().mkpath(locked));
        const auto unlock = qScopeGuard(
            [locked] { QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); });
        if (readOnlyFolder) {
            QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
            QFile probe(locked + QLatin1String("/probe"));
            if (probe.open(QIODevice::WriteOnly)) {
                probe.remove();
                QSKIP("this user may write into read-only folders");
            }
        }
        if (!file.isEmpty())
            QFile::remove(file);

        ProjectController *controller = launch();
        if (QTest::currentTestFailed())
            return;
        typeInto(qobject_cast<ProjectAttributesView *>(panelOf(controller))->titleField(), QStringLiteral("Draft"));
        addTask(controller, QStringLiteral("Write"));
        if (QTest::currentTestFailed())
            return;
        const QStringList plan = describe(*controller->project());
        m_presenter.scriptAlertResponse(FirstButton);
        m_presenter.scriptSavePanelResult(file.isEmpty() ? std::nullopt : std::optional(file));
        QSignalSpy terminating(&*m_delegate, &AppDelegate::terminating);

        QTest::keyClick(controller->projectWindow(), Qt::Key_Q, Qt::ControlModifier);
        deliverPostedWork();

        QCOMPARE(m_presenter.savePanels().size(), 1);
        QCOMPARE(m_presenter.savePanels().at(0).suggestedName, QStringLiteral("Draft.quillfern"));
        const bool writeFailed = !saved && !file.isEmpty();
        QTRY_COMPARE(m_presenter.alerts().size(), writeFailed ? 2 : 1);
        QCOMPARE(m_presenter.alerts().at(0).message, saveQuestion);
        if (writeFailed)
            QVERIFY2(m_presenter.alerts().at(1).informativeText.contains(file),
                qPrintable(
                    QStringLiteral("the error should name the file: ") + m_presenter.alerts().at(1).informativeText));
        QCOMPARE(terminating.size(), saved ? 1 : 0);
        QCOMPARE(QFile::exists(file), saved);
        if (saved) {
            QVERIFY(ProjectController::openControllers().isEmpty());
            const std::unique_ptr<Project> written = readProject(readFile(file));
            QCOMPARE(written->name(), QStringLiteral("Draft"));
            QCOMPARE(describe(*written), plan);
            QCOMPARE(RecentDocuments::list(), QStringList { file });
        } else {
            QCOMPARE(ProjectController::openControllers(), QList<ProjectController *> { controller });
            QVERIFY(controller->projectWindow()->isVisible());
            QVERIFY(controller->project()->isDirty());
            QCOMPARE(controller->url(), std::nullopt);
            QCOMPARE(describe(*controller->project()), plan);
            QTest::qWait(50);
            QCOMPARE(terminating.size(), 0);
        }
    }

    // The one switch: stored inverted, followed by the next launch, and switching it on checks at
    // once. While the window is open no project window offers to open another.
    void preferences()
    {
        ProjectController *first = launch();
        if (QTest::currentTestFailed())
            return;
        QVERIFY(choose(first->projectWindow(), QStringLiteral("File"), QStringLiteral("New")));
        ProjectController *second = ProjectController::openControllers().constLast();
        activate(second);
        const QList<ProjectController *> windows { first, second };
        const auto preferencesOffered = [&windows] {
            QList<bool> offered;
            for (ProjectController *controller : windows)
                offered.append(
                    menuCommand(controller->projectWindow(), QStringLiteral("Edit"), QStringLiteral("Preferences..."))
                        ->isEnabled());
            return offered;
        };

        // Launched with nothing stored: one check.
        const qsizetype atStart = checksMade();
        m_delegate->applicationDidFinishLaunching();
        QTRY_COMPARE_WITH_TIMEOUT(checksMade(), atStart + 1, 20000);
        waitForChecksToEnd();

        QCOMPARE(preferencesOffered(), QList<bool>({ true, true }));
        QVERIFY(choose(second->projectWindow(), QStringLiteral("Edit"), QStringLiteral("Preferences...")));
        PreferencesController *open = PreferencesController::currentPreferencesController();
        QVERIFY(open);
        QWidget *window = open->window();
        QCOMPARE(window->windowTitle(), QStringLiteral("Quillfern Preferences"));
        QVERIFY(QTest::qWaitForWindowActive(window));
        QCOMPARE(preferencesOffered(), QList<bool>({ false, false }));

        QCheckBox *box = open->view()->checkForUpdate();
        QCOMPARE(box->text(), QStringLiteral("Check for Update"));
        QVERIFY(box->isChecked());
        QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center());
        QVERIFY(!box->isChecked());
        QCOMPARE(QSettings().value(checkVersionKey), QVariant(true));
        QVERIFY(!corvane::Updater::isCheckRunning());

        QTest::keyClick(window, Qt::Key_Escape);
        deliverPostedWork();
        QVERIFY(!PreferencesController::currentPreferencesController());
        QCOMPARE(preferencesOffered(), QList<bool>({ true, true }));

        // The next run reads what was stored and does not check.
        const qsizetype beforeRestart = checksMade();
        Preferences::shared().reload();
        QTest::ignoreMessage(QtInfoMsg, "automatic update check is switched off");
        m_delegate->applicationDidFinishLaunching();
        QVERIFY(!corvane::Updater::isCheckRunning());
        QTest::qWait(200);
        QCOMPARE(checksMade(), beforeRestart);

        activate(first);
        QTest::keyClick(first->projectWindow(), Qt::Key_Comma, Qt::ControlModifier);
        open = PreferencesController::currentPreferencesController();
        QVERIFY(open);
        box = open->view()->checkForUpdate();
        QVERIFY2(!box->isChecked(), "the reopened window shows the stored choice");
        QVERIFY(QTest::qWaitForWindowActive(open->window()));
        QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center());
        QVERIFY(box->isChecked());
        QCOMPARE(QSettings().value(checkVersionKey), QVariant(false));
        QVERIFY(corvane::Updater::isCheckRunning());
        QTRY_COMPARE_WITH_TIMEOUT(checksMade(), beforeRestart + 1, 20000);
        waitForChecksToEnd();

        QTest::keyClick(open->window(), Qt::Key_W, Qt::ControlModifier);
        deliverPostedWork();
        QVERIFY(!PreferencesController::currentPreferencesController());
        QVERIFY(m_delegate->validateUserInterfaceItem(first->action(ProjectController::Preferences)));
        m_delegate->openPreferences();
        QVERIFY(PreferencesController::currentPreferencesController()->view()->checkForUpdate()->isChecked());
        QVERIFY(m_presenter.alerts().isEmpty());
    }
};

QTEST_MAIN(TestApplication)
#include "tst_application.moc"
