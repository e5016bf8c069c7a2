#include "Ids.h"
#include "Project.h"
#include "UndoStackAdapter.h"

#include <QTest>
#include <QUndoStack>

class TestUndoStack : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { Ids::resetForTesting(1, 1); }

    void stepsReachTheStackUnderTheirNames()
    {
        QUndoStack stack;
        UndoStackAdapter adapter(&stack);
        Project project;
        project.setUndoManager(&adapter);
        const TaskPtr a = Task::createNew(&project);
        const TaskPtr b = Task::createNew(&project);
        project.addTask(a);
        project.addTask(b);
        QCOMPARE(stack.count(), 2);
        QCOMPARE(stack.undoText(), QStringLiteral("Add Task"));
        // Pushing must not run the step a second time.
        QCOMPARE(project.tasks().size(), 2);

        project.changeDuration(a, 600.0);
        QCOMPARE(stack.undoText(), QStringLiteral("Change Task Duration"));
        stack.undo();
        QCOMPARE(a->duration(), 300.0);
        QCOMPARE(stack.redoText(), QStringLiteral("Change Task Duration"));
        stack.redo();
        QCOMPARE(a->duration(), 600.0);

        try {
            project.addDependency(a, a);
        } catch (const ConsistencyError &) { }
        QCOMPARE(stack.undoText(), QStringLiteral("Change Task Duration"));

        project.addDependency(a, b);
        QCOMPARE(stack.undoText(), QStringLiteral("Add Dependency"));
        stack.undo();
        QVERIFY(project.edges().isEmpty());
        stack.undo();
        stack.undo();
        stack.undo();
        QVERIFY(project.tasks().isEmpty());
        QCOMPARE(stack.redoText(), QStringLiteral("Add Task"));
        stack.redo();
        stack.redo();
        QCOMPARE(project.tasks().size(), 2);
    }

    void undoAfterSaveMarksDirty()
    {
        QUndoStack stack;
        UndoStackAdapter adapter(&stack);
        Project project;
        project.setUndoManager(&adapter);
        project.addTask(Task::createNew(&project));
        project.setDirty(false);
        stack.undo();
        QVERIFY(project.isDirty());
    }

    // The window's history may hold steps of a project that has gone; they must do nothing.
    void stepsOutliveTheirProject()
    {
        QUndoStack stack;
        UndoStackAdapter adapter(&stack);
        {
            Project project;
            project.setUndoManager(&adapter);
            project.addTask(Task::createNew(&project));
        }
        stack.undo();
        stack.redo();
        QCOMPARE(stack.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestUndoStack)
#include "tst_undostack.moc"
