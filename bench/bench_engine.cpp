// Speed and memory of the scheduling engine: edits that cascade through dependencies and exclusion
// groups, their undo, the heap undo steps hold, and load repair of cyclic plans. A program of its
// own, so that its heap figures start from a fresh heap and not from what the file benchmarks left.

#include "Project.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cmath>
#include <malloc.h>
#include <numeric>
#include <random>
#include <set>
#include <vector>

namespace {

constexpr double minute = 60.0;

// Keeps every step, as a window's history does. Benchmarks take steps back themselves and drop
// them while the clock is stopped.
class History final : public UndoManager {
public:
    void registerUndo(const QString &, std::unique_ptr<UndoStep> step) override { m_steps.push_back(std::move(step)); }
    [[nodiscard]] std::unique_ptr<UndoStep> takeLast()
    {
        std::unique_ptr<UndoStep> step = std::move(m_steps.back());
        m_steps.pop_back();
        return step;
    }
    [[nodiscard]] size_t size() const { return m_steps.size(); }
    void clear() { m_steps.clear(); }

private:
    std::vector<std::unique_ptr<UndoStep>> m_steps;
};

// Bytes in use on the heap. Mapped chunks count too: glibc serves large blocks, such as the
// buffer of a 100,000-entry list, by mmap, and uordblks alone would not see them.
double heapInUse()
{
    malloc_trim(0);
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd);
}

benchmark::Counter bytesCounter(double bytes)
{
    return benchmark::Counter(bytes, benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
}

std::vector<double> startsOf(const Project &project)
{
    std::vector<double> starts;
    starts.reserve(size_t(project.tasks().size()));
    for (const TaskPtr &task : project.tasks())
        starts.push_back(task->start());
    return starts;
}

qsizetype movedSince(const Project &project, const std::vector<double> &starts)
{
    qsizetype moved = 0;
    for (qsizetype i = 0; i < project.tasks().size(); ++i)
        moved += project.tasks()[i]->start() != starts[size_t(i)];
    return moved;
}

// The first rule the plan breaks, or none.
const char *brokenRule(const Project &project)
{
    for (const Edge &edge : project.edges()) {
        if (edge.successor->start() < edge.predecessor->end())
            return "a successor starts before its predecessor ends";
    }
    std::vector<const Task *> grouped;
    for (const TaskPtr &task : project.tasks()) {
        if (task->exclusionGroup())
            grouped.push_back(task.get());
    }
    std::sort(grouped.begin(), grouped.end(), [](const Task *a, const Task *b) {
        return *a->exclusionGroup() != *b->exclusionGroup() ? *a->exclusionGroup() < *b->exclusionGroup()
                                                            : a->start() < b->start();
    });
    // The latest end so far within the group, so that a long task over several short ones counts.
    double latestEnd = 0.0;
    for (size_t i = 0; i < grouped.size(); ++i) {
        const bool sameGroup = i > 0 && *grouped[i - 1]->exclusionGroup() == *grouped[i]->exclusionGroup();
        if (sameGroup && grouped[i]->start() < latestEnd)
            return "two tasks of one exclusion group overlap";
        latestEnd = sameGroup ? std::max(latestEnd, grouped[i]->end()) : grouped[i]->end();
    }
    return nullptr;
}

QString taskName(qsizetype id)
{
    return QStringLiteral("Task %1").arg(id);
}

// A loaded plan with a history, and the starts it was loaded with.
struct Fixture {
    Fixture(TaskList tasks, const QList<IntPair> &pairs)
        : project(Project::load(QStringLiteral("Benchmark"), std::move(tasks), pairs))
        , loadedStarts(startsOf(*project))
    {
        project->setUndoManager(&history);
    }
    // The project keeps the history's address.
    Fixture(const Fixture &) = delete;
    Fixture &operator=(const Fixture &) = delete;

    [[nodiscard]] TaskPtr task(qsizetype index) const { return project->tasks()[index]; }
    [[nodiscard]] qsizetype moved() const { return movedSince(*project, loadedStarts); }
    [[nodiscard]] bool restored() const { return moved() == 0; }

    History history;
    std::unique_ptr<Project> project;
    std::vector<double> loadedStarts;
};

// What becomes of an edit once it has been timed: undone, or its step dropped so that the next
// edit starts where this one left off.
enum class After { Undo, Drop };

// Times one edit with its undo registration and reports how many tasks it moved. The first
// edit's outcome is checked against the rules; like undoing, that happens while the clock stands.
template<typename Edit> void timeEdit(benchmark::State &state, Fixture &fixture, Edit edit, After after = After::Undo)
{
    qsizetype moved = -1;
    for (auto _ : state) {
        edit();
        state.PauseTiming();
        if (moved < 0) {
            moved = fixture.moved();
            if (const char *broken = brokenRule(*fixture.project)) {
                state.SkipWithError(broken);
                break;
            }
            if (fixture.history.size() != 1) {
                state.SkipWithError("the edit registered no undo step");
                break;
            }
        }
        if (after == After::Undo)
            fixture.history.takeLast()->undo();
        else
            fixture.history.clear();
        state.ResumeTiming();
    }
    state.counters["tasks_moved"] = double(std::max<qsizetype>(moved, 0));
}

// Times the undo of one edit; the edit and the dropping of its step are not timed.
template<typename Edit> void timeUndo(benchmark::State &state, Fixture &fixture, Edit edit)
{
    qsizetype moved = 0;
    for (auto _ : state) {
        state.PauseTiming();
        edit();
        moved = fixture.moved();
        if (fixture.history.size() != 1) {
            state.SkipWithError("the edit registered no undo step");
            break;
        }
        std::unique_ptr<UndoStep> step = fixture.history.takeLast();
        state.ResumeTiming();
        step->undo();
        state.PauseTiming();
        step.reset();
        if (!fixture.restored()) {
            state.SkipWithError("undo left tasks away from where they were");
            break;
        }
        state.ResumeTiming();
    }
    state.counters["tasks_moved"] = double(moved);
}

constexpr int planTaskCount = 100000;
constexpr int planDependencyCount = 20000;
constexpr int groupCount = 26;
constexpr int ungroupedCount = 2000;

struct GroupedPlan {
    TaskList tasks;
    QList<IntPair> pairs;
    qsizetype longTask = 0; // index in the task list
    qsizetype groupMember = 0;
    double memberMove = 0.0;
};

// Groups 'A' to 'Z' of some 3,800 tasks each, every group back to back on a timeline of its own
// with gaps of up to four seconds; 2,000 tasks in no group spread over the same time; 20,000
// dependencies, each to a task that starts within about a day after its predecessor ends. Tasks
// last 5 to 55 minutes and stand in the task list shuffled. One of the ungrouped tasks lasts a
// tenth of the plan and starts at 40% of it. groupMember is a task of 50 minutes or more early in
// group 'C': moved by memberMove, its length, it lands on the next task and pushes it by nearly
// that much, which the following gaps take thousands of tasks to absorb.
GroupedPlan groupedPlan(unsigned seed = 42)
{
    std::mt19937 random(seed);
    const auto pick = [&](int low, int high) { return low + int(random() % unsigned(high - low + 1)); };
    struct Shape {
        double start;
        double duration;
        ExclusionGroup group;
    };
    std::vector<Shape> shapes;
    shapes.reserve(planTaskCount);
    constexpr int groupedCount = planTaskCount - ungroupedCount;
    int memberShape = -1;
    double span = 0.0;
    for (int g = 0; g < groupCount; ++g) {
        const int members = groupedCount * (g + 1) / groupCount - groupedCount * g / groupCount;
        const ExclusionGroup group(QString(QChar(u'A' + g)));
        double time = pick(0, 600) * minute;
        for (int m = 0; m < members; ++m) {
            const double duration = pick(5, 55) * minute;
            if (g == 2 && memberShape < 0 && m >= members / 10 && duration >= 50 * minute)
                memberShape = int(shapes.size());
            shapes.push_back({ time, duration, group });
            time += duration + pick(0, 4);
        }
        span = std::max(span, time);
    }
    const int longShape = int(shapes.size());
    shapes.push_back({ std::round(0.4 * span / minute) * minute, std::round(0.1 * span / minute) * minute, {} });
    while (shapes.size() < size_t(planTaskCount))
        shapes.push_back({ pick(0, int(span / minute)) * minute, pick(5, 55) * minute, {} });

    std::vector<int> order(planTaskCount);
    std::iota(order.begin(), order.end(), 0);
    for (size_t i = order.size() - 1; i > 0; --i)
        std::swap(order[i], order[random() % (i + 1)]);
    std::vector<qsizetype> positionOf(planTaskCount);
    GroupedPlan plan;
    plan.tasks.reserve(planTaskCount);
    for (qsizetype position = 0; position < planTaskCount; ++position) {
        const Shape &shape = shapes[size_t(order[size_t(position)])];
        positionOf[size_t(order[size_t(position)])] = position;
        plan.tasks.append(Task::create(
            position + 1, nullptr, taskName(position + 1), shape.duration, shape.start + shape.duration, shape.group));
    }
    plan.longTask = positionOf[size_t(longShape)];
    plan.groupMember = positionOf[size_t(memberShape)];
    plan.memberMove = shapes[size_t(memberShape)].duration;

    std::vector<int> byStart(planTaskCount);
    std::iota(byStart.begin(), byStart.end(), 0);
    std::stable_sort(byStart.begin(), byStart.end(), [&](int a, int b) { return shapes[a].start < shapes[b].start; });
    std::set<std::pair<int, int>> taken;
    plan.pairs.reserve(planDependencyCount);
    while (plan.pairs.size() < planDependencyCount) {
        const int a = int(random() % unsigned(planTaskCount));
        const double end = shapes[size_t(a)].start + shapes[size_t(a)].duration;
        const auto first = std::lower_bound(
            byStart.cbegin(), byStart.cend(), end, [&](int task, double time) { return shapes[task].start < time; });
        const size_t at = size_t(first - byStart.cbegin()) + random() % 1000;
        if (at >= byStart.size())
            continue;
        const int b = byStart[at];
        if (taken.insert({ a, b }).second)
            plan.pairs.append({ positionOf[size_t(a)] + 1, positionOf[size_t(b)] + 1 });
    }
    return plan;
}

constexpr int chainLength = 100000;

// Tasks of a minute back to back, each depending on the one before.
Fixture chain()
{
    TaskList tasks;
    tasks.reserve(chainLength);
    QList<IntPair> pairs;
    pairs.reserve(chainLength - 1);
    for (int i = 0; i < chainLength; ++i) {
        tasks.append(Task::create(i + 1, nullptr, taskName(i + 1), minute, minute * (i + 1)));
        if (i > 0)
            pairs.append({ i, i + 1 });
    }
    return Fixture(tasks, pairs);
}

// The heap benchmarks come first, while the heap holds little but what they measure. Their time is
// that of the edits.

// Heap that 100 moves of the chain's tail, three tasks each, leave behind with their undo steps
// kept. One move and its undo go first, so that what the plan builds on its first edit is not
// counted.
void BM_HeapOfTailMoveSteps(benchmark::State &state)
{
    constexpr int edits = 100;
    Fixture fixture = chain();
    fixture.project->moveTask(fixture.task(chainLength - 3), 5.0);
    fixture.history.takeLast()->undo();
    double bytes = 0.0;
    for (auto _ : state) {
        const double before = heapInUse();
        for (int i = 0; i < edits; ++i)
            fixture.project->moveTask(fixture.task(chainLength - 3), 5.0);
        bytes = heapInUse() - before;
    }
    if (fixture.moved() != 3 || fixture.history.size() != size_t(edits))
        state.SkipWithError("the moves did not move the last three tasks alone, each with an undo step");
    state.counters["heap_bytes"] = bytesCounter(bytes);
    state.counters["bytes_per_step"] = bytesCounter(bytes / edits);
}
BENCHMARK(BM_HeapOfTailMoveSteps)->Unit(benchmark::kMillisecond)->Iterations(1);

// Heap that 100 moves of single tasks of the grouped plan, forwards and backwards by up to half an
// hour, leave behind with their undo steps kept; one edit and its undo go first.
void BM_HeapAfterEdits(benchmark::State &state)
{
    constexpr int edits = 100;
    GroupedPlan plan = groupedPlan();
    Fixture fixture(plan.tasks, plan.pairs);
    std::mt19937 random(7);
    std::vector<std::pair<qsizetype, double>> moves;
    for (int i = 0; i < edits; ++i) {
        const double delta = double(1 + random() % 30) * minute;
        moves.emplace_back(qsizetype(random() % planTaskCount), random() % 2 ? delta : -delta);
    }
    fixture.project->moveTask(fixture.task(moves.front().first), moves.front().second);
    fixture.history.takeLast()->undo();
    double bytes = 0.0;
    for (auto _ : state) {
        const double before = heapInUse();
        for (const auto &[index, delta] : moves)
            fixture.project->moveTask(fixture.task(index), delta);
        bytes = heapInUse() - before;
    }
    if (fixture.history.size() != size_t(edits))
        state.SkipWithError("an edit registered no undo step");
    state.counters["heap_bytes"] = bytesCounter(bytes);
    state.counters["tasks_moved"] = double(fixture.moved());
}
BENCHMARK(BM_HeapAfterEdits)->Unit(benchmark::kMillisecond)->Iterations(1);

// Phases P0 to P19 of one minute; each phase fans out into a task of one minute and one of
// 1 + 2^k minutes, and both lead into the next phase. Back to back: every path through the
// ladder is tight, and there are 2^20 of them.
Fixture phaseLadder()
{
    constexpr int phases = 20;
    TaskList tasks;
    QList<IntPair> pairs;
    double time = 0.0;
    for (int k = 0; k < phases; ++k) {
        const qsizetype phase = tasks.size() + 1;
        tasks.append(Task::create(phase, nullptr, QStringLiteral("P%1").arg(k), minute, time + minute));
        time += minute;
        const double longDuration = double(1 + (1 << k)) * minute;
        tasks.append(Task::create(phase + 1, nullptr, QStringLiteral("Short %1").arg(k), minute, time + minute));
        tasks.append(
            Task::create(phase + 2, nullptr, QStringLiteral("Long %1").arg(k), longDuration, time + longDuration));
        time += longDuration;
        pairs.append({ phase, phase + 1 });
        pairs.append({ phase, phase + 2 });
        if (k > 0) {
            pairs.append({ phase - 2, phase });
            pairs.append({ phase - 1, phase });
        }
    }
    return Fixture(tasks, pairs);
}

void BM_PhaseLadderMove(benchmark::State &state)
{
    Fixture fixture = phaseLadder();
    timeEdit(state, fixture, [&] { fixture.project->moveTask(fixture.task(0), 1024 * minute); });
}
BENCHMARK(BM_PhaseLadderMove)->Unit(benchmark::kMicrosecond);

const ExclusionGroup joinedGroup(QStringLiteral("M"));

void BM_GroupJoinCascade(benchmark::State &state)
{
    GroupedPlan plan = groupedPlan();
    Fixture fixture(plan.tasks, plan.pairs);
    timeEdit(state, fixture, [&] { fixture.project->changeExclusionGroup(fixture.task(plan.longTask), joinedGroup); });
}
BENCHMARK(BM_GroupJoinCascade)->Unit(benchmark::kMillisecond);

void BM_UndoGroupJoinCascade(benchmark::State &state)
{
    GroupedPlan plan = groupedPlan();
    Fixture fixture(plan.tasks, plan.pairs);
    timeUndo(state, fixture, [&] { fixture.project->changeExclusionGroup(fixture.task(plan.longTask), joinedGroup); });
}
BENCHMARK(BM_UndoGroupJoinCascade)->Unit(benchmark::kMillisecond);

void BM_MoveGroupMember(benchmark::State &state)
{
    GroupedPlan plan = groupedPlan();
    Fixture fixture(plan.tasks, plan.pairs);
    timeEdit(state, fixture, [&] { fixture.project->moveTask(fixture.task(plan.groupMember), plan.memberMove); });
}
BENCHMARK(BM_MoveGroupMember)->Unit(benchmark::kMillisecond);

void BM_UndoMoveGroupMember(benchmark::State &state)
{
    GroupedPlan plan = groupedPlan();
    Fixture fixture(plan.tasks, plan.pairs);
    timeUndo(state, fixture, [&] { fixture.project->moveTask(fixture.task(plan.groupMember), plan.memberMove); });
}
BENCHMARK(BM_UndoMoveGroupMember)->Unit(benchmark::kMillisecond);

void BM_MoveChainHead(benchmark::State &state)
{
    Fixture fixture = chain();
    timeEdit(state, fixture, [&] { fixture.project->moveTask(fixture.task(0), 5.0); });
}
BENCHMARK(BM_MoveChainHead)->Unit(benchmark::kMillisecond);

void BM_UndoMoveChainHead(benchmark::State &state)
{
    Fixture fixture = chain();
    timeUndo(state, fixture, [&] { fixture.project->moveTask(fixture.task(0), 5.0); });
}
BENCHMARK(BM_UndoMoveChainHead)->Unit(benchmark::kMillisecond);

// The third task from the end pushes the last two: three of 100,000 move. Each move starts where
// the one before left off; undoing instead would cost more than the move, every iteration.
void BM_MoveChainTail(benchmark::State &state)
{
    Fixture fixture = chain();
    timeEdit(
        state, fixture, [&] { fixture.project->moveTask(fixture.task(chainLength - 3), 5.0); }, After::Drop);
}
BENCHMARK(BM_MoveChainTail)->Unit(benchmark::kMicrosecond);

// Loads zero-length tasks, all at time 0, and reports how many dependencies repair dropped; a
// project with fewer than minimumDropped dropped still holds a cycle.
template<typename Pairs>
void timeLoad(benchmark::State &state, int taskCount, Pairs makePairs, qsizetype minimumDropped)
{
    qsizetype dropped = 0;
    for (auto _ : state) {
        state.PauseTiming();
        TaskList tasks;
        tasks.reserve(taskCount);
        for (int i = 0; i < taskCount; ++i)
            tasks.append(Task::create(i + 1, nullptr, taskName(i + 1), 0.0, 0.0));
        const QList<IntPair> pairs = makePairs();
        state.ResumeTiming();
        auto project = Project::load(QStringLiteral("Benchmark"), std::move(tasks), pairs);
        state.PauseTiming();
        dropped = project->deletedEdges().size();
        project.reset();
        if (dropped < minimumDropped) {
            state.SkipWithError("repair left a cycle");
            break;
        }
        state.ResumeTiming();
    }
    state.counters["dropped"] = double(dropped);
}

// One ring through every task: exactly one dependency has to go.
void BM_LoadRepairRing(benchmark::State &state)
{
    constexpr int count = 200000;
    timeLoad(
        state, count,
        [] {
            QList<IntPair> pairs;
            pairs.reserve(count);
            for (int i = 0; i < count; ++i)
                pairs.append({ i + 1, (i + 1) % count + 1 });
            return pairs;
        },
        1);
}
BENCHMARK(BM_LoadRepairRing)->Unit(benchmark::kMillisecond);

// Both dependencies of every pair of 1,000 tasks: one of each pair has to go.
void BM_LoadRepairCompleteGraph(benchmark::State &state)
{
    constexpr int count = 1000;
    timeLoad(
        state, count,
        [] {
            QList<IntPair> pairs;
            pairs.reserve(count * (count - 1));
            for (int a = 1; a <= count; ++a) {
                for (int b = 1; b <= count; ++b) {
                    if (a != b)
                        pairs.append({ a, b });
                }
            }
            return pairs;
        },
        count * (count - 1) / 2);
}
BENCHMARK(BM_LoadRepairCompleteGraph)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
