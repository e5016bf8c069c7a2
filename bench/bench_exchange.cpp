// Import and export of a 100,000-task plan in MS Project XML and Planner form, against opening the
// same plan from our own file; and the peak memory of an import beside the file's size.

#include "PlanExchange.h"
#include "Project.h"
#include "ProjectFile.h"

#include <benchmark/benchmark.h>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int taskCount = 100000;

// Tasks back to back, ten minutes each, every one after one of the fifty before it, one in seven
// in one of five groups; dated from a Monday.
const Project &plan()
{
    static const std::unique_ptr<Project> project = [] {
        std::mt19937 random(42);
        TaskList tasks;
        tasks.reserve(taskCount);
        for (int i = 0; i < taskCount; ++i)
            tasks.append(Task::createStartingAt(i + 1, nullptr, QStringLiteral("Task %1").arg(i), 600.0 * i, 600.0,
                i % 7 == 0 ? ExclusionGroup(QString(QChar(u'A' + i % 5))) : ExclusionGroup()));
        QList<IntPair> pairs;
        for (int i = 1; i < taskCount; ++i)
            pairs.append({ i + 1 - qint64(1 + random() % std::min(50u, unsigned(i))), i + 1 });
        auto made = Project::load(QStringLiteral("Benchmark"), tasks, pairs);
        made->setOrigin(QDateTime(QDate(2026, 12, 14), QTime(8, 0), Qt::LocalTime));
        return made;
    }();
    return *project;
}

const QByteArray &fileOf(PlanExchange::Format format)
{
    static const QByteArray mspdi = PlanExchange::exportPlan(plan(), PlanExchange::Format::Mspdi, {});
    static const QByteArray planner = PlanExchange::exportPlan(plan(), PlanExchange::Format::Planner, {});
    return format == PlanExchange::Format::Mspdi ? mspdi : planner;
}

// The most memory an import takes beyond what the process held before, in a child of its own so
// that nothing earlier counts, as a multiple of the file's size. First, so that no memory the
// other runs freed is there to be taken again unseen.
void BM_ImportPeakMemory(benchmark::State &state)
{
    const auto format = PlanExchange::Format(state.range(0));
    const QByteArray &bytes = fileOf(format);
    double ratio = 0;
    for (auto _ : state) {
        int pipeEnds[2];
        if (pipe(pipeEnds) != 0) {
            state.SkipWithError("pipe");
            return;
        }
        const pid_t child = fork();
        if (child == 0) {
            // Touches every page the parent's heap holds, so the peak before the import is the baseline.
            rusage before {};
            getrusage(RUSAGE_SELF, &before);
            {
                const PlanExchange::Imported imported = PlanExchange::importPlan(bytes, format, QStringLiteral("b"));
                benchmark::DoNotOptimize(imported.project.get());
                rusage after {};
                getrusage(RUSAGE_SELF, &after);
                const long grown = (after.ru_maxrss - before.ru_maxrss) * 1024;
                (void)!write(pipeEnds[1], &grown, sizeof grown);
            }
            _exit(0);
        }
        close(pipeEnds[1]);
        long grown = 0;
        (void)!read(pipeEnds[0], &grown, sizeof grown);
        close(pipeEnds[0]);
        waitpid(child, nullptr, 0);
        ratio = double(grown) / double(bytes.size());
    }
    state.counters["peak_over_file"] = ratio;
    state.counters["MB"] = double(bytes.size()) / 1e6;
}
BENCHMARK(BM_ImportPeakMemory)
    ->Arg(int(PlanExchange::Format::Mspdi))
    ->Arg(int(PlanExchange::Format::Planner))
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_OwnOpen(benchmark::State &state)
{
    const QByteArray bytes = writeProject(plan());
    for (auto _ : state)
        benchmark::DoNotOptimize(readProject(bytes));
    state.counters["MB"] = double(bytes.size()) / 1e6;
}
BENCHMARK(BM_OwnOpen)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Import(benchmark::State &state)
{
    const auto format = PlanExchange::Format(state.range(0));
    const QByteArray &bytes = fileOf(format);
    for (auto _ : state)
        benchmark::DoNotOptimize(PlanExchange::importPlan(bytes, format, QStringLiteral("b")));
    state.counters["MB"] = double(bytes.size()) / 1e6;
}
BENCHMARK(BM_Import)
    ->Arg(int(PlanExchange::Format::Mspdi))
    ->Arg(int(PlanExchange::Format::Planner))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_Export(benchmark::State &state)
{
    const auto format = PlanExchange::Format(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(PlanExchange::exportPlan(plan(), format, {}));
}
BENCHMARK(BM_Export)
    ->Arg(int(PlanExchange::Format::Mspdi))
    ->Arg(int(PlanExchange::Format::Planner))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
