// What recovery copies cost the UI thread on a 100,000-task plan, and what opening a plan costs
// with the copy's watcher attached, against reading the file alone.

#include "OffscreenMain.h"
#include "Project.h"
#include "ProjectController.h"
#include "ProjectFile.h"

#include <QApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <vector>

namespace {

// Tasks back to back, ten seconds each, every one depending on the one before and every seventh
// in one of five exclusion groups.
const QByteArray &largeFile()
{
    static const QByteArray bytes = [] {
        TaskList tasks;
        QList<IntPair> pairs;
        for (int i = 0; i < 100000; ++i) {
            tasks.append(Task::create(i + 1, nullptr, QStringLiteral("Task %1").arg(i), 10.0, 10.0 * (i + 1),
                i % 7 == 0 ? ExclusionGroup(QString(QChar(u'A' + i % 5))) : ExclusionGroup()));
            if (i > 0)
                pairs.append({ i, i + 1 });
        }
        return writeProject(*Project::load(QStringLiteral("Benchmark"), tasks, pairs));
    }();
    return bytes;
}

// Built against a tree from before recovery copies, for the comparison of opening, it has only that.
#if __has_include("Autosave.h")
#include "Autosave.h"

// The part of one copy that runs on the UI thread: the project's bytes and the hand-over to the
// writer. The write itself is waited for outside the timing.
void BM_AutosaveOnUiThread(benchmark::State &state)
{
    const std::unique_ptr<Project> project = readProject(largeFile());
    Autosave autosave(project.get(), [] { return std::optional<QString>(QStringLiteral("/tmp/plan.quillfern")); });
    for (auto _ : state) {
        state.PauseTiming();
        project->setDirty(true);
        state.ResumeTiming();
        autosave.writeNow();
        state.PauseTiming();
        Recovery::waitForWrites();
        state.ResumeTiming();
    }
    autosave.removeCopy();
    Recovery::waitForWrites();
}
BENCHMARK(BM_AutosaveOnUiThread)->Unit(benchmark::kMillisecond)->UseRealTime();

// The writer alone, which the copy above runs once.
void BM_ProjectBytes(benchmark::State &state)
{
    const std::unique_ptr<Project> project = readProject(largeFile());
    for (auto _ : state)
        benchmark::DoNotOptimize(writeProject(*project));
}
BENCHMARK(BM_ProjectBytes)->Unit(benchmark::kMillisecond);
#endif

// Opening without a window: reading alone (0), and reading with the controller and its recovery
// copy's watcher (1). The same source builds against a tree from before recovery copies, where
// controllers cannot be dropped, so in both they stay open until the end.
void BM_OpenPlan(benchmark::State &state)
{
    const bool controller = state.range(0) != 0;
    std::vector<std::unique_ptr<Project>> read;
    for (auto _ : state) {
        std::unique_ptr<Project> project = readProject(largeFile());
        if (controller)
            ProjectController::open(std::move(project), QStringLiteral("/tmp/plan.quillfern"));
        else
            read.push_back(std::move(project));
    }
}
BENCHMARK(BM_OpenPlan)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(8);

} // namespace

int main(int argc, char **argv)
{
    // Copies go to a folder of their own, never the user's.
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    return runOffscreenBenchmarks<QApplication>(argc, argv);
}
