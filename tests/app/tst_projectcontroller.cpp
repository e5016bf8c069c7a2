#include "../views/ViewTestSupport.h"
#include "AppDelegate.h"
#include "AppTestSupport.h"
#include "FileAccess.h"
#include "FindBar.h"
#include "GanttView.h"
#include "Ids.h"
#include "IntPublisher.h"
#include "LinkTaskDialog.h"
#include "Presenter.h"
#include "Project.h"
#include "ProjectController.h"
#include "ProjectFile.h"
#include "ProjectLoader.h"
#include "ProjectView.h"
#include "RecentDocuments.h"
#include "ShownText.h"
#include "TaskListView.h"
#include "TaskNamesView.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressDialog>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QSplitter>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUndoStack>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <stop_token>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace AppTest;
using corvane::FirstButton;
using corvane::SecondButton;
using corvane::ThirdButton;

namespace {

// Three tasks one after another: a (0–600), b (600–1200) and c (1200–1500), b depending on a;
// changed since it was last saved.
std::unique_ptr<Project> threeTasks()
{
    std::unique_ptr<Project> project = readProject(R"({"tasks":[{"duration":600.0,"start":0.0,"id":1,"name":"a"},)"
                                                   R"({"duration":600.0,"start":600.0,"id":2,"name":"b"},)"
                                                   R"({"duration":300.0,"start":1200.0,"id":3,"name":"c"}],)"
                                                   R"("dependencies":[{"a":1,"b":2}],"name":"Plan"})");
    project->setDirty(true);
    return project;
}

// Paint walls twice (ids 1 and 2, the second starting at 30 minutes), Sand floor (3) and
// Varnish (4) after it.
std::unique_ptr<Project> renovation()
{
    return readProject(R"({"tasks":[{"duration":600.0,"start":0.0,"id":1,"name":"Paint walls"},)"
                       R"({"duration":600.0,"start":1800.0,"id":2,"name":"Paint walls"},)"
                       R"({"duration":300.0,"start":0.0,"id":3,"name":"Sand floor"},)"
                       R"({"duration":300.0,"start":300.0,"id":4,"name":"Varnish"}],)"
                       R"("dependencies":[{"a":3,"b":4}],"name":"Renovation"})");
}

// A key as a person's keyboard delivers it: to the completion list while that is up.
void press(QWidget *focused, Qt::Key key)
{
    QWidget *popup = QApplication::activePopupWidget();
    QTest::keyClick(popup ? popup : focused, key);
}

const QString dividersKey = QStringLiteral("Project Window Dividers");
const QString showDependenciesKey = QStringLiteral("Project Window Show Dependencies");
// The write(2) of a save, noting the name of the file it writes. After the given number of bytes
// the disk is full: the rest goes to /dev/full, which answers as a full disk does.
QByteArray writtenName;
qsizetype bytesBeforeTheDiskIsFull = -1;

ssize_t fillingWrite(int descriptor, const void *data, size_t size)
{
    char name[4096];
    const ssize_t length = ::readlink(QByteArray("/proc/self/fd/" + QByteArray::number(descriptor)), name, sizeof name);
    writtenName = QByteArray(name, std::max<ssize_t>(length, 0));
    if (bytesBeforeTheDiskIsFull == 0) {
        const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
        const ssize_t written = ::write(full, data, size);
        const int error = errno;
        ::close(full);
        errno = error;
        return written;
    }
    if (bytesBeforeTheDiskIsFull > 0)
        size = std::min(size, static_cast<size_t>(bytesBeforeTheDiskIsFull));
    const ssize_t written = ::write(descriptor, data, size);
    if (written > 0 && bytesBeforeTheDiskIsFull > 0)
        bytesBeforeTheDiskIsFull -= written;
    return written;
}

// Every name in the folder, as bytes: QDir skips names that are not UTF-8.
QList<QByteArray> entriesOf(const QByteArray &folder)
{
    QList<QByteArray> names;
    if (DIR *directory = ::opendir(folder.constData())) {
        while (const dirent *entry = ::readdir(directory)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.append(QByteArray(entry->d_name));
        }
        ::closedir(directory);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Should opening a pipe block after all, a writer comes by after a while, so the test fails
// rather than hangs.
std::jthread pipeRescue(const QByteArray &pipe)
{
    return std::jthread([pipe](std::stop_token stop) {
        std::mutex mutex;
        std::unique_lock lock(mutex);
        std::condition_variable_any().wait_for(lock, stop, std::chrono::seconds(5), [] { return false; });
        if (stop.stop_requested())
            return;
        if (const int writer = ::open(pipe.constData(), O_WRONLY | O_NONBLOCK); writer >= 0)
            ::close(writer);
    });
}

// A project file whose dependencies all contradict the stored times: the tasks 2 to count + 1
// start while task 1 still runs, and each depends on it.
QByteArray contradictedDependencies(int count)
{
    QByteArray tasks = R"({"duration":20.0,"start":0.0,"id":1,"name":"A"})";
    QByteArray pairs;
    for (int i = 2; i <= count + 1; ++i) {
        tasks += R"(,{"duration":5.0,"start":10.0,"id":)" + QByteArray::number(i) + R"(,"name":"B)"
            + QByteArray::number(i) + "\"}";
        pairs += (i > 2 ? "," : "") + QByteArray(R"({"a":1,"b":)") + QByteArray::number(i) + '}';
    }
    return R"({"tasks":[)" + tasks + R"(],"dependencies":[)" + pairs + R"(],"name":"P"})";
}

} // namespace

class TestProjectController : public QObject {
    Q_OBJECT

private:
    corvane::RecordingPresenter m_presenter;
    std::optional<corvane::ScopedPresenter> m_scoped;
    QTemporaryDir m_dir;

    ProjectController *openWindow(std::unique_ptr<Project> project, std::optional<QString> url = std::nullopt,
        std::optional<FileStamp> stamp = std::nullopt)
    {
        ProjectController *controller = ProjectController::open(std::move(project), std::move(url), stamp);
        controller->showWindow();
        // Shortcuts reach only the active window.
        if (!QTest::qWaitForWindowActive(controller->projectWindow()))
            qWarning("the project window did not become active");
        return controller;
    }

    static void select(ProjectController *controller, qsizetype row)
    {
        controller->projectView()->selectedTaskIdHolder()->setRef(controller->project()->tasks().at(row)->id());
    }

    static bool enabled(ProjectController *controller, ProjectController::Command command)
    {
        return controller->action(command)->isEnabled();
    }

    [[nodiscard]] QString path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("QuillfernTest"));
        QCoreApplication::setApplicationName(QStringLiteral("QuillfernTest"));
        QVERIFY(m_dir.isValid());
        m_scoped.emplace(m_presenter);
    }

    void init()
    {
        Ids::resetForTesting(1, 1);
        m_presenter.clear();
        RecentDocuments::clear();
        QSettings().remove(dividersKey);
        QSettings().remove(showDependenciesKey);
    }

    void cleanup()
    {
        // Whatever a test left open closes without questions.
        for (ProjectController *controller : ProjectController::openControllers()) {
            controller->project()->setDirty(false);
            controller->projectWindow()->close();
        }
        deliverPostedWork();
        QVERIFY(ProjectController::openControllers().isEmpty());
        QCOMPARE(m_presenter.unusedScript(), std::size_t(0));
    }

    // The title is the project's name, marked while there are unsaved changes.
    void windowShowsTheProjectAndFollowsItsName()
    {
        QTemporaryDir folder;
        const QString file = folder.filePath(QStringLiteral("plan.quillfern"));
        writeFile(file, writeProject(*threeTasks()));
        QVERIFY(AppDelegate::openProject(file));
        ProjectController *controller = ProjectController::openControllers().constLast();
        QMainWindow *window = controller->projectWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QCOMPARE(window->size(), QSize(480, 300));
        QCOMPARE(shownTitle(window), QStringLiteral("Plan"));
        QVERIFY(!window->isWindowModified());
        QCOMPARE(ProjectController::controllerFor(controller->project()), controller);
        QTest::keyClick(window, Qt::Key_T, Qt::ControlModifier);
        QVERIFY(window->isWindowModified());
        QCOMPARE(shownTitle(window), QStringLiteral("Plan*"));
        controller->project()->setName(QStringLiteral("Renamed [*] plan"));
        QCOMPARE(shownTitle(window), QStringLiteral("Renamed [*] plan*"));
        QTest::keyClick(window, Qt::Key_S, Qt::ControlModifier);
        QVERIFY(!window->isWindowModified());
        QCOMPARE(shownTitle(window), QStringLiteral("Renamed [*] plan"));
    }

    // The window system ends the connection over a title of some megabytes; the title bar gets the
    // beginning of the name, and the project keeps it whole.
    void hugeProjectNameGivesAShortTitle()
    {
        const QString huge = QString(16 * 1024 * 1024, u'P') + QStringLiteral("!");
        std::unique_ptr<Project> project = threeTasks();
        project->setName(huge);
        ProjectController *controller = openWindow(std::move(project));
        QMainWindow *window = controller->projectWindow();
        // The name and the mark of unsaved changes.
        QVERIFY(shownTitle(window).size() <= corvane::ShownText::titleLimit + 1);
        QVERIFY(shownTitle(window).startsWith(QStringLiteral("PPPP")));
        QCOMPARE(controller->project()->name(), huge);
        controller->project()->setName(huge + huge);
        QVERIFY(shownTitle(window).size() <= corvane::ShownText::titleLimit + 1);
        controller->project()->setName(QStringLiteral("Short"));
        QCOMPARE(shownTitle(window), QStringLiteral("Short*"));
    }

    // A new project is dirty and has no file, so only saving is offered; a selection enables the
    // task commands, and a saved and then edited project can be reverted.
    void commandsAreEnabledByState()
    {
        ProjectController *controller = openWindow(threeTasks());
        using C = ProjectController;
        QVERIFY(enabled(controller, C::Save));
        QVERIFY(enabled(controller, C::SaveAs));
        QVERIFY(enabled(controller, C::NewTask));
        QVERIFY(!enabled(controller, C::Revert));
        QVERIFY(!enabled(controller, C::DuplicateTask));
        QVERIFY(!enabled(controller, C::MoveRight));
        QVERIFY(!enabled(controller, C::AddPredecessor));
        QVERIFY(!enabled(controller, C::AddSuccessor));

        select(controller, 1);
        QVERIFY(enabled(controller, C::DuplicateTask));
        QVERIFY(enabled(controller, C::MoveRight));
        QVERIFY(enabled(controller, C::AddPredecessor));
        QVERIFY(enabled(controller, C::AddSuccessor));

        m_presenter.scriptSavePanelResult(path("enabled.quillfern"));
        QVERIFY(controller->save());
        QVERIFY(!enabled(controller, C::Save));
        QVERIFY(!enabled(controller, C::Revert));
        controller->project()->changeDuration(controller->project()->tasks().at(2), 60.0);
        QVERIFY(enabled(controller, C::Save));
        QVERIFY(enabled(controller, C::Revert));
        QVERIFY(controller->validateUserInterfaceItem(nullptr));
    }

    void newTaskByShortcutIsSelectedAtTheEnd()
    {
        ProjectController *controller = openWindow(threeTasks());
        QWidget *window = controller->projectWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        const double formerEnd = controller->project()->end();
        QTest::keyClick(window, Qt::Key_T, Qt::ControlModifier);
        const TaskPtr added = controller->project()->tasks().constLast();
        QCOMPARE(controller->project()->tasks().size(), 4);
        QCOMPARE(added->start(), formerEnd);
        QCOMPARE(added->duration(), 300.0);
        QCOMPARE(added->name(), QString());
        QCOMPARE(controller->projectView()->selectedTaskIdHolder()->ref(), std::optional(added->id()));
        QCOMPARE(controller->action(ProjectController::Undo)->text(), QStringLiteral("Undo Add Task"));

        QTest::keyClick(window, Qt::Key_D, Qt::ControlModifier);
        QCOMPARE(controller->project()->tasks().size(), 5);
        QCOMPARE(controller->projectView()->selectedTaskIdHolder()->ref(),
            std::optional(controller->project()->tasks().constLast()->id()));

        QTest::keyClick(window, Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(window, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(controller->project()->tasks().size(), 3);
        QTest::keyClick(window, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(controller->project()->tasks().size(), 4);
    }

    void moveRight_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<double>("expectedEnd");
        // a is held by its successor b; c, ungrouped and without successors, goes to the end.
        QTest::newRow("held by a successor") << 0 << 600.0;
        QTest::newRow("ends last already") << 2 << 1500.0;
        QTest::newRow("without successors") << 1 << 1500.0;
    }
    void moveRight()
    {
        QFETCH(int, row);
        QFETCH(double, expectedEnd);
        ProjectController *controller = openWindow(threeTasks());
        select(controller, row);
        const int steps = controller->undoStack()->count();
        QTest::keyClick(controller->projectWindow(), Qt::Key_Right, Qt::ControlModifier);
        QCOMPARE(controller->project()->tasks().at(row)->end(), expectedEnd);
        QCOMPARE(controller->undoStack()->count(), steps + 1);
        QCOMPARE(controller->undoStack()->undoText(), QStringLiteral("Move Task"));
    }

    void deleteKeyDeletesTheSelectedTask()
    {
        ProjectController *controller = openWindow(threeTasks());
        QVERIFY(QTest::qWaitForWindowExposed(controller->projectWindow()));
        select(controller, 0);
        controller->projectView()->ganttView()->setFocus();
        QTest::keyClick(controller->projectWindow(), Qt::Key_Delete);
        QCOMPARE(controller->project()->tasks().size(), 2);
        QVERIFY(controller->project()->edges().isEmpty());
        QCOMPARE(controller->projectView()->selectedTaskIdHolder()->ref(), std::nullopt);
        QCOMPARE(controller->undoStack()->undoText(), QStringLiteral("Delete Task"));
    }

    // Typed text matches anywhere in a name, whatever its case; tasks of one name are told apart.
    // A dependency is one undo step; a refusal is the very alert a drop of the name on the list gives.
    void linkByName_data()
    {
        QTest::addColumn<bool>("isSucc");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("downs");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("dependencies");
        QTest::addColumn<QString>("problem");
        const auto text = [](const char *utf8) { return QString::fromUtf8(utf8); };
        const int enter = Qt::Key_Return;
        const QString unchanged = text("(3,4)");
        QTest::newRow("successor of a shared name, from the list")
            << true << 2 << text("WALLS") << 2 << text("Paint walls — #2, starts at 30 min") << enter
            << text("(3,4) (3,2)") << QString();
        QTest::newRow("predecessor typed in full")
            << false << 0 << text("Varnish") << 0 << text("Varnish") << enter << text("(3,4) (4,1)") << QString();
        QTest::newRow("itself refused") << false << 2 << text("floor") << 1 << text("Sand floor") << enter << unchanged
                                        << QString();
        QTest::newRow("a shared name alone")
            << true << 3 << text("Paint walls") << 0 << text("Paint walls") << enter << unchanged
            << text("Several tasks have this name: choose one from the list.");
        QTest::newRow("no such name") << true << 3 << text("Plaster") << 0 << text("Plaster") << enter << unchanged
                                      << text("No task has this name.");
        QTest::newRow("Escape") << true << 3 << text("paint") << 1 << text("Paint walls — #1, starts at 0 min")
                                << int(Qt::Key_Escape) << unchanged << QString();
        QTest::newRow("part of a name, Enter takes the first offered")
            << false << 0 << text("arn") << 0 << text("arn") << enter << text("(3,4) (4,1)") << QString();
        QTest::newRow("part of a shared name, the first of them")
            << true << 3 << text("ain") << 0 << text("ain") << enter << text("(3,4) (4,1)") << QString();
    }
    void linkByName()
    {
        QFETCH(bool, isSucc);
        QFETCH(int, row);
        QFETCH(QString, typed);
        QFETCH(int, downs);
        QFETCH(QString, chosen);
        QFETCH(int, key);
        QFETCH(QString, dependencies);
        QFETCH(QString, problem);
        ProjectController *controller = openWindow(renovation());
        QMainWindow *window = controller->projectWindow();
        const auto shown = [controller] {
            QStringList pairs;
            for (const IntPair &pair : controller->project()->dependencies())
                pairs.append(pair.description());
            return pairs.join(u' ');
        };
        const QString before = shown();
        const int steps = controller->undoStack()->count();
        select(controller, row);

        // Window-modal: the trigger returns with the dialog up.
        controller->action(isSucc ? ProjectController::AddSuccessor : ProjectController::AddPredecessor)->trigger();
        QPointer<LinkTaskDialog> dialog = window->findChild<LinkTaskDialog *>();
        QVERIFY(dialog);
        QCOMPARE(dialog->windowModality(), Qt::WindowModal);
        // The offscreen platform leaves a new window inactive where a window manager would not.
        dialog->activateWindow();
        const QString reference = controller->project()->tasks().at(row)->name();
        const auto *prompt = dialog->findChild<QLabel *>(QStringLiteral("prompt"));
        QVERIFY(prompt);
        QCOMPARE(prompt->text(),
            (isSucc ? QStringLiteral("Task to follow \"%1\":") : QStringLiteral("Task to precede \"%1\":"))
                .arg(reference));
        QLineEdit *field = dialog->field();
        QTRY_COMPARE(QApplication::focusWidget(), field);
        QTest::keyClicks(field, typed);
        for (int down = 0; down < downs; ++down)
            press(field, Qt::Key_Down);
        if (downs > 0)
            press(field, Qt::Key_Return);
        QCOMPARE(field->text(), chosen);
        press(field, Qt::Key(key));
        deliverPostedWork();

        QCOMPARE(shown(), dependencies);
        QCOMPARE(!dialog, problem.isEmpty());
        if (!problem.isEmpty()) {
            QVERIFY(!dialog->okButton()->isEnabled());
            QCOMPARE(dialog->findChild<QLabel *>(QStringLiteral("problem"))->text(), problem);
        } else if (dependencies != before) {
            QCOMPARE(controller->undoStack()->count(), steps + 1);
            controller->undoStack()->undo();
            QCOMPARE(shown(), before);
        } else if (key == Qt::Key_Return) {
            QCOMPARE(m_presenter.alerts().size(), 1);
            QCOMPARE(m_presenter.alerts().at(0).message, QStringLiteral("Illegal Dependency"));
            const QList<TaskListView *> lists = window->findChildren<TaskListView *>();
            const auto list = std::find_if(
                lists.cbegin(), lists.cend(), [isSucc](const TaskListView *view) { return view->isSucc() == isSucc; });
            const std::unique_ptr<QMimeData> name(ViewTest::plainText(chosen));
            QVERIFY(list != lists.cend() && ViewTest::dropOn(*list, QPoint(10, 10), name.get()));
            deliverPostedWork();
            QCOMPARE(m_presenter.alerts().size(), 2);
            QCOMPARE(m_presenter.alerts().at(1), m_presenter.alerts().at(0));
        }
        if (dependencies == before)
            QCOMPARE(controller->undoStack()->count(), steps);
    }

    // + takes Shift on many layouts, so Ctrl+= zooms in as well.
    void viewMenuShortcuts()
    {
        ProjectController *controller = openWindow(threeTasks());
        using C = ProjectController;
        for (const auto &[key, command] : { std::pair(Qt::Key_Plus, C::ZoomIn), std::pair(Qt::Key_Equal, C::ZoomIn),
                 std::pair(Qt::Key_Minus, C::ZoomOut), std::pair(Qt::Key_0, C::FitWholeProject) }) {
            QSignalSpy triggered(controller->action(command), &QAction::triggered);
            QTest::keyClick(controller->projectWindow(), key, Qt::ControlModifier);
            QVERIFY2(triggered.size() == 1, qPrintable(QKeySequence(Qt::CTRL | key).toString()));
        }
    }

    // Zoom Out is there only while zoomed in: at fit it would do nothing.
    void zoomOutOnlyZoomedIn()
    {
        ProjectController *controller = openWindow(threeTasks());
        QAction *zoomOut = controller->action(ProjectController::ZoomOut);
        const auto press = [&](Qt::Key key) {
            QTest::keyClick(controller->projectWindow(), key, Qt::ControlModifier);
            return zoomOut->isEnabled();
        };
        QVERIFY(!zoomOut->isEnabled());
        QVERIFY(press(Qt::Key_Plus));
        QVERIFY(press(Qt::Key_Plus));
        QVERIFY(press(Qt::Key_Minus));
        QVERIFY(!press(Qt::Key_Minus));
        QVERIFY(!press(Qt::Key_Minus));
        QVERIFY(press(Qt::Key_Equal));
        QVERIFY(!press(Qt::Key_0));
    }

    // Ctrl+F from the chart and from the names, typing, F3 both ways round the list, Escape.
    void findByName()
    {
        std::unique_ptr<Project> project
            = readProject(R"({"tasks":[{"duration":600.0,"start":0.0,"id":1,"name":"Order bricks"},)"
                          R"({"duration":600.0,"start":600.0,"id":2,"name":"Caf\u00e9 break"},)"
                          R"({"duration":300.0,"start":1200.0,"id":3,"name":"Lay bricks"},)"
                          R"({"duration":300.0,"start":1500.0,"id":4,"name":"CAFE\u0301 again"}],)"
                          R"("dependencies":[],"name":"Plan"})");
        ProjectController *controller = openWindow(std::move(project));
        ProjectView *view = controller->projectView();
        FindBar *bar = view->findBar();
        IntPublisher *selection = view->selectedTaskIdHolder();
        QVERIFY(!bar->isVisible());
        view->ganttView()->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(bar->isVisible());
        QCOMPARE(QApplication::focusWidget(), bar->field());
        const auto type = [&](const QString &text) {
            QTest::keyClicks(bar->field(), text);
            return bar->countLabel()->text();
        };
        const auto key = [&](Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
            QTest::keyClick(bar->field(), key, modifiers);
            return std::pair(bar->countLabel()->text(), selection->ref().value_or(0));
        };
        QCOMPARE(type(QStringLiteral("BRI")), QStringLiteral("1 of 2"));
        QCOMPARE(selection->ref(), 1);
        QCOMPARE(key(Qt::Key_F3), std::pair(QStringLiteral("2 of 2"), qint64(3)));
        QCOMPARE(key(Qt::Key_Return), std::pair(QStringLiteral("1 of 2"), qint64(1)));
        QCOMPARE(key(Qt::Key_F3, Qt::ShiftModifier), std::pair(QStringLiteral("2 of 2"), qint64(3)));
        // Accents and case do not count, on either side.
        QTest::keyClick(bar->field(), Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(type(QStringLiteral("cafe")), QStringLiteral("1 of 2"));
        QCOMPARE(selection->ref(), 2);
        QCOMPARE(key(Qt::Key_F3), std::pair(QStringLiteral("2 of 2"), qint64(4)));
        QCOMPARE(bar->field()->accessibleDescription(), QStringLiteral("2 of 2"));
        QCOMPARE(type(QStringLiteral("zz")), QStringLiteral("No task matches"));
        QCOMPARE(key(Qt::Key_F3), std::pair(QStringLiteral("No task matches"), qint64(4)));
        // A renamed task is found from where the bar left off.
        controller->project()->tasks()[0]->setName(QStringLiteral("cafezz"));
        QCOMPARE(key(Qt::Key_F3), std::pair(QStringLiteral("1 of 1"), qint64(1)));
        QCOMPARE(key(Qt::Key_Escape), std::pair(QStringLiteral("1 of 1"), qint64(1)));
        QVERIFY(!bar->isVisible());
        QCOMPARE(QApplication::focusWidget(), view->ganttView());

        view->taskNamesView()->setFocus();
        QTest::keyClick(view->taskNamesView(), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->field()->selectedText(), QStringLiteral("cafezz"));
        QTest::keyClick(bar->field(), Qt::Key_Escape);
        QCOMPARE(QApplication::focusWidget(), view->taskNamesView());
        QCOMPARE(selection->ref(), 1);
        controller->project()->setDirty(false);
    }

    // Off at first; a choice the next window keeps.
    void criticalPathIsRemembered()
    {
        ProjectController *first = openWindow(threeTasks());
        QAction *highlight = first->action(ProjectController::HighlightCriticalPath);
        QVERIFY(highlight->isCheckable());
        QVERIFY(!highlight->isChecked());
        QVERIFY(!first->projectView()->highlightsCritical());
        highlight->trigger();
        QVERIFY(first->projectView()->ganttView()->highlightsCritical());
        first->project()->setDirty(false);
        first->projectWindow()->close();
        ProjectController *second = openWindow(threeTasks());
        QVERIFY(second->action(ProjectController::HighlightCriticalPath)->isChecked());
        QVERIFY(second->projectView()->highlightsCritical());
        second->action(ProjectController::HighlightCriticalPath)->trigger();
        QVERIFY(!second->projectView()->highlightsCritical());
        second->project()->setDirty(false);
    }

    void layoutIsRememberedForTheNextWindow()
    {
        ProjectController *first = openWindow(threeTasks());
        QVERIFY(QTest::qWaitForWindowExposed(first->projectWindow()));
        QSplitter *splitter = first->projectView()->splitter();
        const int namesWidth = splitter->sizes().at(0);
        QSplitterHandle *handle = splitter->handle(1);
        const QPoint grip = handle->rect().center();
        QTest::mousePress(handle, Qt::LeftButton, {}, grip);
        QTest::mouseMove(handle, grip + QPoint(40, 0));
        QTest::mouseRelease(handle, Qt::LeftButton, {}, grip + QPoint(40, 0));
        const QList<int> moved = splitter->sizes();
        QCOMPARE(moved.at(0), namesWidth + 40);
        first->action(ProjectController::ShowDependencies)->trigger();
        QVERIFY(!first->projectView()->ganttView()->showsDependencies());
        first->project()->setDirty(false);
        first->projectWindow()->close();

        ProjectController *second = openWindow(threeTasks());
        QVERIFY(QTest::qWaitForWindowExposed(second->projectWindow()));
        QCOMPARE(second->projectView()->splitter()->sizes(), moved);
        QVERIFY(!second->projectView()->ganttView()->showsDependencies());
        QVERIFY(!second->action(ProjectController::ShowDependencies)->isChecked());
        second->projectView()->ganttView()->setShowDependencies(true);
        QVERIFY(second->action(ProjectController::ShowDependencies)->isChecked());
    }

    // Whatever the settings hold, a window opens with its panes side by side as a first one does. The
    // states are QSplitter::saveState's layout: marker, version, sizes, then flags and orientation.
    void storedLayoutGarbage_data()
    {
        QTest::addColumn<QByteArray>("dividers");
        QTest::newRow("a count past any memory") << QByteArray::fromHex("000000ff 00000001 7fffffff 00000064");
        QTest::newRow("a pane without width")
            << QByteArray::fromHex("000000ff 00000001 00000002 00000000 0000017c 00 00000004 01 00000001 00");
        QTest::newRow("upright") << QByteArray::fromHex(
            "000000ff 00000001 00000002 00000064 0000012c 00 00000004 01 00000002 00");
        QTest::newRow("cut short") << QByteArray::fromHex("000000ff 00000001 00000002 00000064 0000");
    }
    void storedLayoutGarbage()
    {
        QFETCH(QByteArray, dividers);
        QSettings().setValue(dividersKey, dividers);
        QSettings().setValue(showDependenciesKey, dividers);
        ProjectController *controller = openWindow(threeTasks());
        QVERIFY(QTest::qWaitForWindowExposed(controller->projectWindow()));
        const QSplitter *splitter = controller->projectView()->splitter();
        QCOMPARE(splitter->orientation(), Qt::Horizontal);
        QCOMPARE(splitter->sizes().at(0), 100);
        QVERIFY(splitter->sizes().at(1) > 0);
        QCOMPARE(controller->action(ProjectController::ShowDependencies)->isChecked(),
            controller->projectView()->ganttView()->showsDependencies());
    }

    void saveAsWritesAtomicallyAndRemembersTheFile()
    {
        ProjectController *controller = openWindow(threeTasks());
        const QString target = path("plan.quillfern");
        writeFile(target, "previous contents");

        m_presenter.scriptSavePanelResult(std::nullopt);
        QVERIFY(!controller->save());
        QCOMPARE(m_presenter.savePanels().size(), 1);
        QCOMPARE(m_presenter.savePanels().at(0).title, QStringLiteral("Save Project"));
        QCOMPARE(m_presenter.savePanels().at(0).suggestedName, QStringLiteral("Plan.quillfern"));
        QVERIFY(controller->project()->isDirty());
        QCOMPARE(controller->url(), std::nullopt);

        m_presenter.scriptSavePanelResult(target);
        QTest::keyClick(controller->projectWindow(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(controller->url(), std::optional(target));
        QVERIFY(!controller->project()->isDirty());
        QCOMPARE(readFile(target), writeProject(*controller->project()));
        QCOMPARE(RecentDocuments::list(), QStringList { target });
        QCOMPARE(shownTitle(controller->projectWindow()), QStringLiteral("Plan"));
    }

    // Save and export panels open beside the project's file, else where the last panel chose one,
    // else at home; never in the working folder, and so does the open panel.
    void panelsOpenWhereTheWorkIs()
    {
        QSettings().remove(QStringLiteral("lastPanelFolder"));
        const QString home = QDir::homePath();
        QTemporaryDir working;
        const QString started = QDir::currentPath();
        QVERIFY(QDir::setCurrent(working.path()));
        const auto back = qScopeGuard([started] { QDir::setCurrent(started); });
        QVERIFY(QDir().mkpath(path("plans")));
        const QString target = path("plans/plan.quillfern");
        const auto lastPanel = [this] { return m_presenter.savePanels().constLast().directory; };

        ProjectController *first = openWindow(threeTasks());
        QWidget *window = first->projectWindow();
        QTest::keyClick(window, Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(lastPanel(), home);
        m_presenter.scriptSavePanelResult(target);
        QTest::keyClick(window, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(lastPanel(), home);
        QCOMPARE(first->url(), std::optional(target));
        // Beside the file now.
        QTest::keyClick(window, Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(lastPanel(), path("plans"));

        // A new project's panels open where the last one chose a file.
        m_presenter.scriptSavePanelResult(path("elsewhere.csv"));
        QTest::keyClick(window, Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
        ProjectController *second = openWindow(threeTasks());
        QTest::keyClick(second->projectWindow(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(lastPanel(), m_dir.path());
        // A folder that has gone is passed over.
        QVERIFY(QDir(path("plans")).removeRecursively());
        QTest::keyClick(window, Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(lastPanel(), m_dir.path());
        for (const corvane::FilePanel &panel : m_presenter.savePanels())
            QVERIFY(panel.directory != working.path());
    }

    // A new window does not hide the one before it: each opens down and to the right.
    void windowsCascade()
    {
        QList<QPoint> places;
        for (int window = 0; window < 3; ++window) {
            ProjectController *controller = openWindow(threeTasks());
            const QWidget *shown = controller->projectWindow();
            places.append(shown->pos());
            QVERIFY(shown->screen()->availableGeometry().contains(shown->frameGeometry()));
        }
        // Where the first one opens depends on the frame an earlier window left in the settings, so
        // a step may go back to the screen's corner when the next place would run off it.
        const QPoint corner = openWindow(threeTasks())->projectWindow()->screen()->availableGeometry().topLeft();
        for (qsizetype i = 1; i < places.size(); ++i) {
            QVERIFY2(places.at(i) - places.at(i - 1) == QPoint(28, 28) || places.at(i) == corner,
                qPrintable(
                    QStringLiteral("window %1 opened at %2,%3").arg(i).arg(places.at(i).x()).arg(places.at(i).y())));
            for (qsizetype j = 0; j < i; ++j)
                QVERIFY((places.at(i) - places.at(j)).manhattanLength() >= 14);
        }
    }

    void failedSaveKeepsEverything()
    {
        ProjectController *controller = openWindow(threeTasks());
        const QString unreachable = path("no such folder/plan.quillfern");
        m_presenter.scriptSavePanelResult(unreachable);
        QVERIFY(!controller->saveAs());
        deliverPostedWork();
        QCOMPARE(m_presenter.alerts().size(), 1);
        QVERIFY(m_presenter.alerts().at(0).informativeText.contains(unreachable));
        QVERIFY(controller->project()->isDirty());
        QCOMPARE(controller->url(), std::nullopt);
        QVERIFY(RecentDocuments::list().isEmpty());
    }

    // Yes closes only a project that reached its file; a cancelled panel or a failed write keeps
    // the window and its changes.
    void closeQuestion_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<std::optional<QString>>("panelResult");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<bool>("written");
        const std::optional<QString> none;
        QTest::newRow("yes, saved") << int(FirstButton) << std::optional(path("closing.quillfern")) << true << true;
        QTest::newRow("yes, panel cancelled") << int(FirstButton) << none << false << false;
        QTest::newRow("yes, write failed")
            << int(FirstButton) << std::optional(path("missing/closing.quillfern")) << false << false;
        QTest::newRow("no") << int(SecondButton) << none << true << false;
        QTest::newRow("cancel") << int(ThirdButton) << none << false << false;
    }
    void closeQuestion()
    {
        QFETCH(int, answer);
        QFETCH(std::optional<QString>, panelResult);
        QFETCH(bool, closes);
        QFETCH(bool, written);
        QFile::remove(path("closing.quillfern"));
        ProjectController *controller = openWindow(threeTasks());
        m_presenter.scriptAlertResponse(answer);
        if (answer == FirstButton)
            m_presenter.scriptSavePanelResult(panelResult);
        QTest::keyClick(controller->projectWindow(), Qt::Key_W, Qt::ControlModifier);
        deliverPostedWork();

        QVERIFY(!m_presenter.alerts().isEmpty());
        QCOMPARE(m_presenter.alerts().at(0).message, QStringLiteral("Do you want to save your changes?"));
        QCOMPARE(m_presenter.alerts().at(0).style, corvane::AlertStyle::Warning);
        QCOMPARE(m_presenter.alerts().at(0).buttons,
            (QStringList { QStringLiteral("Yes"), QStringLiteral("No"), QStringLiteral("Cancel") }));
        QCOMPARE(ProjectController::openControllers().isEmpty(), closes);
        QCOMPARE(QFile::exists(path("closing.quillfern")), written);
        if (!closes) {
            QVERIFY(controller->projectWindow()->isVisible());
            QVERIFY(controller->project()->isDirty());
        }
    }

    void cleanWindowClosesWithoutAsking()
    {
        ProjectController *controller = openWindow(threeTasks());
        controller->project()->setDirty(false);
        controller->projectWindow()->close();
        deliverPostedWork();
        QVERIFY(m_presenter.alerts().isEmpty());
        QVERIFY(ProjectController::openControllers().isEmpty());
    }

    void revert_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("reverted");
        QTest::newRow("yes") << int(FirstButton) << true;
        QTest::newRow("no") << int(SecondButton) << false;
    }
    void revert()
    {
        QFETCH(int, answer);
        QFETCH(bool, reverted);
        const QString file = path("revert.quillfern");
        ProjectController *controller = openWindow(threeTasks());
        m_presenter.scriptSavePanelResult(file);
        QVERIFY(controller->saveAs());
        Project *project = controller->project();
        project->changeDuration(project->tasks().at(2), 6000.0);
        project->deleteTask(project->tasks().at(0));
        select(controller, 0);
        const int steps = controller->undoStack()->count();

        m_presenter.scriptAlertResponse(answer);
        controller->action(ProjectController::Revert)->trigger();
        QCOMPARE(m_presenter.alerts().size(), 1);
        QCOMPARE(m_presenter.alerts().at(0).message, QStringLiteral("Reversion Warning"));
        QCOMPARE(m_presenter.alerts().at(0).informativeText,
            QStringLiteral("Do you really want to revert the project to the last saved version?"));
        QCOMPARE(m_presenter.alerts().at(0).buttons, (QStringList { QStringLiteral("Yes"), QStringLiteral("No") }));
        QCOMPARE(project->tasks().size(), reverted ? 3 : 2);
        QCOMPARE(project->taskWithId(3)->duration(), reverted ? 300.0 : 6000.0);
        QVERIFY(project->isDirty());
        QCOMPARE(controller->undoStack()->count(), steps);
        QCOMPARE(ProjectController::controllerFor(project), controller);
    }

    void revertOfAVanishedFileChangesNothing()
    {
        const QString file = path("vanishing.quillfern");
        ProjectController *controller = openWindow(threeTasks());
        m_presenter.scriptSavePanelResult(file);
        QVERIFY(controller->saveAs());
        controller->project()->deleteTask(controller->project()->tasks().at(0));
        writeFile(file, "{\"tasks\":[");
        m_presenter.scriptAlertResponse(FirstButton);
        controller->revert();
        deliverPostedWork();
        QCOMPARE(m_presenter.alerts().size(), 2);
        QVERIFY(m_presenter.alerts().at(1).informativeText.contains(file));
        QCOMPARE(controller->project()->tasks().size(), 2);
    }

    void openingReportsDroppedDependenciesFirst()
    {
        const QString file = path("inconsistent.quillfern");
        writeFile(file,
            R"({"tasks":[{"duration":20.0,"start":0.0,"id":1,"name":"A"},)"
            R"({"duration":5.0,"start":10.0,"id":2,"name":"B"}],"dependencies":[{"a":1,"b":2}],"name":"P"})");
        QVERIFY(AppDelegate::openProject(file));
        QCOMPARE(m_presenter.alerts().size(), 1);
        QCOMPARE(m_presenter.alerts().at(0).message, QStringLiteral("Dependencies Deleted for Achieving Consistency"));
        QCOMPARE(m_presenter.alerts().at(0).informativeText, QStringLiteral("\"B\" on \"A\""));
        QCOMPARE(m_presenter.alerts().at(0).style, corvane::AlertStyle::Warning);
        const QList<ProjectController *> open = ProjectController::openControllers();
        QCOMPARE(open.size(), 1);
        QCOMPARE(open.at(0)->url(), std::optional(file));
        QVERIFY(!open.at(0)->project()->isDirty());
        QCOMPARE(RecentDocuments::list(), QStringList { file });
    }

    void openingFailuresOpenNothing_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("exists");
        QTest::newRow("missing file") << QByteArray() << false;
        QTest::newRow("empty file") << QByteArray() << true;
        QTest::newRow("not JSON") << QByteArray("\x89PNG\r\n") << true;
        QTest::newRow("task without start")
            << QByteArray(R"({"tasks":[{"duration":1.0,"id":1,"name":"A"}],"dependencies":[],"name":""})") << true;
    }
    void openingFailuresOpenNothing()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, exists);
        const QString file = path("broken.quillfern");
        QFile::remove(file);
        if (exists)
            writeFile(file, bytes);
        QVERIFY(!AppDelegate::openProject(file));
        deliverPostedWork();
        QCOMPARE(m_presenter.alerts().size(), 1);
        QVERIFY(m_presenter.alerts().at(0).informativeText.contains(file));
        QVERIFY(ProjectController::openControllers().isEmpty());
    }

    // A screenful of the list in the alert, all of it behind Show Details.
    void longReportsOfDroppedDependenciesAreCut_data()
    {
        QTest::addColumn<int>("dropped");
        QTest::addColumn<QString>("lastLine");
        QTest::addColumn<bool>("detailed");
        QTest::newRow("one") << 1 << QStringLiteral("\"B2\" on \"A\"") << false;
        QTest::newRow("a screenful") << 20 << QStringLiteral("\"B21\" on \"A\"") << false;
        QTest::newRow("one more") << 21 << QStringLiteral("and 1 more") << true;
        QTest::newRow("a hundred") << 100 << QStringLiteral("and 80 more") << true;
    }
    void longReportsOfDroppedDependenciesAreCut()
    {
        QFETCH(int, dropped);
        QFETCH(QString, lastLine);
        QFETCH(bool, detailed);
        const QString file = path("dropped.quillfern");
        writeFile(file, contradictedDependencies(dropped));
        QVERIFY(AppDelegate::openProject(file));
        QCOMPARE(m_presenter.alerts().size(), 1);
        const corvane::Alert &alert = m_presenter.alerts().at(0);
        QStringList whole;
        for (int i = 2; i <= dropped + 1; ++i)
            whole.append(QStringLiteral("\"B%1\" on \"A\"").arg(i));
        const QStringList shown = alert.informativeText.split(u'\n');
        QCOMPARE(shown.size(), std::min(dropped, 20) + (detailed ? 1 : 0));
        QCOMPARE(shown.mid(0, 20), whole.mid(0, 20));
        QCOMPARE(shown.constLast(), lastLine);
        QCOMPARE(alert.detailedText, detailed ? whole.join(u'\n') : QString());
    }

    // Only a regular file is read, and only one of a size a plan can have; a pipe without a
    // writer must not hang the program.
    void openingRefusesWhatCannotBeAProject_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("advice");
        const QString notAFile
            = QStringLiteral("Choose a project file: folders, pipes and devices cannot be opened as projects.");
        QTest::newRow("named pipe") << QStringLiteral("pipe")
                                    << QStringLiteral("It is a named pipe, not a regular file.") << notAFile;
        // Some containers have no /dev/zero; any device that never ends will do.
        QString endless;
        for (const char *device : { "/dev/zero", "/dev/urandom", "/dev/random" }) {
            if (endless.isEmpty() && QFileInfo::exists(QLatin1String(device)))
                endless = QLatin1String(device);
        }
        QTest::newRow("endless device") << endless << QStringLiteral("It is a device, not a regular file.") << notAFile;
        QTest::newRow("folder") << QStringLiteral("folder") << QStringLiteral("It is a folder, not a file.")
                                << notAFile;
        QTest::newRow("3 GiB") << QStringLiteral("sparse")
                               << QStringLiteral("It is 3,221,225,472 bytes, more than the 1,073,741,824 bytes (1.0 "
                                                 "GiB) a project file can be.")
                               << QStringLiteral("Check that this is the project you meant to open: no plan is "
                                                 "nearly that large.");
    }
    void openingRefusesWhatCannotBeAProject()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QFETCH(QString, advice);
        // A device is used where it is; only what the test makes is made and removed.
        const QString file = kind.startsWith(u'/') ? kind : path("refused");
        const auto removeMade = qScopeGuard([&] {
            if (!kind.startsWith(u'/') && !QFile::remove(file))
                QDir(file).removeRecursively();
        });
        const QByteArray name = QFile::encodeName(file);
        if (kind == QLatin1String("pipe"))
            QCOMPARE(::mkfifo(name.constData(), 0600), 0);
        else if (kind == QLatin1String("folder"))
            QVERIFY(QDir().mkpath(file));
        else if (kind == QLatin1String("sparse"))
            writeFile(file, "{");
        if (kind == QLatin1String("sparse"))
            QCOMPARE(::truncate(name.constData(), qint64(3) << 30), 0);
        std::jthread rescue = kind == QLatin1String("pipe") ? pipeRescue(name) : std::jthread();

        QVERIFY(!AppDelegate::openProject(file));
        rescue = {};
        deliverPostedWork();
        QCOMPARE(m_presenter.alerts().size(), 1);
        QCOMPARE(m_presenter.alerts().at(0).message,
            QStringLiteral("The file \u201c%1\u201d could not be opened.").arg(QFileInfo(file).fileName()));
        QCOMPARE(m_presenter.alerts().at(0).informativeText,
            advice + QStringLiteral("\nFile: ") + file + QStringLiteral("\nReason: ") + reason);
        QVERIFY(ProjectController::openControllers().isEmpty());
    }

    // The disk fills part-way through the save: the alert gives the operating system's reason and
    // what to do, the old file stays as it was, and the temporary copy is gone.
    void fullDiskKeepsTheOldFile()
    {
        QDir folder(path("full"));
        QVERIFY(folder.mkpath(QStringLiteral(".")));
        const QString file = folder.filePath(QStringLiteral("plan.quillfern"));
        writeFile(file, "previous contents");
        ProjectController *controller = openWindow(threeTasks(), file);
        bytesBeforeTheDiskIsFull = 100;
        const WriteCall previous = setWriteCallForTesting(fillingWrite);
        const bool saved = controller->save();
        setWriteCallForTesting(previous);
        deliverPostedWork();

        QVERIFY(!saved);
        QVERIFY(controller->project()->isDirty());
        QCOMPARE(readFile(file), QByteArray("previous contents"));
        QCOMPARE(entriesOf(QFile::encodeName(folder.path())), QList<QByteArray> { "plan.quillfern" });
        QCOMPARE(m_presenter.alerts().size(), 1);
        QCOMPARE(m_presenter.alerts().at(0).message,
            QStringLiteral("The file \u201cplan.quillfern\u201d could not be saved."));
        const QString reason = QString::fromLocal8Bit(std::strerror(ENOSPC));
        QCOMPARE(reason, QStringLiteral("No space left on device"));
        QCOMPARE(m_presenter.alerts().at(0).informativeText,
            QStringLiteral("Free some space on the disk, or choose Save As... to save the project elsewhere. The file "
                           "was left as it was.\nFile: ")
                + file + QStringLiteral("\nReason: ") + reason);
    }

    // A save goes to a temporary copy whose name says what it is, then replaces the file as
    // QSaveFile did: permissions kept, a link followed to the file it names.
    void savingReplacesTheFileInPlace_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("new file") << QStringLiteral("new");
        QTest::newRow("no access for others") << QStringLiteral("mode");
        QTest::newRow("symbolic link") << QStringLiteral("link");
        QTest::newRow("Latin-1 name") << QStringLiteral("latin1");
    }
    void savingReplacesTheFileInPlace()
    {
        QFETCH(QString, kind);
        QDir folder(path("saving"));
        folder.removeRecursively();
        QVERIFY(folder.mkpath(QStringLiteral(".")));
        const QByteArray folderName = QFile::encodeName(folder.path());
        QString file = folder.filePath(QStringLiteral("plan.quillfern"));
        QString written = file;
        if (kind == QLatin1String("mode")) {
            writeFile(file, "previous contents");
            QCOMPARE(::chmod(QFile::encodeName(file).constData(), 0640), 0);
        } else if (kind == QLatin1String("link")) {
            writeFile(folder.filePath(QStringLiteral("target.quillfern")), "previous contents");
            QCOMPARE(::symlink("target.quillfern", QFile::encodeName(file).constData()), 0);
            written = folder.filePath(QStringLiteral("target.quillfern"));
        } else if (kind == QLatin1String("latin1")) {
            const QByteArray latin1 = folderName + "/caf\xe9.quillfern";
            file = written = decodeFileName(latin1);
            const int descriptor = ::open(latin1.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            QVERIFY(descriptor >= 0);
            ::close(descriptor);
        }
        // QDir cannot remove a name that is not UTF-8.
        const auto removeFile = qScopeGuard([written] { ::unlink(encodeFileName(written).constData()); });
        ProjectController *controller = openWindow(threeTasks(), file);
        writtenName.clear();
        bytesBeforeTheDiskIsFull = -1;
        const WriteCall previous = setWriteCallForTesting(fillingWrite);
        const bool saved = controller->save();
        setWriteCallForTesting(previous);
        QVERIFY(saved);

        const QByteArray writtenFile = encodeFileName(written);
        const qsizetype slash = writtenFile.lastIndexOf('/');
        QVERIFY2(writtenName.startsWith(
                     QByteArray(writtenFile.left(slash + 1) + '.' + writtenFile.mid(slash + 1) + ".saving-")),
            writtenName.constData());
        QVERIFY(::access(writtenName.constData(), F_OK) != 0);
        struct stat status;
        QCOMPARE(::lstat(writtenFile.constData(), &status), 0);
        QVERIFY(S_ISREG(status.st_mode));
        const mode_t mask = ::umask(0);
        ::umask(mask);
        QCOMPARE(status.st_mode & 0777, kind == QLatin1String("mode") ? mode_t(0640) : mode_t(0666 & ~mask));
        if (kind == QLatin1String("link"))
            QVERIFY(QFileInfo(file).isSymLink());
        QCOMPARE(readWholeFile(written), writeProject(*controller->project()));
        QCOMPARE(entriesOf(folderName).size(), kind == QLatin1String("link") ? 2 : 1);
    }

    void aFileOpensTwiceAsTwoProjects()
    {
        const QString file = path("twice.quillfern");
        writeFile(file, writeProject(*threeTasks()));
        QVERIFY(AppDelegate::openProject(file));
        QVERIFY(AppDelegate::openProject(file));
        const QList<ProjectController *> open = ProjectController::openControllers();
        QCOMPARE(open.size(), 2);
        QVERIFY(open.at(0)->project() != open.at(1)->project());
    }

    void recentDocumentsKeepTheNewestTen()
    {
        for (int i = 0; i < 12; ++i)
            RecentDocuments::note(path("r") + QString::number(i));
        RecentDocuments::note(path("r5"));
        const QStringList recent = RecentDocuments::list();
        QCOMPARE(recent.size(), RecentDocuments::maximumCount);
        QCOMPARE(recent.at(0), path("r5"));
        QCOMPARE(recent.at(1), path("r11"));
        QCOMPARE(recent.count(path("r5")), 1);
        QVERIFY(!recent.contains(path("r1")));
    }
    // Save notices when another program changed the file since this window read or wrote it, and
    // asks; Cancel keeps the other program's file and the window's changes.
    void saveAsksBeforeOverwritingAnotherProgramsChanges_data()
    {
        QTest::addColumn<QString>("otherProgram");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("saved");
        QTest::newRow("nobody else wrote") << "" << -1 << false << true;
        QTest::newRow("rewritten, cancel") << "rewrite" << int(corvane::SecondButton) << true << false;
        QTest::newRow("rewritten, save anyway") << "rewrite" << int(corvane::FirstButton) << true << true;
        QTest::newRow("replaced by a rename, cancel") << "rename" << int(corvane::SecondButton) << true << false;
        QTest::newRow("deleted") << "delete" << -1 << false << true;
        QTest::newRow("rewritten, then reverted to") << "rewrite, revert" << -1 << false << true;
    }
    void saveAsksBeforeOverwritingAnotherProgramsChanges()
    {
        QFETCH(QString, otherProgram);
        QFETCH(int, answer);
        QFETCH(bool, asked);
        QFETCH(bool, saved);
        const QString target = path("plan.quillfern");
        writeFile(target, writeProject(*threeTasks()));
        ProjectController *controller = openWindow(ProjectController::readFrom(target), target);
        const QByteArray theirs = R"({"tasks":[],"dependencies":[],"name":"Theirs"})";
        if (otherProgram.startsWith(QLatin1String("rewrite"))) {
            // A second apart at most: a file system with coarse times still tells them apart by size.
            writeFile(target, theirs);
        } else if (otherProgram == QLatin1String("rename")) {
            writeFile(target + QLatin1String(".new"), theirs);
            QVERIFY(::rename(QFile::encodeName(target + QLatin1String(".new")), QFile::encodeName(target)) == 0);
        } else if (otherProgram == QLatin1String("delete")) {
            QVERIFY(QFile::remove(target));
        }
        if (otherProgram.endsWith(QLatin1String("revert"))) {
            m_presenter.scriptAlertResponse(corvane::FirstButton);
            controller->revert();
            QCOMPARE(controller->project()->name(), QStringLiteral("Theirs"));
        }
        controller->project()->setName(QStringLiteral("Mine"));
        const qsizetype alertsBefore = m_presenter.alerts().size();
        if (answer >= 0)
            m_presenter.scriptAlertResponse(answer);
        QTest::keyClick(controller->projectWindow(), Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(m_presenter.alerts().size() - alertsBefore, asked ? 1 : 0);
        if (asked) {
            QCOMPARE(m_presenter.alerts().constLast().message,
                QStringLiteral("The file has been changed by another application."));
            QCOMPARE(m_presenter.alerts().constLast().buttons,
                QStringList({ QStringLiteral("Save Anyway"), QStringLiteral("Cancel") }));
        }
        QCOMPARE(controller->project()->isDirty(), !saved);
        QCOMPARE(readFile(target), saved ? writeProject(*controller->project()) : theirs);
        // Once saved, the window's own file raises no question.
        if (saved) {
            controller->project()->setName(QStringLiteral("Mine again"));
            controller->save();
            QCOMPARE(m_presenter.alerts().size() - alertsBefore, asked ? 1 : 0);
        }
    }

    // The stamp is of the bytes read: a version another program puts in place during the read is
    // noticed at the next save, and one written into the file itself is read instead.
    void stampIsOfTheVersionRead_data()
    {
        QTest::addColumn<QString>("during");
        QTest::newRow("replaced by a rename") << QStringLiteral("rename");
        QTest::newRow("rewritten in place") << QStringLiteral("rewrite");
    }
    void stampIsOfTheVersionRead()
    {
        QFETCH(QString, during);
        const QString target = path("during.quillfern");
        writeFile(target, writeProject(*threeTasks()));
        const QByteArray theirs = R"({"tasks":[],"dependencies":[],"name":"Theirs"})";
        bool done = false;
        FileStamp stamp;
        ReadOptions options;
        options.stamp = &stamp;
        options.progress = [&](qint64, qint64) {
            if (!std::exchange(done, true)) {
                const QString other = during == QLatin1String("rename") ? target + QLatin1String(".new") : target;
                writeFile(other, theirs);
                if (other != target)
                    (void)::rename(QFile::encodeName(other).constData(), QFile::encodeName(target).constData());
            }
            return true;
        };
        const QByteArray read = readWholeFile(target, options);
        ProjectController *controller = openWindow(readProject(read), target, stamp);
        controller->project()->setName(QStringLiteral("Mine"));
        const qsizetype alertsBefore = m_presenter.alerts().size();
        if (during == QLatin1String("rename")) {
            QCOMPARE(read, writeProject(*threeTasks()));
            m_presenter.scriptAlertResponse(corvane::SecondButton);
            QVERIFY(!controller->save());
            QCOMPARE(m_presenter.alerts().size() - alertsBefore, 1);
            QCOMPARE(readFile(target), theirs);
        } else {
            QCOMPARE(read, theirs);
            QVERIFY(controller->save());
            QCOMPARE(m_presenter.alerts().size(), alertsBefore);
        }
    }

    // A file of the same size written again with its modification time put back is still
    // another version.
    void sameSizeRewriteWithItsTimePutBackIsNoticed()
    {
        const QString target = path("sneaky.quillfern");
        writeFile(target, R"({"tasks":[],"dependencies":[],"name":"Aaaa"})");
        ProjectController *controller = openWindow(ProjectController::readFrom(target), target);
        struct stat before;
        QCOMPARE(::stat(QFile::encodeName(target).constData(), &before), 0);
        QTest::qWait(20);
        writeFile(target, R"({"tasks":[],"dependencies":[],"name":"Bbbb"})");
        const struct timespec times[2] = { before.st_atim, before.st_mtim };
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(target).constData(), times, 0), 0);
        controller->project()->setName(QStringLiteral("Mine"));
        m_presenter.scriptAlertResponse(corvane::SecondButton);
        QVERIFY(!controller->save());
        QCOMPARE(m_presenter.alerts().constLast().message,
            QStringLiteral("The file has been changed by another application."));
    }

    // Save refuses a file the user may not change, even where the folder would let it be
    // replaced, and offers Save As.
    void readOnlyFileIsKeptAndSaveAsOffered_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("cancel") << int(corvane::SecondButton);
        QTest::newRow("save as") << int(corvane::FirstButton);
    }
    void readOnlyFileIsKeptAndSaveAsOffered()
    {
        QFETCH(int, answer);
        QDir folder(path("shared"));
        folder.removeRecursively();
        QVERIFY(folder.mkpath(QStringLiteral(".")));
        QCOMPARE(::chmod(QFile::encodeName(folder.path()).constData(), 01777), 0);
        const QString file = folder.filePath(QStringLiteral("theirs.quillfern"));
        const QByteArray theirs = writeProject(*threeTasks());
        writeFile(file, theirs);
        QCOMPARE(::chmod(QFile::encodeName(file).constData(), 0444), 0);
        // Another user's, where the test may make it so.
        (void)::chown(QFile::encodeName(file).constData(), 65534, 65534);
        struct stat before;
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &before), 0);

        ProjectController *controller = openWindow(ProjectController::readFrom(file), file);
        controller->project()->setName(QStringLiteral("Mine"));
        m_presenter.scriptAlertResponse(answer);
        const QString elsewhere = folder.filePath(QStringLiteral("mine.quillfern"));
        if (answer == corvane::FirstButton)
            m_presenter.scriptSavePanelResult(elsewhere);
        QCOMPARE(controller->save(), answer == corvane::FirstButton);
        QCOMPARE(m_presenter.alerts().at(0).message, QStringLiteral("\u201ctheirs.quillfern\u201d is read-only."));
        QCOMPARE(m_presenter.alerts().at(0).buttons,
            QStringList({ QStringLiteral("Save As..."), QStringLiteral("Cancel") }));
        QCOMPARE(readFile(file), theirs);
        struct stat after;
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &after), 0);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(after.st_uid, before.st_uid);
        QCOMPARE(controller->project()->isDirty(), answer != corvane::FirstButton);
        if (answer == corvane::FirstButton) {
            QCOMPARE(controller->url(), std::optional<QString>(elsewhere));
            QCOMPARE(readFile(elsewhere), writeProject(*controller->project()));
        }
    }

    // A name as long as the file system allows saves, through a temporary name cut to fit, and
    // the copies killed saves of it left go; other files stay.
    void longNamesSaveAndLeftoverCopiesGo()
    {
        QDir folder(path("long"));
        folder.removeRecursively();
        QVERIFY(folder.mkpath(QStringLiteral(".")));
        const QByteArray folderName = QFile::encodeName(folder.path());
        const QByteArray base = QByteArray(250, 'p') + ".qf";
        const QString file = decodeFileName(folderName + '/' + base.left(255));
        writeFile(file, "previous contents");
        const QByteArray cut = '.' + base.left(255 - 1 - 8 - 6) + ".saving-";
        const QByteArray leftover = cut + "AbC123";
        const QByteArray notOurs = cut + "AbC12";
        for (const QByteArray &name : { leftover, notOurs })
            writeFile(decodeFileName(folderName + '/' + name), "half a plan");

        ProjectController *controller = openWindow(threeTasks(), file);
        QVERIFY(controller->save());
        QCOMPARE(readFile(file), writeProject(*controller->project()));
        QList<QByteArray> expected { base.left(255), notOurs };
        std::sort(expected.begin(), expected.end());
        QCOMPARE(entriesOf(folderName), expected);
    }

    // A full disk at Save As to a new name leaves nothing that was there, and says nothing of it.
    void failedSaveAsToANewFileSaysNothingWasKept()
    {
        ProjectController *controller = openWindow(threeTasks());
        m_presenter.scriptSavePanelResult(path("new-on-full.quillfern"));
        bytesBeforeTheDiskIsFull = 10;
        const WriteCall previous = setWriteCallForTesting(fillingWrite);
        QVERIFY(!controller->saveAs());
        setWriteCallForTesting(previous);
        deliverPostedWork();
        QCOMPARE(m_presenter.alerts().size(), 1);
        QVERIFY(m_presenter.alerts().at(0).informativeText.startsWith(QStringLiteral(
            "Free some space on the disk, or choose Save As... to save the project elsewhere.\nFile: ")));
    }

    // A long open is read off the UI thread: the open windows go on answering, its progress
    // window shows, and Cancel there opens nothing and says nothing.
    void longOpenShowsProgressAndCanBeCancelled_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("waited for") << false;
        QTest::newRow("cancelled") << true;
    }
    void longOpenShowsProgressAndCanBeCancelled()
    {
        QFETCH(bool, cancel);
        const QString file = path("long.quillfern");
        if (!QFileInfo::exists(file)) {
            QByteArray tasks;
            for (int i = 1; i <= 300000; ++i)
                tasks += (i > 1 ? "," : "") + QByteArray(R"({"duration":1,"start":)") + QByteArray::number(i)
                    + R"(,"id":)" + QByteArray::number(i) + R"(,"name":"T"})";
            writeFile(file, R"({"tasks":[)" + tasks + R"(],"dependencies":[],"name":"Long"})");
        }
        ProjectController *other = openWindow(threeTasks());
        const auto delay = ProjectLoader::setDefaultProgressDelay(std::chrono::milliseconds(0));
        const auto restore = qScopeGuard([delay] { ProjectLoader::setDefaultProgressDelay(delay); });
        int ticks = 0;
        bool progressSeen = false;
        QTimer answering;
        answering.setInterval(5);
        connect(&answering, &QTimer::timeout, this, [&] {
            ++ticks;
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                auto *progress = qobject_cast<QProgressDialog *>(widget);
                if (!progress || !progress->isVisible() || progressSeen)
                    continue;
                progressSeen = true;
                QVERIFY(progress->labelText().contains(QStringLiteral("long.quillfern")));
                if (cancel)
                    QTest::mouseClick(progress->findChild<QPushButton *>(), Qt::LeftButton);
            }
        });
        answering.start();
        const bool opened = AppDelegate::openProject(file);
        answering.stop();
        QVERIFY(progressSeen);
        // Cancelled, the read ends at the first sight of its progress.
        QVERIFY2(ticks > (cancel ? 0 : 3), "the UI thread did not answer during the read");
        QCOMPARE(opened, !cancel);
        QCOMPARE(ProjectController::openControllers().size(), cancel ? 1 : 2);
        QCOMPARE(m_presenter.alerts().size(), 0);
        QVERIFY(other->projectWindow()->isVisible());
        if (!cancel)
            QCOMPARE(ProjectController::openControllers().constLast()->project()->tasks().size(), 300000);
    }
};

QTEST_MAIN(TestProjectController)
#include "tst_projectcontroller.moc"
