// Exports of large plans: PDF of 2,000 and 100,000 tasks with the peak memory of the process, and
// CSV of 100,000 tasks. Run each alone (--benchmark_filter) for a peak that is its own.

#include "ChartExport.h"
#include "OffscreenMain.h"
#include "Project.h"
#include "ProjectCsv.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

// Tasks of ten minutes one after the other, each depending on the one before, every seventh in
// one of five exclusion groups.
std::unique_ptr<Project> chain(int count)
{
    TaskList tasks;
    tasks.reserve(count);
    QList<IntPair> pairs;
    pairs.reserve(count);
    for (int i = 0; i < count; ++i) {
        tasks.append(Task::createStartingAt(i + 1, nullptr, QStringLiteral("Task %1").arg(i), 600.0 * i, 600.0,
            i % 7 == 0 ? ExclusionGroup(QString(QChar(u'A' + i % 5))) : ExclusionGroup()));
        if (i > 0)
            pairs.append({ i, i + 1 });
    }
    return Project::load(QStringLiteral("Benchmark"), tasks, pairs);
}

// The most memory the process has held so far, in MiB.
double peakMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0.0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0.0;
}

void BM_ExportPdf(benchmark::State &state)
{
    const auto project = chain(int(state.range(0)));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("plan.pdf"));
    ChartExport::Appearance appearance;
    appearance.font = QGuiApplication::font();
    for (auto _ : state)
        ChartExport::writePdf(path, *project, QPageSize(QPageSize::A4), appearance);
    state.counters["peak_MiB"] = peakMegabytes();
    state.counters["file_MiB"] = double(QFileInfo(path).size()) / (1024.0 * 1024.0);
}
BENCHMARK(BM_ExportPdf)->Arg(2000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ExportCsv(benchmark::State &state)
{
    const auto project = chain(100000);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("plan.csv"));
    for (auto _ : state)
        ChartExport::writeCsv(path, *project);
}
BENCHMARK(BM_ExportCsv)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char *argv[])
{
    // Fonts need a GUI application, no widgets.
    return runOffscreenBenchmarks<QGuiApplication>(argc, argv);
}
