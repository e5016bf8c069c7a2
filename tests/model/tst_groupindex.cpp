// The group index against a scan of its members, through random moves, removals and additions:
// ties of start, tasks of no length and, in some rows, of negative length.

#include "GroupIndex.h"
#include "Task.h"

#include <QTest>
#include <algorithm>
#include <limits>
#include <random>

class TestGroupIndex : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void agreesWithAScan_data();
    void agreesWithAScan();
};

void TestGroupIndex::agreesWithAScan_data()
{
    QTest::addColumn<bool>("negative");
    QTest::newRow("lengths of zero and more") << false;
    QTest::newRow("negative lengths too") << true;
}

void TestGroupIndex::agreesWithAScan()
{
    QFETCH(bool, negative);
    constexpr double inf = std::numeric_limits<double>::infinity();
    for (unsigned seed = 0; seed < 150; ++seed) {
        std::mt19937 random(seed);
        const auto pick = [&](int low, int high) { return low + int(random() % unsigned(high - low + 1)); };
        const auto duration = [&] { return double(pick(negative ? -2 : 0, 6)); };
        std::vector<TaskPtr> tasks;
        const int count = pick(1, 30);
        for (int i = 0; i < count; ++i)
            tasks.push_back(Task::create(i + 1, nullptr, QStringLiteral("T"), duration(), double(pick(0, 25))));
        std::vector<bool> indexed(tasks.size(), true);
        GroupIndex index;
        for (const TaskPtr &task : tasks)
            index.insert(task.get());

        for (int operation = 0; operation < 120; ++operation) {
            const size_t which = size_t(pick(0, count - 1));
            Task &task = *tasks[which];
            switch (pick(0, 3)) {
            case 0:
                if (indexed[which])
                    index.erase(&task);
                else
                    index.insert(&task);
                indexed[which] = !indexed[which];
                break;
            case 1:
                task.setDuration(duration());
                [[fallthrough]];
            default:
                // Mostly small steps, as a cascade makes them, so that keys pass their neighbours.
                task.setStart(std::max(0.0, task.start() + double(pick(-3, 3))));
                if (indexed[which])
                    index.rekey(&task);
                break;
            }

            for (size_t i = 0; i < tasks.size(); ++i) {
                if (!indexed[i])
                    continue;
                const Task &probe = *tasks[i];
                std::vector<Task *> found;
                index.overlapping(probe, found);
                std::vector<Task *> expected;
                for (size_t j = 0; j < tasks.size(); ++j)
                    if (j != i && indexed[j] && probe.overlaps(*tasks[j]))
                        expected.push_back(tasks[j].get());
                std::sort(found.begin(), found.end());
                std::sort(expected.begin(), expected.end());
                QVERIFY2(
                    found == expected, qPrintable(QStringLiteral("seed %1, operation %2").arg(seed).arg(operation)));

                const double time = double(pick(-1, 30));
                double earliest = inf;
                double latest = -inf;
                for (size_t j = 0; j < tasks.size(); ++j) {
                    if (j == i || !indexed[j])
                        continue;
                    if (tasks[j]->start() >= time)
                        earliest = std::min(earliest, tasks[j]->start());
                    if (tasks[j]->end() <= time)
                        latest = std::max(latest, tasks[j]->end());
                }
                QCOMPARE(index.earliestStartFrom(time, &probe), earliest);
                QCOMPARE(index.latestEndUpTo(time, &probe), latest);
            }
        }
        index.clear();
    }
}

QTEST_GUILESS_MAIN(TestGroupIndex)
#include "tst_groupindex.moc"
