// Speed and memory of the planning engine and the project file on large plans.

#include "Ids.h"
#include "Project.h"
#include "ProjectFile.h"

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <nlohmann/json.hpp>
#include <random>

namespace {

// Tasks back to back, ten seconds each; every task depends on one of the fifty before it, and
// (extraPerTask > 0) on further earlier tasks. All dependencies agree with the times.
std::pair<TaskList, QList<IntPair>> generate(int taskCount, int dependencyCount, unsigned seed = 42)
{
    std::mt19937 random(seed);
    TaskList tasks;
    tasks.reserve(taskCount);
    for (int i = 0; i < taskCount; ++i)
        tasks.append(Task::create(i + 1, nullptr, QStringLiteral("Task %1").arg(i), 10.0, 10.0 * (i + 1),
            i % 7 == 0 ? ExclusionGroup(QString(QChar(u'A' + i % 5))) : ExclusionGroup()));
    QList<IntPair> pairs;
    pairs.reserve(dependencyCount);
    for (int i = 1; pairs.size() < dependencyCount; i = i % (taskCount - 1) + 1) {
        const int back = 1 + int(random() % std::min(50u, unsigned(i)));
        pairs.append({ i - back + 1, i + 1 });
    }
    return { tasks, pairs };
}

QByteArray generateFile(int taskCount, int dependencyCount)
{
    auto [tasks, pairs] = generate(taskCount, dependencyCount);
    const auto project = Project::load(QStringLiteral("Benchmark"), tasks, pairs);
    return writeProject(*project);
}

const QByteArray &largeFile()
{
    static const QByteArray bytes = generateFile(100000, 100000);
    return bytes;
}

void BM_ParseJsonOnly(benchmark::State &state)
{
    const QByteArray &bytes = largeFile();
    for (auto _ : state) {
        auto json = nlohmann::json::parse(bytes.cbegin(), bytes.cend());
        benchmark::DoNotOptimize(json);
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_ParseJsonOnly)->Unit(benchmark::kMillisecond);

void BM_OpenProject(benchmark::State &state)
{
    const QByteArray &bytes = largeFile();
    for (auto _ : state) {
        auto project = readProject(bytes);
        benchmark::DoNotOptimize(project);
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_OpenProject)->Unit(benchmark::kMillisecond);

void BM_SaveProject(benchmark::State &state)
{
    const auto project = readProject(largeFile());
    for (auto _ : state) {
        QByteArray bytes = writeProject(*project);
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(BM_SaveProject)->Unit(benchmark::kMillisecond);

// Heap bytes held per task of a loaded 100,000-task project, file bytes excluded.
void BM_MemoryPerTask(benchmark::State &state)
{
    const QByteArray &bytes = largeFile();
    double perTask = 0;
    for (auto _ : state) {
        malloc_trim(0);
        const size_t before = mallinfo2().uordblks;
        auto project = readProject(bytes);
        const size_t after = mallinfo2().uordblks;
        perTask = double(after - before) / double(project->tasks().size());
        benchmark::DoNotOptimize(project);
    }
    state.counters["bytes_per_task"] = perTask;
}
BENCHMARK(BM_MemoryPerTask)->Unit(benchmark::kMillisecond)->Iterations(1);

// Load repair alone, over a growing number of dependencies: it should grow about linearly.
void BM_LoadRepair(benchmark::State &state)
{
    const int count = int(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto [tasks, pairs] = generate(count, count);
        state.ResumeTiming();
        auto project = Project::load(QStringLiteral("Benchmark"), tasks, pairs);
        benchmark::DoNotOptimize(project);
        state.PauseTiming();
        project.reset();
        tasks.clear();
        state.ResumeTiming();
    }
    state.SetComplexityN(count);
}
BENCHMARK(BM_LoadRepair)->RangeMultiplier(2)->Range(25000, 200000)->Unit(benchmark::kMillisecond)->Complexity();

// 10,000 tasks in one chain plus 10,000 more dependencies, a free task in front, and an undo
// history that the benchmark drives itself.
class ChainFixture {
public:
    ChainFixture()
    {
        auto [tasks, pairs] = generate(10000, 10000, 7);
        for (int i = 1; i < 10000; ++i)
            pairs.append({ i, i + 1 });
        tasks.prepend(Task::create(20000, nullptr, QStringLiteral("Free"), 5.0, 5.0));
        project = Project::load(QStringLiteral("Chain"), tasks, pairs);
        project->setUndoManager(&history);
    }

    struct History : UndoManager {
        std::vector<std::unique_ptr<UndoStep>> steps;
        void registerUndo(const QString &, std::unique_ptr<UndoStep> step) override
        {
            steps.push_back(std::move(step));
        }
        void undoLast()
        {
            steps.back()->undo();
            steps.pop_back();
        }
    } history;
    std::unique_ptr<Project> project;

    [[nodiscard]] TaskPtr first() const { return project->tasks()[1]; }
};

void BM_MoveTaskPushingChain(benchmark::State &state)
{
    ChainFixture fixture;
    for (auto _ : state) {
        fixture.project->moveTask(fixture.first(), 100.0);
        state.PauseTiming();
        if (fixture.project->tasks().last()->start() < 100.0)
            state.SkipWithError("the chain was not pushed");
        fixture.history.undoLast();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_MoveTaskPushingChain)->Unit(benchmark::kMillisecond);

void BM_UndoMoveTask(benchmark::State &state)
{
    ChainFixture fixture;
    for (auto _ : state) {
        state.PauseTiming();
        fixture.project->moveTask(fixture.first(), 100.0);
        state.ResumeTiming();
        fixture.history.undoLast();
    }
}
BENCHMARK(BM_UndoMoveTask)->Unit(benchmark::kMillisecond);

void BM_ChangeDurationPushingChain(benchmark::State &state)
{
    ChainFixture fixture;
    double duration = 10.0;
    for (auto _ : state) {
        duration += 100.0;
        fixture.project->changeDuration(fixture.first(), duration);
        state.PauseTiming();
        fixture.history.undoLast();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ChangeDurationPushingChain)->Unit(benchmark::kMillisecond);

void BM_UndoChangeDuration(benchmark::State &state)
{
    ChainFixture fixture;
    double duration = 10.0;
    for (auto _ : state) {
        state.PauseTiming();
        duration += 100.0;
        fixture.project->changeDuration(fixture.first(), duration);
        state.ResumeTiming();
        fixture.history.undoLast();
    }
}
BENCHMARK(BM_UndoChangeDuration)->Unit(benchmark::kMillisecond);

// The reachability test walks the whole chain, since the new successor starts it.
void BM_AddDependency(benchmark::State &state)
{
    ChainFixture fixture;
    const TaskPtr free = fixture.project->tasks()[0];
    for (auto _ : state) {
        fixture.project->addDependency(free, fixture.first());
        state.PauseTiming();
        fixture.history.undoLast();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_AddDependency)->Unit(benchmark::kMillisecond);

void BM_UndoAddDependency(benchmark::State &state)
{
    ChainFixture fixture;
    const TaskPtr free = fixture.project->tasks()[0];
    for (auto _ : state) {
        state.PauseTiming();
        fixture.project->addDependency(free, fixture.first());
        state.ResumeTiming();
        fixture.history.undoLast();
    }
}
BENCHMARK(BM_UndoAddDependency)->Unit(benchmark::kMillisecond);

// What one drag release costs in a large plan: the last task moves, nothing else has to.
void BM_MoveOneTaskOf100k(benchmark::State &state)
{
    auto [tasks, pairs] = generate(100000, 100000);
    const auto project = Project::load(QStringLiteral("Large"), tasks, pairs);
    ChainFixture::History history;
    project->setUndoManager(&history);
    const TaskPtr last = project->tasks().last();
    for (auto _ : state) {
        project->moveTask(last, 5.0);
        state.PauseTiming();
        history.undoLast();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_MoveOneTaskOf100k)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
