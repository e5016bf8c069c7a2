#include "Ids.h"
#include "ModelTestSupport.h"
#include "TestUndoManager.h"

#include <QSignalSpy>
#include <QTest>

using Dependencies = QList<std::pair<int, int>>;

class TestProject : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { Ids::resetForTesting(1, 1); }

    void newProject()
    {
        Project project;
        QCOMPARE(project.id(), 1);
        QVERIFY(project.isDirty());
        QCOMPARE(project.start(), 0.0);
        QCOMPARE(project.end(), 0.0);
        QCOMPARE(project.duration(), 0.0);
        QCOMPARE(project.description(),
            QStringLiteral("[ID: 1, name: , start: 0.0, end: 0.0, duration: 0.0, tasks: [], edges: []]"));
        Project second;
        QCOMPARE(second.id(), 2);
    }

    void renamingMarksDirty()
    {
        auto project = makeProject({});
        QVERIFY(!project->isDirty());
        QSignalSpy spy(project.get(), &Project::nameAboutToChange);
        project->setName(project->name());
        QCOMPARE(spy.count(), 1);
        QVERIFY(project->isDirty());
    }

    void addTaskPlacesAtTheEnd()
    {
        Project project;
        TestUndoManager undo;
        project.setUndoManager(&undo);
        const TaskPtr first = Task::createNew(&project);
        project.addTask(first);
        QCOMPARE(first->start(), 0.0);
        QCOMPARE(first->end(), 300.0);
        const TaskPtr second = Task::createNew(&project);
        project.addTask(second);
        QCOMPARE(second->start(), 300.0);
        QCOMPARE(project.start(), 0.0);
        QCOMPARE(project.end(), 600.0);
        QCOMPARE(project.duration(), 600.0);
        QCOMPARE(undo.count(), 2);
        QCOMPARE(undo.undoName(), QStringLiteral("Add Task"));
        QCOMPARE(project.description(),
            QStringLiteral("[ID: 1, name: , start: 0.0, end: 600.0, duration: 600.0, tasks: [(ID: 1, name: , "
                           "start: 0.0, duration: 300.0, end: 300.0), (ID: 2, name: , start: 300.0, duration: "
                           "300.0, end: 600.0)], edges: []]"));
    }

    void renamingATaskMarksDirty()
    {
        auto project = makeProject({ { QStringLiteral("A"), 0, 1, {} } });
        QSignalSpy spy(project.get(), &Project::dirtyChanged);
        project->tasks()[0]->setName(QStringLiteral("B"));
        QVERIFY(project->isDirty());
        QCOMPARE(spy.count(), 1);
        project->tasks()[0]->setName(QStringLiteral("C"));
        QCOMPARE(spy.count(), 1);
    }

    // Only published properties notify: moving the project's end or changing its dependencies
    // announces nothing on the project itself.
    void unpublishedStateNotifiesNobody()
    {
        auto project = makeProject({ { QStringLiteral("A"), 0, 10, {} }, { QStringLiteral("B"), 20, 10, {} } });
        QSignalSpy tasks(project.get(), &Project::tasksAboutToChange);
        QSignalSpy name(project.get(), &Project::nameAboutToChange);
        project->insertEdge(project->tasks()[0], project->tasks()[1]);
        project->deleteDependency(project->tasks()[0], project->tasks()[1]);
        QCOMPARE(tasks.count(), 0);
        QCOMPARE(name.count(), 0);
    }

    void taskWithId()
    {
        auto project = makeProject({ { QStringLiteral("A"), 0, 1, {} }, { QStringLiteral("B"), 1, 1, {} } });
        QCOMPARE(project->taskWithId(2), project->tasks()[1]);
        QCOMPARE(project->taskWithId(3), TaskPtr());
        QCOMPARE(project->taskWithId(std::nullopt), TaskPtr());
    }

    void duplicate()
    {
        Project project;
        const TaskPtr paint = Task::createNew(&project);
        project.addTask(paint);
        paint->setName(QStringLiteral("Paint"));
        project.changeDuration(paint, 600.0);
        project.changeExclusionGroup(paint, QStringLiteral("A"));
        const TaskPtr copy = project.duplicate(paint->id());
        QVERIFY(copy);
        QCOMPARE(copy->name(), QStringLiteral("Paint"));
        QCOMPARE(copy->duration(), 600.0);
        QCOMPARE(copy->exclusionGroup(), ExclusionGroup(QStringLiteral("A")));
        QCOMPARE(copy->id(), 2);
        QCOMPARE(copy->start(), 600.0);
        QCOMPARE(paint->start(), 0.0);
        QCOMPARE(project.tasks().size(), 2);
        QCOMPARE(project.duplicate(99), TaskPtr());
        QCOMPARE(project.duplicate(std::nullopt), TaskPtr());
    }

    void duplicateWithoutIdsChangesNothing()
    {
        auto project = makeProject({ { QStringLiteral("A"), 0, 1, {} } });
        Ids::resetForTesting(std::numeric_limits<qint64>::max(), 10);
        (void)Ids::takeTaskId();
        QVERIFY_THROWS_EXCEPTION(Ids::IdsExhausted, project->duplicate(1));
        QCOMPARE(project->tasks().size(), 1);
        QVERIFY(!project->isDirty());
    }

    void deleteTaskRemovesItsEdges()
    {
        auto project = makeProject({ { QStringLiteral("A"), 0, 10, {} }, { QStringLiteral("B"), 10, 10, {} },
                                       { QStringLiteral("C"), 25, 10, {} } },
            { { 0, 1 }, { 1, 2 }, { 0, 2 } });
        TestUndoManager undo;
        project->setUndoManager(&undo);
        const TaskPtr a = project->tasks()[0], b = project->tasks()[1], c = project->tasks()[2];
        project->deleteTask(b);
        QCOMPARE(project->dependencies(), QList<IntPair>({ { 1, 3 } }));
        QCOMPARE(a->successors(), TaskSet({ c }));
        QCOMPARE(c->predecessors(), TaskSet({ a }));
        QCOMPARE(c->start(), 25.0);
        QVERIFY(project->isDirty());

        project->deleteTask(b);
        QCOMPARE(undo.count(), 2);
        QCOMPARE(undo.undoName(), QStringLiteral("Delete Task"));

        project->deleteTask(a);
        project->deleteTask(c);
        QCOMPARE(project->start(), 0.0);
        QCOMPARE(project->end(), 0.0);
        QCOMPARE(project->duration(), 0.0);
    }

    void refusedDependencies_data()
    {
        QTest::addColumn<Dependencies>("existing");
        QTest::addColumn<int>("predecessor");
        QTest::addColumn<int>("successor");
        QTest::addColumn<QString>("message");
        QTest::newRow("itself") << Dependencies() << 0 << 0 << QStringLiteral("Task \"A\" cannot depend on itself!");
        QTest::newRow("twice") << Dependencies({ { 0, 1 } }) << 0 << 1
                               << QStringLiteral("Task \"B\" already depends on task \"A\"!");
        QTest::newRow("opposite") << Dependencies({ { 0, 1 } }) << 1 << 0
                                  << QStringLiteral("Task \"A\" and \"B\" already have the opposite dependency, maybe "
                                                    "implicitly!");
        QTest::newRow("opposite through a chain")
            << Dependencies({ { 0, 2 }, { 2, 1 } }) << 1 << 0
            << QStringLiteral("Task \"A\" and \"B\" already have the opposite dependency, maybe implicitly!");
    }

    void refusedDependencies()
    {
        QFETCH(Dependencies, existing);
        QFETCH(int, predecessor);
        QFETCH(int, successor);
        QFETCH(QString, message);
        auto project = makeProject({ { QStringLiteral("A"), 0, 10, {} }, { QStringLiteral("B"), 20, 10, {} },
                                       { QStringLiteral("X"), 10, 10, {} } },
            existing);
        TestUndoManager undo;
        project->setUndoManager(&undo);
        const QString before = project->description();
        try {
            project->addDependency(project->tasks()[predecessor], project->tasks()[successor]);
            QFAIL("the dependency was accepted");
        } catch (const ConsistencyError &error) {
            QCOMPARE(error.msg, message);
            QCOMPARE(QString::fromStdString(error.what()), message);
        }
        QCOMPARE(project->description(), before);
        QCOMPARE(undo.count(), 0);
        QVERIFY(!project->isDirty());
    }

    void impliedDependencyIsStoredAsExtraEdge()
    {
        auto project = makeProject({ { QStringLiteral("A"), 0, 10, {} }, { QStringLiteral("B"), 10, 10, {} },
                                       { QStringLiteral("C"), 20, 10, {} } },
            { { 0, 1 }, { 1, 2 } });
        TestUndoManager undo;
        project->setUndoManager(&undo);
        project->addDependency(project->tasks()[0], project->tasks()[2]);
        QCOMPARE(project->dependencies(), QList<IntPair>({ { 1, 2 }, { 2, 3 }, { 1, 3 } }));
        QCOMPARE(project->tasks()[0]->successors(), TaskSet({ project->tasks()[1], project->tasks()[2] }));
        QCOMPARE(undo.undoName(), QStringLiteral("Add Dependency"));
        QVERIFY(project->isDirty());
    }

    void deleteDependency()
    {
        auto project = makeProject(
            { { QStringLiteral("A"), 0, 10, {} }, { QStringLiteral("B"), 10, 10, {} } }, { { 0, 1 }, { 0, 1 } });
        TestUndoManager undo;
        project->setUndoManager(&undo);
        const TaskPtr a = project->tasks()[0], b = project->tasks()[1];
        QCOMPARE(a->successors(), TaskSet({ b }));
        project->deleteDependency(a, b);
        QVERIFY(project->edges().isEmpty());
        QVERIFY(a->successors().isEmpty());
        QVERIFY(b->predecessors().isEmpty());
        project->deleteDependency(b, a);
        QCOMPARE(undo.count(), 2);
        QCOMPARE(undo.undoName(), QStringLiteral("Delete Dependency"));
    }

    void rebuildAnnouncesEveryTask()
    {
        auto project = makeProject({ { QStringLiteral("A"), 0, 10, {} }, { QStringLiteral("B"), 10, 10, {} } });
        QSignalSpy predecessors(project->tasks()[0].get(), &Task::predecessorsAboutToChange);
        QSignalSpy successors(project->tasks()[1].get(), &Task::successorsAboutToChange);
        project->rebuildAdjacency();
        QCOMPARE(predecessors.count(), 1);
        QCOMPARE(successors.count(), 1);
    }

    void reorderMarksDirtyWithoutUndo()
    {
        auto project = makeProject({ { QStringLiteral("A"), 0, 10, {} }, { QStringLiteral("B"), 10, 10, {} } });
        TestUndoManager undo;
        project->setUndoManager(&undo);
        QSignalSpy spy(project.get(), &Project::tasksAboutToChange);
        project->reorderTask(1, 0);
        QCOMPARE(project->tasks()[0]->name(), QStringLiteral("B"));
        QCOMPARE(spy.count(), 1);
        QVERIFY(project->isDirty());
        QCOMPARE(undo.count(), 0);
    }

    void editsWithoutUndoManagerRecordNothing()
    {
        Project project;
        const TaskPtr a = Task::createNew(&project);
        const TaskPtr b = Task::createNew(&project);
        project.addTask(a);
        project.addTask(b);
        project.addDependency(a, b);
        project.changeDuration(a, 900.0);
        project.moveTask(a, 10.0);
        project.changeExclusionGroup(a, QStringLiteral("Q"));
        project.deleteDependency(a, b);
        project.deleteTask(b);
        QCOMPARE(project.tasks().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestProject)
#include "tst_project.moc"
