#include "Ids.h"
#include "ModelTestSupport.h"
#include "TestUndoManager.h"

#include <QSignalSpy>
#include <QTest>

#include <bit>

class TestUndo : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { Ids::resetForTesting(1, 1); }

    void addTaskComesBackAtTheEnd()
    {
        auto project = makeProject({ { QStringLiteral("A"), 0, 10, {} } });
        TestUndoManager undo;
        project->setUndoManager(&undo);
        const TaskPtr added = Task::create(5, project.get(), QStringLiteral("New"), 300.0, 0.0);
        project->addTask(added);
        project->reorderTask(1, 0);
        undo.undo();
        QCOMPARE(schedule(*project), QStringLiteral("A 0 10"));
        QCOMPARE(undo.redoName(), QStringLiteral("Add Task"));
        undo.redo();
        QCOMPARE(schedule(*project), QStringLiteral("A 0 10, New 10 310"));
        QCOMPARE(project->tasks().last()->id(), 5);
        QCOMPARE(project->tasks().last()->project(), project.get());
        QCOMPARE(project->end(), 310.0);
    }

    void deletedTaskComesBackWithItsDependencies()
    {
        auto project
            = makeProject({ { QStringLiteral("A"), 0, 10, {} }, { QStringLiteral("B"), 10, 10, QStringLiteral("G") },
                              { QStringLiteral("C"), 20, 10, {} } },
                { { 0, 1 }, { 1, 2 } });
        TestUndoManager undo;
        project->setUndoManager(&undo);
        const TaskPtr a = project->tasks()[0], c = project->tasks()[2];
        project->deleteTask(project->tasks()[1]);
        undo.undo();
        QCOMPARE(schedule(*project), QStringLiteral("A 0 10, C 20 30, B 10 20"));
        const TaskPtr b = project->tasks()[2];
        QCOMPARE(b->exclusionGroup(), ExclusionGroup(QStringLiteral("G")));
        QCOMPARE(project->dependencies(), QList<IntPair>({ { 1, 2 }, { 2, 3 } }));
        QCOMPARE(b->predecessors(), TaskSet({ a }));
        QCOMPARE(b->successors(), TaskSet({ c }));
        QCOMPARE(a->successors(), TaskSet({ b }));
        QCOMPARE(project->tasks()[0], a);
        undo.redo();
        QCOMPARE(schedule(*project), QStringLiteral("A 0 10, C 20 30"));
        QVERIFY(a->successors().isEmpty());
    }

    void moveUndoRestoresPushedTasks()
    {
        auto project
            = makeProject({ { QStringLiteral("A"), 0, 10, {} }, { QStringLiteral("B"), 10, 10, QStringLiteral("X") },
                              { QStringLiteral("C"), 22, 10, QStringLiteral("X") } },
                { { 0, 1 } });
        TestUndoManager undo;
        project->setUndoManager(&undo);
        const TaskList before = project->tasks();
        project->moveTask(project->tasks()[0], 10.0);
        QCOMPARE(schedule(*project), QStringLiteral("A 10 20, B 20 30, C 30 40"));
        QSignalSpy unchanged(project->tasks()[0].get(), &Task::nameAboutToChange);
        undo.undo();
        QCOMPARE(schedule(*project), QStringLiteral("A 0 10, B 10 20, C 22 32"));
        QCOMPARE(project->tasks(), before);
        QCOMPARE(unchanged.count(), 0);
        QCOMPARE(project->end(), 32.0);
    }

    // A revert replaces the plan under the history. Undoing a duration change then runs the
    // change again on the reverted plan, and a snapshot step brings back the plan it was taken
    // of, whole, whatever stands now.
    void undoAfterARevertWorksOnTheRevertedPlan()
    {
        auto project
            = makeProject({ { QStringLiteral("A"), 0, 10, {} }, { QStringLiteral("B"), 10, 10, {} } }, { { 0, 1 } });
        TestUndoManager undo;
        project->setUndoManager(&undo);
        const ProjectMemento saved = project->takeSnapshot();
        project->moveTask(project->tasks()[0], 30.0);
        project->deleteDependency(project->tasks()[0], project->tasks()[1]);
        project->changeDuration(project->tasks()[1], 100.0);
        project->applySnapshot(saved);
        QCOMPARE(schedule(*project), QStringLiteral("A 0 10, B 10 20"));
        undo.undo();
        QCOMPARE(schedule(*project), QStringLiteral("A 0 10, B 10 20"));
        undo.redo();
        QCOMPARE(schedule(*project), QStringLiteral("A 0 10, B 10 20"));
        undo.undo();
        undo.undo();
        QCOMPARE(schedule(*project), QStringLiteral("A 30 40, B 40 50"));
        QCOMPARE(project->dependencies(), QList<IntPair>({ { 1, 2 } }));
        undo.undo();
        QCOMPARE(schedule(*project), QStringLiteral("A 0 10, B 10 20"));
        undo.redo();
        QCOMPARE(schedule(*project), QStringLiteral("A 30 40, B 40 50"));
    }

    // The start date is one step of its own among task edits, and a revert brings back the saved one.
    void originChangeIsOneStep()
    {
        auto project
            = makeProject({ { QStringLiteral("A"), 0, 10, {} }, { QStringLiteral("B"), 10, 10, {} } }, { { 0, 1 } });
        TestUndoManager undo;
        project->setUndoManager(&undo);
        const ProjectMemento saved = project->takeSnapshot();
        project->setDirty(false);
        QSignalSpy changed(project.get(), &Project::originChanged);
        const QDateTime monday(QDate(2026, 12, 14), QTime(8, 0), Qt::LocalTime);
        project->changeOrigin(monday);
        QCOMPARE(undo.undoName(), QStringLiteral("Change Project Start Date"));
        QVERIFY(project->isDirty());
        project->moveTask(project->tasks()[0], 30.0);
        project->changeOrigin(monday);
        project->changeOrigin(QDateTime(QDate(2026, 12, 14), QTime(8, 0, 0, 5), Qt::LocalTime));
        project->changeOrigin(QDateTime(QDate(2026, 12, 14), QTime(8, 0), Qt::UTC));
        QCOMPARE(undo.count(), 2);
        QCOMPARE(changed.count(), 1);
        undo.undo();
        QCOMPARE(schedule(*project), QStringLiteral("A 0 10, B 10 20"));
        QCOMPARE(project->origin(), monday);
        undo.undo();
        QCOMPARE(project->origin(), std::nullopt);
        undo.redo();
        QCOMPARE(project->origin(), monday);
        QCOMPARE(project->dateTimeAt(36.0 * 3600.0), QDateTime(QDate(2026, 12, 15), QTime(20, 0), Qt::LocalTime));
        QCOMPARE(project->dateTimeAt(1e300), std::nullopt);
        project->applySnapshot(saved);
        QCOMPARE(project->origin(), std::nullopt);
        QCOMPARE(changed.count(), 4);
    }

    void durationUndoKeepsPushedSuccessors()
    {
        auto project
            = makeProject({ { QStringLiteral("A"), 0, 180, {} }, { QStringLiteral("B"), 180, 60, {} } }, { { 0, 1 } });
        TestUndoManager undo;
        project->setUndoManager(&undo);
        const TaskPtr a = project->tasks()[0];
        project->changeDuration(a, 300.0);
        QCOMPARE(undo.undoName(), QStringLiteral("Change Task Duration"));
        QCOMPARE(schedule(*project), QStringLiteral("A 0 300, B 300 360"));
        undo.undo();
        QCOMPARE(schedule(*project), QStringLiteral("A 0 180, B 300 360"));
        QCOMPARE(undo.redoName(), QStringLiteral("Change Task Duration"));
        QCOMPARE(undo.count(), 0);
        undo.redo();
        QCOMPARE(a->duration(), 300.0);
        QCOMPARE(undo.count(), 1);
    }

    void undoEverySnapshotStep_data()
    {
        QTest::addColumn<int>("operation");
        QTest::addColumn<QString>("actionName");
        QTest::newRow("exclusion group") << 0 << QStringLiteral("Change Exclusion Group");
        QTest::newRow("add dependency") << 1 << QStringLiteral("Add Dependency");
        QTest::newRow("delete dependency") << 2 << QStringLiteral("Delete Dependency");
        QTest::newRow("duplicate") << 3 << QStringLiteral("Add Task");
    }

    void undoEverySnapshotStep()
    {
        QFETCH(int, operation);
        QFETCH(QString, actionName);
        auto project
            = makeProject({ { QStringLiteral("A"), 0, 10, {} }, { QStringLiteral("B"), 5, 10, QStringLiteral("X") },
                              { QStringLiteral("C"), 40, 10, {} } },
                { { 1, 2 } });
        TestUndoManager undo;
        project->setUndoManager(&undo);
        const QString before = schedule(*project);
        const QList<IntPair> dependencies = project->dependencies();
        const TaskPtr a = project->tasks()[0], b = project->tasks()[1], c = project->tasks()[2];
        switch (operation) {
        case 0:
            project->changeExclusionGroup(a, QStringLiteral("X"));
            break;
        case 1:
            project->addDependency(c, a);
            break;
        case 2:
            project->deleteDependency(b, c);
            break;
        case 3:
            project->duplicate(b->id());
            break;
        }
        const QString after = schedule(*project);
        const QList<IntPair> afterDependencies = project->dependencies();
        QVERIFY(after != before || afterDependencies != dependencies);
        QCOMPARE(undo.undoName(), actionName);
        project->setDirty(false);
        undo.undo();
        QVERIFY(project->isDirty());
        QCOMPARE(schedule(*project), before);
        QCOMPARE(project->dependencies(), dependencies);
        undo.redo();
        QCOMPARE(schedule(*project), after);
        QCOMPARE(project->dependencies(), afterDependencies);
    }

    void snapshotsAreIndependentCopies()
    {
        auto project = makeProject({ { QStringLiteral("A"), 0, 10, QStringLiteral("X") } });
        const ProjectMemento memento = project->takeSnapshot();
        project->tasks()[0]->setName(QStringLiteral("Renamed"));
        project->setName(QStringLiteral("Other"));
        QCOMPARE(memento.tasks[0]->name(), QStringLiteral("A"));
        QVERIFY(memento.tasks[0] != project->tasks()[0]);
        QCOMPARE(memento.tasks[0]->exclusionGroup(), ExclusionGroup(QStringLiteral("X")));
        QCOMPARE(memento.name, QStringLiteral("Test"));
        project->applySnapshot(memento);
        QCOMPARE(project->name(), QStringLiteral("Test"));
        QCOMPARE(project->tasks()[0]->name(), QStringLiteral("A"));
    }

    // A snapshot keeps every start to the last bit, where end - duration would not give it back;
    // otherwise undoing a drag could leave a successor starting a hair before its predecessor ends.
    void snapshotsKeepStartsExactly_data()
    {
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("duration");
        QTest::newRow("drag position") << 750.62761506276149 << 300.0;
        QTest::newRow("long task") << 750.62761506276149 << 1234.5678;
        QTest::newRow("negative zero") << -0.0 << 5.0;
    }
    void snapshotsKeepStartsExactly()
    {
        QFETCH(double, start);
        QFETCH(double, duration);
        auto project = makeProject({ { QStringLiteral("A"), 0, 10, {} } });
        const TaskPtr task = project->tasks()[0];
        task->setDurationOnly(duration);
        task->setStart(start);
        TestUndoManager undo;
        project->setUndoManager(&undo);
        project->moveTask(task, 100.0);
        undo.undo();
        // Bit for bit: QCOMPARE on doubles forgives the last bits, and the sign of zero.
        QCOMPARE(std::bit_cast<quint64>(task->start()), std::bit_cast<quint64>(start));
        QCOMPARE(std::bit_cast<quint64>(task->end()), std::bit_cast<quint64>(start + duration));
    }

    // A revert applies a snapshot of a freshly read project: its tasks join this one.
    void applyingAnotherProjectsSnapshot()
    {
        auto project
            = makeProject({ { QStringLiteral("A"), 0, 10, {} }, { QStringLiteral("B"), 10, 10, {} } }, { { 0, 1 } });
        Ids::resetForTesting(1, 1);
        auto saved = makeProject({ { QStringLiteral("A2"), 5, 10, {} } });
        const TaskPtr a = project->tasks()[0];
        project->applySnapshot(saved->takeSnapshot());
        QCOMPARE(schedule(*project), QStringLiteral("A2 5 15"));
        QCOMPARE(project->tasks()[0], a);
        QVERIFY(project->edges().isEmpty());
        QVERIFY(a->successors().isEmpty());
        QCOMPARE(project->start(), 5.0);
    }
};

QTEST_GUILESS_MAIN(TestUndo)
#include "tst_undo.moc"
