#include "Ids.h"
#include "ModelTestSupport.h"

#include <QRandomGenerator>
#include <QSet>
#include <QTest>
#include <algorithm>

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

Pairs idPairs(const QList<Edge> &edges)
{
    Pairs pairs;
    for (const Edge &edge : edges)
        pairs.append({ edge.predecessor->id(), edge.successor->id() });
    return pairs;
}

// Zero-length tasks 1..count, all at one time, so that no dependency contradicts the times.
std::unique_ptr<Project> loadAtOneTime(int count, const Pairs &pairs)
{
    TaskList tasks;
    for (int id = 1; id <= count; ++id)
        tasks.append(Task::create(id, nullptr, QString::number(id), 0.0, 0.0));
    return Project::load(QStringLiteral("Loaded"), tasks, pairs);
}

// The cycle rule word for word: from the last pair to the first, a pair goes when its successor
// reaches its predecessor over all pairs still there. Quadratic, and obviously so.
std::pair<Pairs, Pairs> referenceRepair(const Pairs &pairs)
{
    QHash<qint64, QList<qsizetype>> outgoing;
    for (qsizetype i = 0; i < pairs.size(); ++i)
        outgoing[pairs[i].a].append(i);
    QList<bool> present(pairs.size(), true);
    const auto reaches = [&](qint64 from, qint64 to) {
        QList<qint64> pending { from };
        QSet<qint64> seen { from };
        while (!pending.isEmpty()) {
            const qint64 task = pending.takeLast();
            if (task == to)
                return true;
            for (const qsizetype j : outgoing.value(task)) {
                if (present[j] && !seen.contains(pairs[j].b)) {
                    seen.insert(pairs[j].b);
                    pending.append(pairs[j].b);
                }
            }
        }
        return false;
    };
    Pairs deleted;
    for (qsizetype i = pairs.size() - 1; i >= 0; --i) {
        present[i] = false;
        if (reaches(pairs[i].b, pairs[i].a))
            deleted.append(pairs[i]);
        else
            present[i] = true;
    }
    Pairs kept;
    for (qsizetype i = 0; i < pairs.size(); ++i) {
        if (present[i])
            kept.append(pairs[i]);
    }
    return { kept, deleted };
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

    // Random small graphs of every kind, against the rule applied literally.
    void cyclesMatchTheBackwardWalk()
    {
        QRandomGenerator random(20240611);
        for (int graph = 0; graph < 400; ++graph) {
            const int count = 1 + random.bounded(12);
            const auto anyTask = [&] { return qint64(1 + random.bounded(count)); };
            Pairs pairs;
            const int shape = graph % 4;
            if (shape == 1) {
                // Rings over a random order of some tasks, closing edge anywhere in the list.
                QList<qint64> ring;
                for (int id = 1; id <= count; ++id)
                    ring.append(id);
                std::shuffle(ring.begin(), ring.end(), random);
                ring.resize(1 + random.bounded(count));
                for (qsizetype i = 0; i < ring.size(); ++i)
                    pairs.append({ ring[i], ring[(i + 1) % ring.size()] });
            } else if (shape == 2) {
                // A dense part: every ordered pair among the first few tasks.
                const int dense = 1 + random.bounded(std::min(count, 7));
                for (int a = 1; a <= dense; ++a) {
                    for (int b = 1; b <= dense; ++b) {
                        if (a != b || random.bounded(4) == 0)
                            pairs.append({ a, b });
                    }
                }
            }
            const int extra = random.bounded(shape == 0 ? 30 : 8);
            for (int i = 0; i < extra; ++i) {
                const int kind = random.bounded(10);
                if (kind == 0) {
                    const qint64 task = anyTask();
                    pairs.append({ task, task });
                } else if (kind == 1 && !pairs.isEmpty()) {
                    pairs.append(pairs[random.bounded(pairs.size())]);
                } else {
                    pairs.append({ anyTask(), anyTask() });
                }
            }
            std::shuffle(pairs.begin(), pairs.end(), random);
            if (random.bounded(3) == 0) {
                const qint64 missing = random.bounded(2) ? 0 : count + 1 + random.bounded(5);
                pairs.insert(random.bounded(pairs.size() + 1),
                    random.bounded(2) ? IntPair { missing, anyTask() } : IntPair { anyTask(), missing });
            }

            Pairs existing;
            for (const IntPair &pair : std::as_const(pairs)) {
                const qint64 absent = pair.a < 1 || pair.a > count ? pair.a
                    : pair.b < 1 || pair.b > count                 ? pair.b
                                                                   : -1;
                if (absent == -1) {
                    existing.append(pair);
                } else {
                    const QByteArray message
                        = "dependency referencing non-existing task # " + QByteArray::number(absent);
                    QTest::ignoreMessage(QtCriticalMsg, message.constData());
                }
            }
            const auto [kept, deleted] = referenceRepair(existing);
            const auto project = loadAtOneTime(count, pairs);
            QVERIFY2(idPairs(project->edges()) == kept, qPrintable(QStringLiteral("graph %1").arg(graph)));
            QVERIFY2(idPairs(project->deletedEdges()) == deleted, qPrintable(QStringLiteral("graph %1").arg(graph)));
        }
    }

    void largeCycles_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<Pairs>("pairs");
        QTest::addColumn<Pairs>("kept");
        QTest::addColumn<Pairs>("deleted");

        Pairs ring;
        for (qint64 id = 1; id <= 2000; ++id)
            ring.append({ id, id % 2000 + 1 });
        QTest::newRow("ring of 2000") << 2000 << ring << ring.first(1999) << Pairs { ring.last() };
        // Long enough that a walk by recursion would run out of stack.
        Pairs backwards;
        for (qint64 id = 200000; id >= 1; --id)
            backwards.append({ id, id % 200000 + 1 });
        QTest::newRow("ring of 200000 listed backwards")
            << 200000 << backwards << backwards.first(199999) << Pairs { backwards.last() };

        // Row by row, a pair pointing back meets its target's full row before it: it always goes,
        // and a pair pointing forward always stays.
        Pairs complete, forward, back;
        for (qint64 a = 1; a <= 60; ++a) {
            for (qint64 b = 1; b <= 60; ++b) {
                if (a == b)
                    continue;
                complete.append({ a, b });
                if (a < b)
                    forward.append({ a, b });
                else
                    back.prepend({ a, b });
            }
        }
        QTest::newRow("complete graph of 60 row by row") << 60 << complete << forward << back;

        Pairs shuffled = complete;
        std::shuffle(shuffled.begin(), shuffled.end(), QRandomGenerator(7));
        const auto [kept, deleted] = referenceRepair(shuffled);
        QTest::newRow("complete graph of 60 shuffled") << 60 << shuffled << kept << deleted;
    }

    void largeCycles()
    {
        QFETCH(int, count);
        QFETCH(Pairs, pairs);
        QFETCH(Pairs, kept);
        QFETCH(Pairs, deleted);
        const auto project = loadAtOneTime(count, pairs);
        QCOMPARE(idPairs(project->edges()), kept);
        QCOMPARE(idPairs(project->deletedEdges()), deleted);
    }
};

QTEST_GUILESS_MAIN(TestLoadRepair)
#include "tst_loadrepair.moc"
