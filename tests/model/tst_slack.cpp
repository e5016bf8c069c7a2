#include "Project.h"
#include "RandomPlans.h"
#include "Slack.h"
#include "TestUndoManager.h"

#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <limits>

namespace {

// A plan the rules hold in: members of a group one after another with gaps, dependencies only
// where the predecessor ends by the successor's start (the load keeps those).
std::unique_ptr<Project> randomPlan(Random &random, int count)
{
    TaskList tasks;
    QList<double> groupEnds(3, 0.0);
    for (int i = 0; i < count; ++i) {
        const double duration = random.positiveTime(600.0, 60.0);
        ExclusionGroup group;
        double start = random.time(3000.0, 60.0);
        if (random.chance(0.5)) {
            const quint32 index = random.below(3);
            group = groupName(index);
            start = groupEnds[index] + random.time(400.0, 60.0);
            groupEnds[index] = start + duration;
        }
        tasks.append(Task::createStartingAt(i + 1, nullptr, QString::number(i + 1), start, duration, group));
    }
    QList<IntPair> pairs;
    for (int i = 0; i < count * 2; ++i) {
        const qsizetype a = random.below(quint32(count));
        const qsizetype b = random.below(quint32(count));
        if (tasks[a]->end() <= tasks[b]->start())
            pairs.append({ a + 1, b + 1 });
    }
    return Project::load(QStringLiteral("plan"), tasks, pairs);
}

// The plain definition: every chain of pushes a task can start, each link a dependency or the
// next member of its group by start, adding up the gaps on the way to the project's end.
double referenceSlack(const Project &project, const Task &from)
{
    double end = -std::numeric_limits<double>::infinity();
    for (const TaskPtr &task : project.tasks())
        end = std::max(end, task->end());
    const auto pushed = [&](const Task &task) {
        QList<const Task *> result;
        for (const TaskPtr &successor : task.successors())
            result.append(successor.get());
        const Task *next = nullptr;
        if (task.exclusionGroup())
            for (const TaskPtr &other : project.tasks())
                if (other.get() != &task && other->exclusionGroup() == task.exclusionGroup()
                    && other->start() > task.start() && (!next || other->start() < next->start()))
                    next = other.get();
        if (next)
            result.append(next);
        return result;
    };
    std::function<double(const Task &)> walk = [&](const Task &task) {
        double best = end - task.end();
        for (const Task *next : pushed(task))
            best = std::min(best, next->start() - task.end() + walk(*next));
        return best;
    };
    return walk(from);
}

} // namespace

class TestSlack : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void matchesEveryChainOfRandomPlans()
    {
        for (quint32 seed = 1; seed <= 400; ++seed) {
            Random random(seed);
            const std::unique_ptr<Project> project = randomPlan(random, 2 + int(random.below(8)));
            const std::vector<double> slack = Slack::of(*project);
            bool anyCritical = false;
            for (qsizetype row = 0; row < project->tasks().size(); ++row) {
                const double expected = referenceSlack(*project, *project->tasks()[row]);
                if (!(std::abs(slack[std::size_t(row)] - expected) <= 1e-9))
                    QFAIL(qPrintable(QStringLiteral("seed %1 row %2: %3, expected %4")
                                         .arg(seed)
                                         .arg(row)
                                         .arg(timeText(slack[std::size_t(row)]), timeText(expected))));
                QVERIFY(slack[std::size_t(row)] >= 0.0);
                anyCritical |= slack[std::size_t(row)] == 0.0;
            }
            // The task that ends last decides the end.
            QVERIFY(anyCritical);
        }
    }

    void trackerFollowsEditsAndUndo()
    {
        Random random(7);
        std::unique_ptr<Project> project = randomPlan(random, 9);
        TestUndoManager undo;
        project->setUndoManager(&undo);
        SlackTracker tracker(project.get());
        QSignalSpy changed(&tracker, &SlackTracker::changed);
        const auto agrees = [&] {
            for (const TaskPtr &task : project->tasks())
                if (std::abs(tracker.slackOf(*task) - referenceSlack(*project, *task)) > 1e-9)
                    return false;
            return true;
        };
        QVERIFY(agrees());
        for (int step = 0; step < 30; ++step) {
            const TaskPtr task = project->tasks()[random.below(quint32(project->tasks().size()))];
            switch (random.below(4)) {
            case 0:
                project->moveTask(task, random.time(1200.0, 60.0) - 600.0);
                break;
            case 1:
                project->changeDuration(task, random.positiveTime(900.0, 60.0));
                break;
            case 2:
                project->changeExclusionGroup(task, groupName(random.below(3)));
                break;
            default:
                if (undo.count() > 0)
                    undo.undo();
            }
            QVERIFY2(agrees(), qPrintable(QStringLiteral("after step %1").arg(step)));
        }
        QTRY_VERIFY(changed.count() > 0);
        // An empty plan has nothing critical and nothing to read.
        Project empty;
        SlackTracker none(&empty);
        QVERIFY(!none.isCriticalRow(0));
    }
};

QTEST_GUILESS_MAIN(TestSlack)
#include "tst_slack.moc"
