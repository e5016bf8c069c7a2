#include "Ids.h"
#include "ModelTestSupport.h"

#include <QTest>

using TaskRows = QList<std::tuple<QString, double, double, QString>>;
using Pairs = QList<IntPair>;

namespace {

std::unique_ptr<Project> load(const TaskRows &rows, const Pairs &pairs, QList<qint64> ids = {})
{
    TaskList tasks;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const auto &[name, start, duration, group] = rows[i];
        tasks.append(Task::create(ids.isEmpty() ? i + 1 : ids[i], nullptr, name, duration, start + duration));
    }
    return Project::load(QStringLiteral("Loaded"), tasks, pairs);
}

QString edgeNames(const QList<Edge> &edges)
{
    QStringList names;
    for (const Edge &edge : edges)
        names.append(edge.predecessor->name() + QLatin1String("->") + edge.successor->name());
    return names.join(QLatin1Char(' '));
}

} // namespace

class TestLoadRepair : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { Ids::resetForTesting(1, 1); }

    void repair_data()
    {
        QTest::addColumn<TaskRows>("tasks");
        QTest::addColumn<Pairs>("pairs");
        QTest::addColumn<QString>("kept");
        QTest::addColumn<QString>("deleted");
        const QString a = QStringLiteral("A"), b = QStringLiteral("B"), c = QStringLiteral("C");
        QTest::newRow("contradicting times") << TaskRows { { a, 0, 20, {} }, { b, 10, 5, {} } } << Pairs { { 1, 2 } }
                                             << QString() << QStringLiteral("A->B");
        QTest::newRow("touching times are consistent") << TaskRows { { a, 0, 10, {} }, { b, 10, 5, {} } }
                                                       << Pairs { { 1, 2 } } << QStringLiteral("A->B") << QString();
        QTest::newRow("zero-duration cycle drops the later pair")
            << TaskRows { { a, 5, 0, {} }, { b, 5, 0, {} } } << Pairs { { 1, 2 }, { 2, 1 } } << QStringLiteral("A->B")
            << QStringLiteral("B->A");
        QTest::newRow("zero-duration self-dependency")
            << TaskRows { { a, 5, 0, {} } } << Pairs { { 1, 1 } } << QString() << QStringLiteral("A->A");
        QTest::newRow("duplicate pairs stay separate")
            << TaskRows { { a, 0, 10, {} }, { b, 10, 5, {} } } << Pairs { { 1, 2 }, { 1, 2 } }
            << QStringLiteral("A->B A->B") << QString();
        QTest::newRow("times first in file order, then cycles from the end")
            << TaskRows { { a, 0, 0, {} }, { b, 0, 0, {} }, { c, 0, 0, {} }, { QStringLiteral("D"), -5, 10, {} } }
            << Pairs { { 4, 1 }, { 1, 2 }, { 2, 3 }, { 3, 1 }, { 2, 1 }, { 4, 2 } } << QStringLiteral("A->B B->C")
            << QStringLiteral("D->A D->B B->A C->A");
        QTest::newRow("long cycle loses only its last pair")
            << TaskRows { { a, 0, 0, {} }, { b, 0, 0, {} }, { c, 0, 0, {} } } << Pairs { { 1, 2 }, { 2, 3 }, { 3, 1 } }
            << QStringLiteral("A->B B->C") << QStringLiteral("C->A");
    }

    void repair()
    {
        QFETCH(TaskRows, tasks);
        QFETCH(Pairs, pairs);
        QFETCH(QString, kept);
        QFETCH(QString, deleted);
        auto project = load(tasks, pairs);
        QCOMPARE(edgeNames(project->edges()), kept);
        QCOMPARE(edgeNames(project->deletedEdges()), deleted);
        QVERIFY(!project->isDirty());
        for (qsizetype i = 0; i < tasks.size(); ++i)
            QCOMPARE(project->tasks()[i]->start(), std::get<1>(tasks[i]));
    }

    void projectIsLinked()
    {
        auto project = load({ { QStringLiteral("A"), 0, 10, {} }, { QStringLiteral("B"), 10, 5, {} } }, { { 1, 2 } });
        const TaskPtr a = project->tasks()[0], b = project->tasks()[1];
        QCOMPARE(a->project(), project.get());
        QCOMPARE(a->successors(), TaskSet({ b }));
        QCOMPARE(b->predecessors(), TaskSet({ a }));
        QCOMPARE(project->start(), 0.0);
        QCOMPARE(project->end(), 15.0);
        QCOMPARE(project->duration(), 15.0);
        QCOMPARE(project->name(), QStringLiteral("Loaded"));
        QCOMPARE(project->id(), 1);
        QCOMPARE(project->deletedEdgesReport(), std::nullopt);
    }

    void missingTasksAreLogged()
    {
        QTest::ignoreMessage(QtCriticalMsg, "dependency referencing non-existing task # 99");
        QTest::ignoreMessage(QtCriticalMsg, "dependency referencing non-existing task # -5");
        QTest::ignoreMessage(QtCriticalMsg, "dependency referencing non-existing task # 7");
        auto project = load({ { QStringLiteral("A"), 0, 10, {} } }, { { 99, 1 }, { 1, -5 }, { 7, 8 } });
        QVERIFY(project->edges().isEmpty());
        QVERIFY(project->deletedEdges().isEmpty());
        QCOMPARE(project->deletedEdgesReport(), std::nullopt);
    }

    void duplicateIdsAttachToTheLaterTask()
    {
        auto project = load({ { QStringLiteral("First"), 0, 10, {} }, { QStringLiteral("Second"), 0, 10, {} },
                                { QStringLiteral("Next"), 10, 5, {} } },
            { { 1, 2 } }, { 1, 1, 2 });
        QCOMPARE(project->tasks().size(), 3);
        QCOMPARE(edgeNames(project->edges()), QStringLiteral("Second->Next"));
    }

    void report()
    {
        auto project = load({ { QStringLiteral("Build"), 0, 20, {} }, { QStringLiteral("Test"), 10, 5, {} },
                                { QStringLiteral("Ship"), 12, 5, {} } },
            { { 1, 2 }, { 2, 3 } });
        const auto report = project->deletedEdgesReport();
        QVERIFY(report);
        QCOMPARE(report->message, QStringLiteral("Dependencies Deleted for Achieving Consistency"));
        QCOMPARE(report->informativeText, QStringLiteral("\"Test\" on \"Build\"\n\"Ship\" on \"Test\""));
    }

    // A large acyclic graph with shared successors: each task feeds the next three.
    void largeAcyclicFileKeepsEverything()
    {
        TaskRows rows;
        Pairs pairs;
        for (int i = 0; i < 20000; ++i) {
            rows.append({ QString::number(i), double(i), 0.5, {} });
            for (int j = 1; j <= 3 && i + j < 20000; ++j)
                pairs.append({ i + 1, i + j + 1 });
        }
        auto project = load(rows, pairs);
        QCOMPARE(project->edges().size(), pairs.size());
        QVERIFY(project->deletedEdges().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestLoadRepair)
#include "tst_loadrepair.moc"
