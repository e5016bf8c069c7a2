#include "Ids.h"
#include "ModelTestSupport.h"
#include "TestUndoManager.h"

#include <QRegularExpression>
#include <QTest>

#include <algorithm>

using TaskRows = QList<std::tuple<QString, double, double, QString>>;
using Dependencies = QList<std::pair<int, int>>;

class TestScheduling : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { Ids::resetForTesting(1, 1); }

    // Rows: the tasks (name, start, duration, group), the dependencies by index, the task to move
    // and by how much, and the schedule afterwards.
    void moveTask_data()
    {
        QTest::addColumn<TaskRows>("tasks");
        QTest::addColumn<Dependencies>("dependencies");
        QTest::addColumn<int>("moved");
        QTest::addColumn<double>("delta");
        QTest::addColumn<QString>("expected");
        const QString a = QStringLiteral("A"), b = QStringLiteral("B"), c = QStringLiteral("C"),
                      x = QStringLiteral("X");
        QTest::newRow("later pushes the successor")
            << TaskRows { { a, 0, 10, {} }, { b, 10, 10, {} } } << Dependencies { { 0, 1 } } << 0 << 5.0
            << QStringLiteral("A 5 15, B 15 25");
        QTest::newRow("earlier leaves the gap")
            << TaskRows { { a, 0, 10, {} }, { b, 10, 10, {} } } << Dependencies { { 0, 1 } } << 0 << -5.0
            << QStringLiteral("A -5 5, B 10 20");
        QTest::newRow("later without violation")
            << TaskRows { { a, 0, 10, {} }, { b, 30, 10, {} } } << Dependencies { { 0, 1 } } << 0 << 5.0
            << QStringLiteral("A 5 15, B 30 40");
        QTest::newRow("earlier pulls the chain")
            << TaskRows { { a, 0, 10, {} }, { b, 10, 10, {} }, { c, 20, 10, {} } }
            << Dependencies { { 0, 1 }, { 1, 2 } } << 2 << -5.0 << QStringLiteral("A -5 5, B 5 15, C 15 25");
        QTest::newRow("later pushes the group member it now overlaps") << TaskRows { { a, 0, 10, x },
            { b, 12, 10, x } } << Dependencies {} << 0 << 5.0 << QStringLiteral("A 5 15, B 15 25");
        QTest::newRow("earlier puts the overlapped member before it") << TaskRows { { a, 0, 10, x },
            { b, 12, 10, x } } << Dependencies {} << 1 << -5.0 << QStringLiteral("A -3 7, B 7 17");
        QTest::newRow("touching members stay") << TaskRows { { a, 0, 10, x }, { b, 15, 10, x } } << Dependencies {} << 0
                                               << 5.0 << QStringLiteral("A 5 15, B 15 25");
        QTest::newRow("other groups are not looked at")
            << TaskRows { { a, 0, 10, x }, { b, 12, 10, QStringLiteral("Y") } } << Dependencies {} << 0 << 5.0
            << QStringLiteral("A 5 15, B 12 22");
        QTest::newRow("a pushed member pushes its successors")
            << TaskRows { { a, 0, 10, x }, { b, 10, 10, x }, { c, 20, 10, {} } } << Dependencies { { 1, 2 } } << 0
            << 5.0 << QStringLiteral("A 5 15, B 15 25, C 25 35");
        QTest::newRow("zero records but moves nothing")
            << TaskRows { { a, 0, 10, x }, { b, 5, 10, x } } << Dependencies {} << 0 << 0.0
            << QStringLiteral("A 0 10, B 5 15");
    }

    void moveTask()
    {
        QFETCH(TaskRows, tasks);
        QFETCH(Dependencies, dependencies);
        QFETCH(int, moved);
        QFETCH(double, delta);
        QFETCH(QString, expected);
        auto project = makeProject(tasks, dependencies);
        TestUndoManager undo;
        project->setUndoManager(&undo);
        const QString before = schedule(*project);
        project->moveTask(project->tasks()[moved], delta);
        QCOMPARE(schedule(*project), expected);
        QCOMPARE(undo.undoName(), QStringLiteral("Move Task"));
        QVERIFY(project->isDirty());
        undo.undo();
        QCOMPARE(schedule(*project), before);
        undo.redo();
        QCOMPARE(schedule(*project), expected);
    }

    void projectSpanFollowsMoves()
    {
        auto project
            = makeProject({ { QStringLiteral("A"), 0, 10, {} }, { QStringLiteral("B"), 10, 10, {} } }, { { 0, 1 } });
        project->moveTask(project->tasks()[0], 5.0);
        QCOMPARE(project->start(), 5.0);
        QCOMPARE(project->end(), 25.0);
        QCOMPARE(project->duration(), 20.0);
        project->moveTask(project->tasks()[0], -20.0);
        QCOMPARE(project->start(), -15.0);
        QCOMPARE(project->duration(), 40.0);
    }

    void changeDuration_data()
    {
        QTest::addColumn<double>("duration");
        QTest::addColumn<QString>("expected");
        QTest::newRow("longer pushes") << 15.0 << QStringLiteral("A 0 15, B 15 25, C 25 35");
        QTest::newRow("shorter moves nothing else") << 5.0 << QStringLiteral("A 0 5, B 10 20, C 20 30");
        QTest::newRow("equal moves nothing") << 10.0 << QStringLiteral("A 0 10, B 10 20, C 20 30");
    }

    void changeDuration()
    {
        QFETCH(double, duration);
        QFETCH(QString, expected);
        auto project = makeProject({ { QStringLiteral("A"), 0, 10, {} }, { QStringLiteral("B"), 10, 10, {} },
                                       { QStringLiteral("C"), 20, 10, {} } },
            { { 0, 1 }, { 1, 2 } });
        project->changeDuration(project->tasks()[0], duration);
        QCOMPARE(schedule(*project), expected);
        QVERIFY(project->isDirty());
    }

    void changeExclusionGroup()
    {
        auto project
            = makeProject({ { QStringLiteral("T"), 0, 10, {} }, { QStringLiteral("U"), 5, 10, QStringLiteral("X") } });
        const TaskPtr t = project->tasks()[0];
        QVERIFY(!project->resolveExclusionConflicts(*t, false));
        project->changeExclusionGroup(t, QStringLiteral("X"));
        QCOMPARE(schedule(*project), QStringLiteral("T 0 10, U 10 20"));
        QCOMPARE(project->end(), 20.0);
        QVERIFY(!project->resolveExclusionConflicts(*t, false));

        project->changeExclusionGroup(t, std::nullopt);
        QCOMPARE(schedule(*project), QStringLiteral("T 0 10, U 10 20"));
    }

    void resolveReportsWhetherSomethingMoved()
    {
        auto project = makeProject({ { QStringLiteral("T"), 0, 10, QStringLiteral("X") },
            { QStringLiteral("U"), 20, 10, QStringLiteral("X") } });
        QVERIFY(!project->resolveExclusionConflicts(*project->tasks()[0], false));
        project->tasks()[1]->setStart(5);
        QVERIFY(project->resolveExclusionConflicts(*project->tasks()[0], false));
        QCOMPARE(schedule(*project), QStringLiteral("T 0 10, U 10 20"));
    }

    void addDependencyAlignsThePredecessor_data()
    {
        QTest::addColumn<double>("predecessorStart");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<double>("projectStart");
        QTest::newRow("overlapping predecessor moves earlier")
            << 0.0 << QStringLiteral("Q -20 -10, P -10 20, S 20 25") << -20.0;
        QTest::newRow("predecessor ending at the start stays")
            << -10.0 << QStringLiteral("Q -20 -10, P -10 20, S 20 25") << -20.0;
        QTest::newRow("predecessor ending earlier stays")
            << -15.0 << QStringLiteral("Q -20 -10, P -15 15, S 20 25") << -20.0;
    }

    void addDependencyAlignsThePredecessor()
    {
        QFETCH(double, predecessorStart);
        QFETCH(QString, expected);
        QFETCH(double, projectStart);
        auto project
            = makeProject({ { QStringLiteral("Q"), -20, 10, {} }, { QStringLiteral("P"), predecessorStart, 30, {} },
                              { QStringLiteral("S"), 20, 5, {} } },
                { { 0, 1 } });
        project->addDependency(project->tasks()[1], project->tasks()[2]);
        QCOMPARE(schedule(*project), expected);
        QCOMPARE(project->start(), projectStart);
    }

    void alignPullsThePredecessorsChain()
    {
        auto project = makeProject({ { QStringLiteral("Q"), -5, 10, {} }, { QStringLiteral("P"), 5, 30, {} },
                                       { QStringLiteral("S"), 20, 5, {} } },
            { { 0, 1 } });
        project->addDependency(project->tasks()[1], project->tasks()[2]);
        QCOMPARE(schedule(*project), QStringLiteral("Q -20 -10, P -10 20, S 20 25"));
        QCOMPARE(project->start(), -20.0);
    }

    // Successors are visited by ascending start, ties in dependency order. With exclusion groups
    // the order decides the outcome, so it must stay fixed.
    void successorVisitingOrder_data()
    {
        QTest::addColumn<double>("cStart");
        QTest::addColumn<Dependencies>("dependencies");
        QTest::addColumn<QString>("expected");
        QTest::newRow("earlier start first")
            << 20.0 << Dependencies { { 0, 2 }, { 0, 1 } } << QStringLiteral("A 15 25, B 30 40, C 25 30");
        QTest::newRow("same start, B listed first")
            << 10.0 << Dependencies { { 0, 1 }, { 0, 2 } } << QStringLiteral("A 15 25, B 30 40, C 25 30");
        QTest::newRow("same start, C listed first")
            << 10.0 << Dependencies { { 0, 2 }, { 0, 1 } } << QStringLiteral("A 15 25, B 25 35, C 35 40");
    }

    void successorVisitingOrder()
    {
        QFETCH(double, cStart);
        QFETCH(Dependencies, dependencies);
        QFETCH(QString, expected);
        auto project
            = makeProject({ { QStringLiteral("A"), 0, 10, {} }, { QStringLiteral("B"), 10, 10, QStringLiteral("X") },
                              { QStringLiteral("C"), cStart, 5, QStringLiteral("X") } },
                dependencies);
        project->moveTask(project->tasks()[0], 15.0);
        QCOMPARE(schedule(*project), expected);
    }

    // A chain with a shortcut at every step: each task is moved once, not once per path.
    void shortcutsDoNotMultiplyTheWork()
    {
        TaskRows rows;
        Dependencies dependencies;
        for (int i = 0; i < 60; ++i) {
            rows.append({ QString::number(i), double(i) * 10, 10, {} });
            if (i >= 2)
                dependencies.append({ i - 2, i });
            if (i >= 1)
                dependencies.append({ i - 1, i });
        }
        auto project = makeProject(rows, dependencies);
        int moves = 0;
        for (const TaskPtr &task : project->tasks())
            connect(task.get(), &Task::startAboutToChange, this, [&moves] { ++moves; });
        project->moveTask(project->tasks().first(), 5.0);
        QCOMPARE(moves, 60);
        QCOMPARE(project->tasks().last()->start(), 595.0);
    }

    // Group members are scanned in task-list order; a member that an earlier move already
    // cleared is skipped.
    void groupMembersInListOrder()
    {
        auto project = makeProject({ { QStringLiteral("T"), 0, 10, QStringLiteral("X") },
            { QStringLiteral("U"), 12, 4, QStringLiteral("X") }, { QStringLiteral("V"), 14, 2, QStringLiteral("X") } });
        project->moveTask(project->tasks()[0], 5.0);
        QCOMPARE(schedule(*project), QStringLiteral("T 5 15, U 15 19, V 19 21"));
        project->moveTask(project->tasks()[0], 0.0);

        auto chained = makeProject({ { QStringLiteral("T"), 0, 10, QStringLiteral("X") },
            { QStringLiteral("U"), 12, 4, QStringLiteral("X") }, { QStringLiteral("V"), 11, 2, QStringLiteral("X") } });
        chained->moveTask(chained->tasks()[0], 5.0);
        QCOMPARE(schedule(*chained), QStringLiteral("T 5 15, U 17 21, V 15 17"));
    }

    void longChainsNeedNoDeepStack()
    {
        constexpr int count = 100000;
        TaskRows rows;
        Dependencies dependencies;
        for (int i = 0; i < count; ++i) {
            rows.append({ QString::number(i), double(i) * 10, 10, {} });
            if (i > 0)
                dependencies.append({ i - 1, i });
        }
        auto project = makeProject(rows, dependencies);
        TestUndoManager undo;
        project->setUndoManager(&undo);
        project->moveTask(project->tasks().first(), 5.0);
        QCOMPARE(project->tasks().last()->start(), double(count - 1) * 10 + 5);
        project->moveTask(project->tasks().last(), -20.0);
        QCOMPARE(project->tasks().first()->start(), -15.0);
        project->changeDuration(project->tasks().first(), 20.0);
        QCOMPARE(project->tasks().last()->end(), double(count) * 10 - 5);
        QVERIFY_THROWS_EXCEPTION(
            ConsistencyError, project->addDependency(project->tasks().last(), project->tasks().first()));
        undo.undo();
        undo.undo();
        undo.undo();
        QCOMPARE(project->tasks().last()->start(), double(count - 1) * 10);
        QCOMPARE(project->tasks().first()->start(), 0.0);
    }

    // Negative durations let a push and a pull chase each other through a group; the edit must
    // still end, say so in the log, and stay undoable.
    void runawayPropagationStops()
    {
        auto project = makeProject(
            { { QStringLiteral("A"), 7, -2, QStringLiteral("X") }, { QStringLiteral("B"), 4, -3, QStringLiteral("X") },
                { QStringLiteral("C"), 2, 5, QStringLiteral("X") } },
            { { 1, 2 } });
        TestUndoManager undo;
        project->setUndoManager(&undo);
        QTest::ignoreMessage(QtCriticalMsg,
            QRegularExpression(QStringLiteral("^scheduling stopped: task # \\d+ was moved more than 1000 "
                                              "times by one edit")));
        project->changeDuration(project->tasks()[1], -1.0);
        QCOMPARE(undo.undoName(), QStringLiteral("Change Task Duration"));
        undo.undo();
        QCOMPARE(project->tasks()[1]->duration(), -3.0);
    }

    // P [5,10) -> T [20,30) -> S [60,70); group X holds E [12,15), T, L [50,55) and R [25,35).
    // Offsets count from the project start, 5.
    // A long task joining a group of hundreds of members it overlaps: followed move by move, each
    // member placed against it would displace all placed before, some 125,000 moves. The edit is
    // taken back half way and done by the sweep, which must keep both rules and stay undoable.
    void costlyEditsAreSwept()
    {
        TaskRows rows { { QStringLiteral("Long"), 0, 30000, {} } };
        for (int i = 0; i < 500; ++i)
            rows.append({ QStringLiteral("M%1").arg(i), 60.0 * i, 60, QStringLiteral("X") });
        auto project = makeProject(rows, { { 1, 251 } });
        QVERIFY(project->deletedEdges().isEmpty());
        TestUndoManager undo;
        project->setUndoManager(&undo);
        const QString before = schedule(*project);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("placed by the sweep")));
        project->changeExclusionGroup(project->tasks()[0], QStringLiteral("X"));
        QCOMPARE(project->tasks()[0]->start(), 0.0);
        QList<const Task *> members;
        for (const TaskPtr &task : project->tasks())
            members.append(task.get());
        std::sort(members.begin(), members.end(), [](const Task *a, const Task *b) { return a->start() < b->start(); });
        for (qsizetype i = 1; i < members.size(); ++i)
            QVERIFY2(members[i]->start() >= members[i - 1]->end(), qPrintable(members[i]->name()));
        QCOMPARE_GE(project->tasks()[251]->start(), project->tasks()[1]->end());
        QCOMPARE(project->end(), members.last()->end());
        undo.undo();
        QCOMPARE(schedule(*project), before);
    }

    void dragLimits_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<double>("minimumStart");
        QTest::addColumn<double>("maximumEnd");
        QTest::newRow("all limits") << 3 << 10.0 << 45.0;
        QTest::newRow("shift: no group") << 1 << 5.0 << 55.0;
        QTest::newRow("option: no project start") << 2 << 10.0 << 45.0;
        QTest::newRow("dependencies only") << 0 << 5.0 << 55.0;
    }

    void dragLimits()
    {
        QFETCH(int, mode);
        QFETCH(double, minimumStart);
        QFETCH(double, maximumEnd);
        const QString x = QStringLiteral("X");
        auto project = makeProject({ { QStringLiteral("P"), 5, 5, {} }, { QStringLiteral("T"), 20, 10, x },
                                       { QStringLiteral("S"), 60, 10, {} }, { QStringLiteral("E"), 12, 3, x },
                                       { QStringLiteral("L"), 50, 5, x }, { QStringLiteral("R"), 25, 10, x } },
            { { 0, 1 }, { 1, 2 } });
        const Task &t = *project->tasks()[1];
        QCOMPARE(project->start(), 5.0);
        QCOMPARE(project->minimumStartOffset(t, DragMode(mode)), minimumStart);
        QCOMPARE(project->maximumEndOffset(t, DragMode(mode)), std::optional<double>(maximumEnd));
    }

    void dragLimitsOfAFreeTask()
    {
        auto project = makeProject({ { QStringLiteral("A"), 10, 10, {} }, { QStringLiteral("B"), 30, 10, {} } });
        const Task &b = *project->tasks()[1];
        QCOMPARE(project->maximumEndOffset(b, LimitToProjectStart | LimitByExclusionGroup), std::nullopt);
        QCOMPARE(project->minimumStartOffset(b, LimitToProjectStart), 0.0);
        QCOMPARE(project->minimumStartOffset(b, {}), -std::numeric_limits<double>::infinity());
    }

    void nonFiniteValuesAreRefused()
    {
        auto project = makeProject({ { QStringLiteral("A"), 0, 10, {} } });
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("not a finite number")));
        project->moveTask(project->tasks()[0], qQNaN());
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("not a finite number")));
        project->changeDuration(project->tasks()[0], qInf());
        QCOMPARE(schedule(*project), QStringLiteral("A 0 10"));
    }
};

QTEST_GUILESS_MAIN(TestScheduling)
#include "tst_scheduling.moc"
