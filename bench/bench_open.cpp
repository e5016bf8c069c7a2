// What opening a 1,000,000-task plan costs the UI thread: when its progress window shows, and
// the longest time the UI thread went without handling its events, against reading and decoding
// the same file on the UI thread. Also saving such a plan, split into taking its bytes and writing
// them out.

#include "AppDelegate.h"
#include "FileAccess.h"
#include "OffscreenMain.h"
#include "Project.h"
#include "ProjectController.h"
#include "ProjectFile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

namespace {

constexpr int taskCount = 1000000;

// Tasks back to back, each depending on the one before, every seventh in one of five groups.
const QString &largeFile()
{
    static QTemporaryDir folder;
    static const QString path = [] {
        TaskList tasks;
        QList<IntPair> pairs;
        for (int i = 0; i < taskCount; ++i) {
            tasks.append(Task::create(i + 1, nullptr, QStringLiteral("Task %1").arg(i), 10.0, 10.0 * (i + 1),
                i % 7 == 0 ? ExclusionGroup(QString(QChar(u'A' + i % 5))) : ExclusionGroup()));
            if (i > 0)
                pairs.append({ i, i + 1 });
        }
        const QString file = folder.filePath(QStringLiteral("large.quillfern"));
        replaceFile(file, writeProject(*Project::load(QStringLiteral("Benchmark"), tasks, pairs)));
        return file;
    }();
    return path;
}

// Watches the UI thread through a timer of 1 ms: the longest gap between its ticks, and when a
// progress window was first seen.
class StallWatch {
public:
    StallWatch()
    {
        m_clock.start();
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
            if (m_progressShown < 0) {
                for (QWidget *widget : QApplication::topLevelWidgets()) {
                    if (qobject_cast<QProgressDialog *>(widget) && widget->isVisible())
                        m_progressShown = now;
                }
            }
        });
        m_timer.start();
    }
    // Also counts the gap up to now, for work that never returned to the event loop.
    [[nodiscard]] double longestMs()
    {
        m_longest = std::max(m_longest, m_clock.nsecsElapsed() - m_last);
        return double(m_longest) / 1e6;
    }
    [[nodiscard]] double progressMs() const { return m_progressShown < 0 ? -1.0 : double(m_progressShown) / 1e6; }

private:
    QElapsedTimer m_clock;
    QTimer m_timer;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    qint64 m_progressShown = -1;
};

// The open the program does: read and decoded off the UI thread, the window shown on it.
void BM_OpenOffTheUiThread(benchmark::State &state)
{
    const QString &file = largeFile();
    double stall = 0.0;
    double progress = 0.0;
    double stallSum = 0.0;
    double progressSum = 0.0;
    for (auto _ : state) {
        StallWatch watch;
        if (!AppDelegate::openProject(file))
            state.SkipWithError("the plan did not open");
        const double longest = watch.longestMs();
        stall = std::max(stall, longest);
        stallSum += longest;
        progress = std::max(progress, watch.progressMs());
        progressSum += watch.progressMs();
        state.PauseTiming();
        ProjectController::discardAll();
        state.ResumeTiming();
    }
    // The first open of a run also makes the first window of the run.
    const auto runs = double(state.iterations());
    state.counters["longest_stall_ms"] = stall;
    state.counters["longest_stall_mean_ms"] = stallSum / runs;
    state.counters["progress_shown_ms"] = progress;
    state.counters["progress_shown_mean_ms"] = progressSum / runs;
}
BENCHMARK(BM_OpenOffTheUiThread)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The baseline: the same read and decode on the UI thread, as opening did before.
void BM_OpenOnTheUiThread(benchmark::State &state)
{
    const QString &file = largeFile();
    double stall = 0.0;
    for (auto _ : state) {
        StallWatch watch;
        std::unique_ptr<Project> project = readProject(readWholeFile(file));
        stall = std::max(stall, watch.longestMs());
        state.PauseTiming();
        project.reset();
        state.ResumeTiming();
    }
    state.counters["longest_stall_ms"] = stall;
}
BENCHMARK(BM_OpenOnTheUiThread)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Save in a window: the longest the UI thread went without handling its events.
void BM_SaveFromTheWindow(benchmark::State &state)
{
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("saved.quillfern"));
    ProjectController *controller = ProjectController::open(readProject(readWholeFile(largeFile())), file);
    controller->showWindow();
    double stall = 0.0;
    for (auto _ : state) {
        controller->project()->setDirty(true);
        StallWatch watch;
        if (!controller->save())
            state.SkipWithError("the plan was not saved");
        stall = std::max(stall, watch.longestMs());
    }
    state.counters["longest_stall_ms"] = stall;
    ProjectController::discardAll();
}
BENCHMARK(BM_SaveFromTheWindow)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Saving as it was on the UI thread: the bytes taken, and the write with its sync.
void BM_SaveBytes(benchmark::State &state)
{
    const std::unique_ptr<Project> project = readProject(readWholeFile(largeFile()));
    for (auto _ : state)
        benchmark::DoNotOptimize(writeProject(*project));
}
BENCHMARK(BM_SaveBytes)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_SaveWrite(benchmark::State &state)
{
    const QByteArray bytes = readWholeFile(largeFile());
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("saved.quillfern"));
    for (auto _ : state)
        replaceFile(file, bytes);
}
BENCHMARK(BM_SaveWrite)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

int main(int argc, char **argv)
{
    return runOffscreenBenchmarks<QApplication>(argc, argv);
}
