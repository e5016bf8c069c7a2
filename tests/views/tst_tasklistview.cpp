#include "Beep.h"
#include "Presenter.h"
#include "TaskListModel.h"
#include "TaskListView.h"
#include "ViewTestSupport.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QLabel>
#include <QListView>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

using namespace ViewTest;

namespace {

// "hub" in the middle: "a" and "b" come before it, "c" after; "twin" is there twice.
const QList<TaskSeed> planTasks = {
    { "a", 0, 60 },
    { "b", 60, 60 },
    { "hub", 120, 60 },
    { "c", 180, 60 },
    { "twin", 0, 60 },
    { "twin", 240, 60 },
    { "loose", 0, 30 },
};
const QList<IntPair> planDependencies = { { 1, 3 }, { 2, 3 }, { 3, 4 } };

// A shown list of one task's neighbours.
struct ListWindow {
    Plan plan;
    std::unique_ptr<TaskListView> view;

    ListWindow(const char *task, bool isSucc, const QList<TaskSeed> &tasks = planTasks,
        const QList<IntPair> &dependencies = planDependencies)
        : plan(tasks, dependencies)
    {
        view = std::make_unique<TaskListView>(plan.project.get(), plan.task(task), isSucc);
        view->resize(200, 250);
        view->show();
    }

    [[nodiscard]] QStringList rows() const
    {
        QStringList rows;
        for (int row = 0; row < view->listModel()->rowCount(); ++row)
            rows.append(view->listModel()->index(row).data().toString());
        return rows;
    }
    [[nodiscard]] QStringList neighbours() const
    {
        const TaskPtr &task = view->referenceTask();
        return namesOf(view->isSucc() ? task->successors() : task->predecessors());
    }
    [[nodiscard]] QPoint rowCentre(int row) const
    {
        return view->listView()->visualRect(view->listModel()->index(row)).center();
    }
    void clickRow(int row) const
    {
        QTest::mouseClick(view->listView()->viewport(), Qt::LeftButton, {}, rowCentre(row));
    }
    // Where the list's rows are, in the view's coordinates.
    [[nodiscard]] QPoint overList() const
    {
        return view->listView()->viewport()->mapTo(view.get(), view->listView()->viewport()->rect().center());
    }
};

} // namespace

class TestTaskListView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void modelIsAConsistentListModel()
    {
        Plan plan(planTasks, planDependencies);
        TaskListModel model(plan.task("hub"), false);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        plan.project->addDependency(plan.task("loose"), plan.task("hub"));
        plan.task("a")->setName(QStringLiteral("z"));
        plan.project->deleteDependency(plan.task("b"), plan.task("hub"));
        plan.stack.undo();
        QCOMPARE(model.rowCount(), 3);
    }

    void rowsAreSortedByName_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("capitals first") << strings({ "b", "A", "a" }) << strings({ "A", "a", "b" });
        QTest::newRow("code points, not the locale") << strings({ "ä", "z", "Z" }) << strings({ "Z", "z", "ä" });
        // Composed, e and its accent sort as é, after z; uncomposed they would come before f.
        QTest::newRow("canonical composition") << strings({ "f", "e\u0301", "z" }) << strings({ "f", "z", "e\u0301" });
        // UTF-16 would put the surrogate pair of U+1F600 before U+FFFD.
        QTest::newRow("beyond the basic plane")
            << strings({ "\U0001F600", "\uFFFD" }) << strings({ "\uFFFD", "\U0001F600" });
        QTest::newRow("prefix first") << strings({ "ab", "a", "" }) << strings({ "", "a", "ab" });
    }
    void rowsAreSortedByName()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, expected);
        for (const bool isSucc : { false, true }) {
            QList<TaskSeed> tasks { { "centre", 1000, 60 } };
            QList<QByteArray> utf8;
            for (const QString &name : std::as_const(names))
                utf8.append(name.toUtf8());
            QList<IntPair> dependencies;
            for (qsizetype i = 0; i < utf8.size(); ++i) {
                tasks.append({ utf8[i].constData(), isSucc ? 2000.0 : 0.0, 60 });
                dependencies.append(isSucc ? IntPair { 1, i + 2 } : IntPair { i + 2, 1 });
            }
            ListWindow window("centre", isSucc, tasks, dependencies);
            QCOMPARE(window.rows(), expected);
        }
    }

    void listFollowsTheModel()
    {
        ListWindow window("hub", false);
        QCOMPARE(window.view->findChild<QLabel *>()->text(), QStringLiteral("Predecessors"));
        QCOMPARE(window.rows(), strings({ "a", "b" }));
        window.plan.task("a")->setName(QStringLiteral("d"));
        QCOMPARE(window.rows(), strings({ "b", "d" }));
        window.plan.task("b")->setName(QStringLiteral("bee"));
        QCOMPARE(window.rows(), strings({ "bee", "d" }));
        window.plan.project->addDependency(window.plan.task("loose"), window.plan.task("hub"));
        QCOMPARE(window.rows(), strings({ "bee", "d", "loose" }));
        window.plan.stack.undo();
        QCOMPARE(window.rows(), strings({ "bee", "d" }));

        ListWindow successors("hub", true);
        QCOMPARE(successors.view->findChild<QLabel *>()->text(), QStringLiteral("Successors"));
        QCOMPARE(successors.rows(), strings({ "c" }));
    }

    // Anywhere on the view, over the title as over the rows, the drop reaches the list.
    void dropMakesADependency_data()
    {
        QTest::addColumn<bool>("isSucc");
        QTest::addColumn<QString>("dropped");
        QTest::addColumn<bool>("overTitle");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("predecessor") << false << "loose" << false << strings({ "a", "b", "loose" });
        QTest::newRow("successor") << true << "loose" << false << strings({ "c", "loose" });
        QTest::newRow("on the title") << true << "loose" << true << strings({ "c", "loose" });
        QTest::newRow("first of two names") << false << "twin" << false << strings({ "a", "b", "twin" });
    }
    void dropMakesADependency()
    {
        QFETCH(bool, isSucc);
        QFETCH(QString, dropped);
        QFETCH(bool, overTitle);
        QFETCH(QStringList, expected);
        corvane::RecordingPresenter presenter;
        corvane::ScopedPresenter installed(presenter);
        ListWindow window("hub", isSucc);
        QVERIFY(QTest::qWaitForWindowExposed(window.view.get()));
        const int beeps = beepCount();
        const QPoint at = overTitle ? window.view->findChild<QLabel *>()->geometry().center() : window.overList();
        const std::unique_ptr<QMimeData> data(plainText(dropped));
        QVERIFY(dropAt(window.view.get(), at, data.get()));
        QTRY_COMPARE(window.neighbours().size(), expected.size());
        QCOMPARE(window.rows(), expected);
        QCOMPARE(window.plan.stack.undoText(), QStringLiteral("Add Dependency"));
        QCOMPARE(window.plan.stack.count(), 1);
        const TaskPtr other = window.plan.task(dropped.toUtf8().constData());
        const TaskPtr &reference = window.view->referenceTask();
        const Edge expectedEdge = isSucc ? Edge { reference, other } : Edge { other, reference };
        QVERIFY(window.plan.project->edges().constLast() == expectedEdge);
        QVERIFY(presenter.alerts().isEmpty());
        QCOMPARE(beepCount(), beeps);
    }

    void refusedDependencyShowsAnAlert_data()
    {
        QTest::addColumn<QString>("task");
        QTest::addColumn<bool>("isSucc");
        QTest::addColumn<QString>("dropped");
        QTest::addColumn<QString>("reason");
        QTest::newRow("itself as predecessor") << "hub" << false << "hub"
                                               << "Task \"hub\" cannot depend on itself!";
        QTest::newRow("itself as successor") << "hub" << true << "hub"
                                             << "Task \"hub\" cannot depend on itself!";
        QTest::newRow("twice") << "hub" << false << "a"
                               << "Task \"hub\" already depends on task \"a\"!";
        QTest::newRow("closing a cycle")
            << "a" << false << "c"
            << "Task \"a\" and \"c\" already have the opposite dependency, maybe implicitly!";
    }
    void refusedDependencyShowsAnAlert()
    {
        QFETCH(QString, task);
        QFETCH(bool, isSucc);
        QFETCH(QString, dropped);
        QFETCH(QString, reason);
        corvane::RecordingPresenter presenter;
        corvane::ScopedPresenter installed(presenter);
        ListWindow window(task.toUtf8().constData(), isSucc);
        QVERIFY(QTest::qWaitForWindowExposed(window.view.get()));
        const QStringList before = window.rows();
        const QList<Edge> edges = window.plan.project->edges();
        const std::unique_ptr<QMimeData> data(plainText(dropped));
        QVERIFY(dropAt(window.view.get(), window.overList(), data.get()));
        QTRY_COMPARE(presenter.alerts().size(), 1);
        const corvane::Alert &alert = presenter.alerts().constFirst();
        QCOMPARE(alert.message, QStringLiteral("Illegal Dependency"));
        QCOMPARE(alert.informativeText, reason);
        QVERIFY(alert.style == corvane::AlertStyle::Warning);
        QCOMPARE(alert.parent, static_cast<QWidget *>(window.view.get()));
        QCOMPARE(window.plan.project->edges(), edges);
        QCOMPARE(window.rows(), before);
        QCOMPARE(window.plan.stack.count(), 0);
    }

    // Names match exactly: no trimming, no case folding.
    void unknownNameBeeps_data()
    {
        QTest::addColumn<QString>("dropped");
        QTest::newRow("no such task") << "nobody";
        QTest::newRow("other case") << "Loose";
        QTest::newRow("trailing blank") << "loose ";
        QTest::newRow("empty") << "";
    }
    void unknownNameBeeps()
    {
        QFETCH(QString, dropped);
        corvane::RecordingPresenter presenter;
        corvane::ScopedPresenter installed(presenter);
        ListWindow window("hub", true);
        QVERIFY(QTest::qWaitForWindowExposed(window.view.get()));
        const int beeps = beepCount();
        const std::unique_ptr<QMimeData> data(plainText(dropped));
        QVERIFY(dropAt(window.view.get(), window.overList(), data.get()));
        QTRY_COMPARE(beepCount(), beeps + 1);
        QCOMPARE(window.rows(), strings({ "c" }));
        QCOMPARE(window.plan.stack.count(), 0);
        QVERIFY(presenter.alerts().isEmpty());
    }

    void dragWithoutTextIsNotTaken_data()
    {
        QTest::addColumn<QString>("format");
        QTest::newRow("no data") << QString();
        QTest::newRow("html only") << "text/html";
        QTest::newRow("a private format") << "application/x-quillfern-task-row";
    }
    void dragWithoutTextIsNotTaken()
    {
        QFETCH(QString, format);
        ListWindow window("hub", false);
        QVERIFY(QTest::qWaitForWindowExposed(window.view.get()));
        const int beeps = beepCount();
        QMimeData data;
        if (!format.isEmpty())
            data.setData(format, "loose");
        QVERIFY(!dropAt(window.view.get(), window.overList(), &data));
        QVERIFY(!dropOn(window.view.get(), window.overList(), &data));
        QCoreApplication::processEvents();
        QCOMPARE(beepCount(), beeps);
        QCOMPARE(window.rows(), strings({ "a", "b" }));
    }

    // Delete on the list removes the selected entry's dependency, even where the window has a
    // Delete shortcut of its own; with nothing selected it does nothing. The row the keys land on
    // is the selected one, the first key taking the row the focus ring is on.
    void deleteKeyRemovesTheSelectedDependency_data()
    {
        QTest::addColumn<bool>("isSucc");
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QList<IntPair>>("dependencies");
        QTest::newRow("predecessor clicked")
            << false << QStringLiteral("click 1") << strings({ "a" }) << QList<IntPair> { { 1, 3 }, { 3, 4 } };
        QTest::newRow("successor clicked")
            << true << QStringLiteral("click 0") << QStringList {} << QList<IntPair> { { 1, 3 }, { 2, 3 } };
        QTest::newRow("nothing selected") << false << QString() << strings({ "a", "b" }) << planDependencies;
        QTest::newRow("Down") << false << QStringLiteral("down") << strings({ "b" })
                              << QList<IntPair> { { 2, 3 }, { 3, 4 } };
        QTest::newRow("Down twice") << false << QStringLiteral("down down") << strings({ "a" })
                                    << QList<IntPair> { { 1, 3 }, { 3, 4 } };
        QTest::newRow("End") << false << QStringLiteral("end") << strings({ "a" })
                             << QList<IntPair> { { 1, 3 }, { 3, 4 } };
        QTest::newRow("Down on a single successor")
            << true << QStringLiteral("down") << QStringList {} << QList<IntPair> { { 1, 3 }, { 2, 3 } };
        QTest::newRow("Down after a click")
            << false << QStringLiteral("click 0 down") << strings({ "a" }) << QList<IntPair> { { 1, 3 }, { 3, 4 } };
    }
    void deleteKeyRemovesTheSelectedDependency()
    {
        QFETCH(bool, isSucc);
        QFETCH(QString, choice);
        QFETCH(QStringList, after);
        QFETCH(QList<IntPair>, dependencies);
        ListWindow window("hub", isSucc);
        QAction windowDelete(QStringLiteral("Delete"));
        windowDelete.setShortcut(QKeySequence::Delete);
        window.view->addAction(&windowDelete);
        QSignalSpy windowDeletes(&windowDelete, &QAction::triggered);
        window.view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.view.get()));
        // As Tab brings the keyboard to the list.
        window.view->listView()->setFocus(Qt::TabFocusReason);
        const QStringList steps = choice.split(u' ', Qt::SkipEmptyParts);
        for (qsizetype i = 0; i < steps.size(); ++i) {
            if (steps.at(i) == QLatin1String("click"))
                window.clickRow(steps.at(++i).toInt());
            else
                QTest::keyClick(
                    window.view->listView(), steps.at(i) == QLatin1String("end") ? Qt::Key_End : Qt::Key_Down);
        }
        QCOMPARE(window.view->selectedTaskId().has_value(), !steps.isEmpty());
        // What is selected is what the ring is on.
        if (!steps.isEmpty())
            QVERIFY(window.view->listView()->selectionModel()->isSelected(window.view->listView()->currentIndex()));

        QTest::keyClick(window.view->listView(), Qt::Key_Delete);
        QCOMPARE(window.rows(), after);
        QCOMPARE(window.plan.project->dependencies(), dependencies);
        QCOMPARE(window.view->selectedTaskId(), std::nullopt);
        QCOMPARE(window.view->listView()->selectionModel()->selectedIndexes().size(), 0);
        QCOMPARE(window.plan.stack.count(), steps.isEmpty() ? 0 : 1);
        if (!steps.isEmpty())
            QCOMPARE(window.plan.stack.undoText(), QStringLiteral("Delete Dependency"));
        QCOMPARE(windowDeletes.count(), 0);
    }

    // A long name ends in an ellipsis inside the list's width; the list never scrolls sideways.
    void longNamesAreElided()
    {
        QList<TaskSeed> tasks = planTasks;
        const QByteArray longName = QByteArray("Rewire the whole east wing ").repeated(4);
        tasks.append({ longName.constData(), 0, 60 });
        ListWindow window("hub", false, tasks, { { 1, 3 }, { 8, 3 } });
        QVERIFY(QTest::qWaitForWindowExposed(window.view.get()));
        QListView *list = window.view->listView();
        QVERIFY(!list->horizontalScrollBar()->isVisible());
        QCOMPARE(list->horizontalScrollBar()->maximum(), 0);
        const QModelIndex row = window.view->listModel()->index(0);
        QCOMPARE(row.data().toString(), QString::fromLatin1(longName));
        // Drawn no wider than the list shows.
        QVERIFY(list->visualRect(row).right() <= list->viewport()->rect().right());
        QCOMPARE(list->textElideMode(), Qt::ElideRight);
    }

    // The list's selection is its own and survives changes to the other rows.
    void selectionSurvivesOtherChanges()
    {
        ListWindow window("hub", false);
        QVERIFY(QTest::qWaitForWindowExposed(window.view.get()));
        window.clickRow(1);
        const qint64 b = window.plan.task("b")->id();
        QCOMPARE(window.view->selectedTaskId(), std::optional(b));
        window.plan.project->addDependency(window.plan.task("loose"), window.plan.task("hub"));
        window.plan.task("a")->setName(QStringLiteral("z"));
        QCOMPARE(window.rows(), strings({ "b", "loose", "z" }));
        QCOMPARE(window.view->selectedTaskId(), std::optional(b));
        window.view->deleteSelectedDependency();
        QCOMPARE(window.rows(), strings({ "loose", "z" }));
        QCOMPARE(window.view->selectedTaskId(), std::nullopt);
    }

    // A task deleted while selected in the list leaves nothing to delete.
    void selectedTaskGoneDeletesNothing()
    {
        ListWindow window("hub", true);
        QVERIFY(QTest::qWaitForWindowExposed(window.view.get()));
        window.clickRow(0);
        window.plan.project->deleteTask(window.plan.task("c"));
        const int steps = window.plan.stack.count();
        window.view->deleteSelectedDependency();
        QCOMPARE(window.plan.stack.count(), steps);
        QCOMPARE(window.view->selectedTaskId(), std::nullopt);
    }
};

QTEST_MAIN(TestTaskListView)
#include "tst_tasklistview.moc"
