// Frame times of the chart and the names list on a plan of 100,000 tasks, and how long a change
// takes to reach the screen.

#include "ChartPlan.h"
#include "GanttView.h"
#include "IntPublisher.h"
#include "OffscreenMain.h"
#include "Project.h"
#include "ProjectView.h"
#include "TaskNamesView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPaintEvent>
#include <QScrollBar>
#include <benchmark/benchmark.h>

#include <memory>

namespace {

using benchplan::largePlan;
using benchplan::LastStep;
using benchplan::taskCount;
const QSize chartSize(1000, 700);

// Counts the paints of a widget. A paint has ended by the time the event loop call that
// delivered it returns.
class PaintCounter final : public QObject {
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    int paints = 0;

    // Runs the event loop until the widget has painted again.
    void waitForPaint(int before) const
    {
        while (paints == before)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Shared by all benchmarks: building the plan takes longer than any of them.
struct Fixture {
    std::unique_ptr<Project> project = largePlan();
    LastStep history;
    IntPublisher selection;

    Fixture() { project->setUndoManager(&history); }
    static Fixture &instance()
    {
        static Fixture fixture;
        return fixture;
    }
};

// 0: top, 1: middle, 2: bottom of the list.
void scrollTo(QAbstractScrollArea &area, int where)
{
    QScrollBar *bar = area.verticalScrollBar();
    bar->setValue(where == 0 ? 0 : where == 1 ? bar->maximum() / 2 : bar->maximum());
    QCoreApplication::processEvents();
}

const char *placeName(int where)
{
    return where == 0 ? "top" : where == 1 ? "middle" : "bottom";
}

// One full chart frame rendered into an image, as the window's backing store would receive it:
// time scale, grid, dependency arrows and boxes, at fit and zoomed in 50 times (scrolled to the
// middle of the span, where the most arrows cross the screen).
void BM_ChartFrame(benchmark::State &state)
{
    Fixture &fixture = Fixture::instance();
    GanttView view(fixture.project.get(), &fixture.selection);
    view.resize(chartSize);
    view.show();
    QCoreApplication::processEvents();
    const auto zoom = double(state.range(1));
    view.setZoom(zoom, 0.0);
    QScrollBar *sideways = view.horizontalScrollBar();
    sideways->setValue(sideways->maximum() / 2);
    scrollTo(view, int(state.range(0)));
    if (view.zoom() != zoom || !view.showsDependencies()) {
        state.SkipWithError("the chart did not zoom, or draws no arrows");
        return;
    }
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        view.render(&image);
        benchmark::ClobberMemory();
    }
    state.SetLabel(std::string(placeName(int(state.range(0)))) + (zoom > 1.0 ? ", zoomed 50x" : ", fit"));
}
BENCHMARK(BM_ChartFrame)->ArgsProduct({ { 0, 1, 2 }, { 1, 50 } })->Unit(benchmark::kMillisecond);

// The hard shape for arrows: every row on screen at the top has 2,000 successors far below, and
// every row on screen in the middle 2,000 predecessors far above. The frame visits the 56,000
// edges of the rows shown and draws what of them is on screen. The far tasks all end at one time,
// or each at its own, so that no two of a row's predecessors turn at the same x.
std::unique_ptr<Project> hubsProject(bool staggered)
{
    constexpr int hubs = 30;
    constexpr int fan = 2000;
    TaskList tasks;
    QList<IntPair> pairs;
    for (int i = 0; i < taskCount; ++i) {
        const bool far = i >= 1000 && i < 1000 + fan;
        const bool early = i < hubs || far;
        const double start = early ? double(i < hubs ? 0 : 3600) : 7200.0 + double(i % 500) * 60.0;
        const double duration = far && staggered ? 600.0 + double(i - 1000) : 600.0;
        tasks.append(Task::create(i + 1, nullptr, QStringLiteral("Task %1").arg(i), duration, start + 600.0));
    }
    for (int hub = 0; hub < hubs; ++hub) {
        for (int k = 0; k < fan; ++k)
            pairs.append({ hub + 1, 1000 + k + 1 });
        // The middle rows' predecessors lie far above them.
        for (int k = 0; k < fan; ++k)
            pairs.append({ 1000 + k + 1, taskCount / 2 + hub + 1 });
    }
    return Project::load(QStringLiteral("Hubs"), tasks, pairs);
}

void BM_ChartFrameHubs(benchmark::State &state)
{
    static const std::unique_ptr<Project> alike = hubsProject(false);
    static const std::unique_ptr<Project> staggered = hubsProject(true);
    Project *project = state.range(0) == 2 ? staggered.get() : alike.get();
    IntPublisher selection;
    GanttView view(project, &selection);
    view.resize(chartSize);
    view.show();
    QCoreApplication::processEvents();
    view.verticalScrollBar()->setValue(state.range(0) == 0 ? 0 : taskCount / 2 * 25);
    QCoreApplication::processEvents();
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        view.render(&image);
        benchmark::ClobberMemory();
    }
    state.SetLabel(state.range(0) == 0 ? "2,000 successors a row"
            : state.range(0) == 1      ? "2,000 predecessors a row, ending at one time"
                                       : "2,000 predecessors a row, each ending at its own time");
}
BENCHMARK(BM_ChartFrameHubs)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// A whole window's frame (panel, names list, chart) with a task selected whose name is 50 MB:
// each place that shows the name cuts it before measuring, so the frame costs what a short name's
// does. The baseline is the same frame with the name the task had.
void BM_WindowFrameSelectedName(benchmark::State &state)
{
    Fixture &fixture = Fixture::instance();
    ProjectView window(fixture.project.get());
    window.resize(chartSize.width() + 480, chartSize.height());
    window.show();
    QCoreApplication::processEvents();
    scrollTo(*window.ganttView(), 1);
    const qsizetype row = window.ganttView()->verticalScrollBar()->value() / 25 + 10;
    const TaskPtr task = fixture.project->tasks().at(row);
    const QString name = task->name();
    const bool huge = state.range(0) != 0;
    if (huge)
        task->setName(QString(50 * 1024 * 1024, QChar(u'n')));
    window.selectedTaskIdHolder()->setRef(task->id());
    QCoreApplication::processEvents();
    QImage image(window.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        window.render(&image);
        benchmark::ClobberMemory();
    }
    window.selectedTaskIdHolder()->setRef(std::nullopt);
    task->setName(name);
    state.SetLabel(huge ? "50 MB name" : "its own name");
}
BENCHMARK(BM_WindowFrameSelectedName)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// One full frame of the names list beside the chart.
void BM_NamesFrame(benchmark::State &state)
{
    Fixture &fixture = Fixture::instance();
    TaskNamesView view(fixture.project.get(), &fixture.selection);
    view.resize(200, chartSize.height());
    view.show();
    QCoreApplication::processEvents();
    scrollTo(view, int(state.range(0)));
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        view.render(&image);
        benchmark::ClobberMemory();
    }
    state.SetLabel(placeName(int(state.range(0))));
}
BENCHMARK(BM_NamesFrame)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// Building the names list over the plan and showing its first frame: what opening a file adds.
void BM_NamesListOpen(benchmark::State &state)
{
    Fixture &fixture = Fixture::instance();
    for (auto _ : state) {
        TaskNamesView view(fixture.project.get(), &fixture.selection);
        view.resize(200, chartSize.height());
        view.show();
        QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
        view.render(&image);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_NamesListOpen)->Unit(benchmark::kMillisecond);

enum Change { Notification, MoveTask, ChangeDuration, Scroll };

const char *changeName(Change change)
{
    switch (change) {
    case Notification:
        return "start notification";
    case MoveTask:
        return "moveTask";
    case ChangeDuration:
        return "changeDuration";
    case Scroll:
        return "scroll one page";
    }
    return "";
}

// From a change of a task on screen to the end of the repaint it causes in a shown chart: a bare
// notification (the views' part alone), or a whole model operation with its propagation, span
// and undo snapshot of the 100,000 tasks; or a page of scrolling. Changes are taken back outside
// the timing.
void BM_ChartChangeToRepaint(benchmark::State &state)
{
    const auto change = Change(state.range(0));
    Fixture &fixture = Fixture::instance();
    GanttView view(fixture.project.get(), &fixture.selection);
    view.resize(chartSize);
    PaintCounter counter(view.viewport());
    view.show();
    QCoreApplication::processEvents();
    scrollTo(view, 1);
    const qsizetype row = view.verticalScrollBar()->value() / 25 + 10;
    const TaskPtr task = fixture.project->tasks().at(row);
    const double start = task->start();
    const double duration = task->duration();
    QScrollBar *bar = view.verticalScrollBar();
    const int scrolled = bar->value();
    for (auto _ : state) {
        const int before = counter.paints;
        switch (change) {
        case Notification:
            task->setStart(start + 60.0);
            break;
        case MoveTask:
            fixture.project->moveTask(task, 60.0);
            break;
        case ChangeDuration:
            fixture.project->changeDuration(task, duration + 60.0);
            break;
        case Scroll:
            bar->setValue(scrolled + bar->pageStep());
            break;
        }
        counter.waitForPaint(before);
        state.PauseTiming();
        switch (change) {
        case Notification:
            task->setStart(start);
            break;
        case MoveTask:
        case ChangeDuration:
            fixture.history.undo();
            break;
        case Scroll:
            bar->setValue(scrolled);
            break;
        }
        counter.waitForPaint(counter.paints);
        state.ResumeTiming();
    }
    state.SetLabel(changeName(change));
}
BENCHMARK(BM_ChartChangeToRepaint)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// The model's part of the two operations above, with no view listening: the rest of their time
// is the views'.
void BM_ModelChangeAlone(benchmark::State &state)
{
    const auto change = Change(state.range(0));
    Fixture &fixture = Fixture::instance();
    const TaskPtr task = fixture.project->tasks().at(fixture.project->tasks().size() / 2);
    const double duration = task->duration();
    for (auto _ : state) {
        if (change == MoveTask)
            fixture.project->moveTask(task, 60.0);
        else
            fixture.project->changeDuration(task, duration + 60.0);
        state.PauseTiming();
        fixture.history.undo();
        state.ResumeTiming();
    }
    state.SetLabel(changeName(change));
}
BENCHMARK(BM_ModelChangeAlone)->Arg(MoveTask)->Arg(ChangeDuration)->Unit(benchmark::kMillisecond);

// The same through a whole window's content, with the changed task selected, so that the names
// list, the properties panel and the chart all follow.
void BM_WindowChangeToRepaint(benchmark::State &state)
{
    const auto change = Change(state.range(0));
    Fixture &fixture = Fixture::instance();
    ProjectView window(fixture.project.get());
    window.resize(chartSize.width() + 480, chartSize.height());
    window.show();
    QCoreApplication::processEvents();
    GanttView *chart = window.ganttView();
    const PaintCounter counter(chart->viewport());
    scrollTo(*chart, 1);
    const qsizetype row = chart->verticalScrollBar()->value() / 25 + 10;
    const TaskPtr task = fixture.project->tasks().at(row);
    window.selectedTaskIdHolder()->setRef(task->id());
    QCoreApplication::processEvents();
    const double duration = task->duration();
    for (auto _ : state) {
        const int before = counter.paints;
        if (change == MoveTask)
            fixture.project->moveTask(task, 60.0);
        else
            fixture.project->changeDuration(task, duration + 60.0);
        // The panel and the names list repaint in the same pass as the chart.
        counter.waitForPaint(before);
        state.PauseTiming();
        fixture.history.undo();
        counter.waitForPaint(counter.paints);
        state.ResumeTiming();
    }
    state.SetLabel(changeName(change));
}
BENCHMARK(BM_WindowChangeToRepaint)->Arg(MoveTask)->Arg(ChangeDuration)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return runOffscreenBenchmarks<QApplication>(argc, argv);
}
