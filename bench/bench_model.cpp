// Speed and memory of the project file and of load repair on large plans, and of edits on a
// 10,000-task chain. The engine on the largest plans has a program of its own, bench_engine.cpp.

#include "Ids.h"
#include "Project.h"
#include "ProjectFile.h"

#include <QTemporaryFile>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <nlohmann/json.hpp>
#include <random>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

namespace {

// Tasks back to back, ten seconds each; every task depends on one of the fifty before it, and with
// more dependencies than tasks on further earlier ones. All dependencies agree with the times.
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

// A plan whose repair has work to do. Half of its tasks form rings of zero-length tasks at one
// instant, of sizes spread over 2 to 1,000, each ring entered from the task before it; the other
// tasks lie back to back, ten seconds each, each depending on one of the fifty tasks before it,
// and every hundredth of them also on the task before it, which the times contradict. Repair keeps
// the times and has to drop one dependency per ring and every contradicted one: dropped says how
// many.
struct RepairPlan {
    TaskList tasks;
    QList<IntPair> pairs;
    qsizetype dropped = 0;
};

RepairPlan generateWithRings(int taskCount, unsigned seed = 42)
{
    std::mt19937 random(seed);
    RepairPlan plan;
    plan.tasks.reserve(taskCount);
    const auto add = [&](double duration, double end) {
        const qsizetype id = plan.tasks.size() + 1;
        plan.tasks.append(Task::create(id, nullptr, QStringLiteral("Task %1").arg(id), duration, end));
        return id;
    };
    double time = 0.0;
    for (int ring = 0; plan.tasks.size() < taskCount; ++ring) {
        const int size = 2 + ring * 389 % 999;
        for (int i = 0; i < size && plan.tasks.size() < taskCount; ++i) {
            time += 10.0;
            const qsizetype id = add(10.0, time);
            if (id == 1)
                continue;
            const qsizetype back = 1 + qsizetype(random() % std::min(50u, unsigned(id - 1)));
            plan.pairs.append({ id - back, id });
            if (id % 100 == 0) {
                plan.pairs.append({ id, id - 1 });
                ++plan.dropped;
            }
        }
        const qsizetype first = plan.tasks.size() + 1;
        const qsizetype members = std::min<qsizetype>(size, taskCount - plan.tasks.size());
        if (members < 2)
            continue;
        for (qsizetype i = 0; i < members; ++i)
            add(0.0, time);
        plan.pairs.append({ first - 1, first });
        for (qsizetype i = 0; i < members; ++i)
            plan.pairs.append({ first + i, first + (i + 1) % members });
        ++plan.dropped;
    }
    return plan;
}

const QByteArray &largeFile()
{
    static const QByteArray bytes = generateFile(100000, 100000);
    return bytes;
}

// Bytes in use on the heap. Mapped chunks count too: glibc serves large blocks, such as the
// buffer of a 100,000-entry list, by mmap, and uordblks alone would not see them.
size_t heapInUse()
{
    malloc_trim(0);
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// Heap bytes held per task of a loaded 100,000-task project, file bytes excluded. First of all, on a
// heap that holds only the file.
void BM_MemoryPerTask(benchmark::State &state)
{
    const QByteArray &bytes = largeFile();
    double perTask = 0;
    for (auto _ : state) {
        const size_t before = heapInUse();
        auto project = readProject(bytes);
        const size_t after = heapInUse();
        perTask = double(after - before) / double(project->tasks().size());
        benchmark::DoNotOptimize(project);
    }
    state.counters["bytes_per_task"] = perTask;
}
BENCHMARK(BM_MemoryPerTask)->Unit(benchmark::kMillisecond)->Iterations(1);

// Takes every event of a SAX parse and builds nothing.
struct NullHandler {
    using Json = nlohmann::json;
    bool null() { return true; }
    bool boolean(bool) { return true; }
    bool number_integer(Json::number_integer_t) { return true; }
    bool number_unsigned(Json::number_unsigned_t) { return true; }
    bool number_float(Json::number_float_t, const Json::string_t &) { return true; }
    bool string(Json::string_t &) { return true; }
    bool binary(Json::binary_t &) { return true; }
    bool start_object(std::size_t) { return true; }
    bool key(Json::string_t &) { return true; }
    bool end_object() { return true; }
    bool start_array(std::size_t) { return true; }
    bool end_array() { return true; }
    bool parse_error(std::size_t, const std::string &, const nlohmann::detail::exception &) { return false; }
};

// The parse the reader runs, with nothing built: what opening costs beyond it is the reader's own.
void BM_ParseJsonOnly(benchmark::State &state)
{
    const QByteArray &bytes = largeFile();
    for (auto _ : state) {
        NullHandler handler;
        if (!nlohmann::json::sax_parse(bytes.constBegin(), bytes.constEnd(), &handler)) {
            state.SkipWithError("the file does not parse");
            break;
        }
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
        state.PauseTiming();
        project.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_OpenProject)->Unit(benchmark::kMillisecond);

// The whole "quillfern --check" of the same bytes as BM_OpenProject, start-up and report included.
void BM_CheckCommand(benchmark::State &state)
{
    QTemporaryFile file;
    if (!file.open() || file.write(largeFile()) != largeFile().size() || !file.flush()) {
        state.SkipWithError("the file could not be written");
        return;
    }
    QByteArray path = file.fileName().toLocal8Bit();
    char program[] = QUILLFERN_BINARY;
    char option[] = "--check";
    char *arguments[] = { program, option, path.data(), nullptr };
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    // On a shared machine the wall clock says little; the processor time of the runs compares with
    // the CPU column of BM_OpenProject.
    rusage before {};
    getrusage(RUSAGE_CHILDREN, &before);
    for (auto _ : state) {
        pid_t child = 0;
        int status = 0;
        if (posix_spawn(&child, program, &actions, nullptr, arguments, environ) != 0
            || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("quillfern --check failed");
            break;
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    rusage after {};
    getrusage(RUSAGE_CHILDREN, &after);
    const auto milliseconds
        = [](const timeval &time) { return double(time.tv_sec) * 1e3 + double(time.tv_usec) / 1e3; };
    const double used = milliseconds(after.ru_utime) + milliseconds(after.ru_stime) - milliseconds(before.ru_utime)
        - milliseconds(before.ru_stime);
    state.counters["cpu_ms_per_run"] = used / double(std::max<benchmark::IterationCount>(1, state.iterations()));
}
BENCHMARK(BM_CheckCommand)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SaveProject(benchmark::State &state)
{
    const auto project = readProject(largeFile());
    for (auto _ : state) {
        QByteArray bytes = writeProject(*project);
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(BM_SaveProject)->Unit(benchmark::kMillisecond);

// Load repair alone, over a growing number of tasks with cycles of every size and contradicted
// dependencies to drop: since the mix of ring sizes stays the same, it should grow about linearly.
void BM_LoadRepair(benchmark::State &state)
{
    const int count = int(state.range(0));
    qsizetype dropped = 0;
    for (auto _ : state) {
        state.PauseTiming();
        RepairPlan plan = generateWithRings(count);
        state.ResumeTiming();
        auto project = Project::load(QStringLiteral("Benchmark"), plan.tasks, plan.pairs);
        state.PauseTiming();
        dropped = project->deletedEdges().size();
        project.reset();
        plan.tasks.clear();
        if (dropped != plan.dropped) {
            state.SkipWithError("repair dropped another number of dependencies than the rings and times demand");
            break;
        }
        state.ResumeTiming();
    }
    state.counters["dropped"] = double(dropped);
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
        // Undoes the last step and hands it back, so that the caller can drop it with the clock stopped.
        std::unique_ptr<UndoStep> undoLast()
        {
            std::unique_ptr<UndoStep> step = std::move(steps.back());
            steps.pop_back();
            step->undo();
            return step;
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
        if (fixture.project->tasks().last()->start() < 100.0) {
            state.SkipWithError("the chain was not pushed");
            break;
        }
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
        std::unique_ptr<UndoStep> step = fixture.history.undoLast();
        state.PauseTiming();
        step.reset();
        state.ResumeTiming();
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
        std::unique_ptr<UndoStep> step = fixture.history.undoLast();
        state.PauseTiming();
        step.reset();
        state.ResumeTiming();
    }
}
// A fixed count: the undo takes microseconds, and the edit before each, not timed, a millisecond,
// so a count chosen by the timed part alone would run for minutes.
BENCHMARK(BM_UndoChangeDuration)->Unit(benchmark::kMillisecond)->Iterations(2000);

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
        std::unique_ptr<UndoStep> step = fixture.history.undoLast();
        state.PauseTiming();
        step.reset();
        state.ResumeTiming();
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
