// A plan of 100,000 tasks with dates: the slack of every task after an edit, one keystroke of the
// find bar, and chart frames with dates, weekends, the critical path and the selected task's arrows.

#include "ChartPlan.h"
#include "FindBar.h"
#include "GanttView.h"
#include "IntPublisher.h"
#include "OffscreenMain.h"
#include "Project.h"
#include "Slack.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <benchmark/benchmark.h>

#include <memory>

namespace {

using benchplan::largePlan;
using benchplan::LastStep;
using benchplan::taskCount;

// The chart's benchmark plan, dated.
std::unique_ptr<Project> datedPlan()
{
    std::unique_ptr<Project> project = largePlan();
    project->setOrigin(QDateTime(QDate(2026, 12, 11), QTime(8, 0), Qt::LocalTime));
    return project;
}

struct Fixture {
    std::unique_ptr<Project> project = datedPlan();
    LastStep history;
    IntPublisher selection;

    Fixture() { project->setUndoManager(&history); }
    static Fixture &instance()
    {
        static Fixture fixture;
        return fixture;
    }
};

// What the highlight and the panel wait for after an edit: the slack of every task, worked out
// again. The edit (a move of a task in the middle of the list) and its undo are not timed.
void BM_SlackAfterEdit(benchmark::State &state)
{
    Fixture &fixture = Fixture::instance();
    SlackTracker tracker(fixture.project.get());
    const TaskPtr moved = fixture.project->tasks().at(taskCount / 2);
    double sum = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        fixture.project->moveTask(moved, 60.0);
        state.ResumeTiming();
        sum += tracker.slackOf(*moved);
        state.PauseTiming();
        fixture.history.undo();
        state.ResumeTiming();
    }
    benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_SlackAfterEdit)->Unit(benchmark::kMillisecond);

void BM_SlackOnly(benchmark::State &state)
{
    Fixture &fixture = Fixture::instance();
    for (auto _ : state)
        benchmark::DoNotOptimize(Slack::of(*fixture.project));
}
BENCHMARK(BM_SlackOnly)->Unit(benchmark::kMillisecond);

// One keystroke in the find bar, from the key event to the task selected: a digit typed that
// narrows "Task 4" to "Task 47", then Backspace, in turn.
void BM_FindKeystroke(benchmark::State &state)
{
    Fixture &fixture = Fixture::instance();
    FindBar bar(fixture.project.get(), &fixture.selection);
    bar.show();
    bar.open();
    QLineEdit *field = bar.field();
    field->setText(QStringLiteral("task 4"));
    bool typed = false;
    for (auto _ : state) {
        QKeyEvent press(QEvent::KeyPress, typed ? Qt::Key_Backspace : Qt::Key_7, Qt::NoModifier,
            typed ? QString() : QStringLiteral("7"));
        QCoreApplication::sendEvent(field, &press);
        typed = !typed;
    }
    state.SetLabel(bar.countLabel()->text().toStdString());
}
BENCHMARK(BM_FindKeystroke)->Unit(benchmark::kMillisecond);

// A chart frame with dates, weekends, the critical path and a selected task's arrows, at fit and
// zoomed in 50 times, in the middle of the list.
void BM_ChartFrameDated(benchmark::State &state)
{
    Fixture &fixture = Fixture::instance();
    GanttView view(fixture.project.get(), &fixture.selection);
    view.resize(1000, 700);
    view.show();
    QCoreApplication::processEvents();
    const auto zoom = double(state.range(0));
    view.setZoom(zoom, 0.0);
    view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->maximum() / 2);
    view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum() / 2);
    view.setHighlightCritical(state.range(1) != 0);
    const qsizetype row = view.verticalScrollBar()->value() / 25 + 10;
    fixture.selection.setRef(fixture.project->tasks().at(row)->id());
    QCoreApplication::processEvents();
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    view.render(&image);
    for (auto _ : state) {
        view.render(&image);
        benchmark::ClobberMemory();
    }
    fixture.selection.setRef(std::nullopt);
    state.SetLabel(std::string(zoom > 1.0 ? "zoomed 50x" : "fit") + (state.range(1) ? ", critical path" : ""));
}
BENCHMARK(BM_ChartFrameDated)->ArgsProduct({ { 1, 50 }, { 0, 1 } })->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return runOffscreenBenchmarks<QApplication>(argc, argv);
}
