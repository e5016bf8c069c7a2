#pragma once

// The plan the chart and calendar benchmarks draw and edit, and an undo manager that keeps only
// the last step.

#include "Project.h"

#include <algorithm>
#include <memory>

namespace benchplan {

constexpr int taskCount = 100000;

// Tasks spread over some seventeen hours, five to fifty-four minutes long, so that the boxes on
// screen have widths worth drawing; every seventh in one of five groups; each task depends on a
// recent one that ends before it starts, where there is one.
inline std::unique_ptr<Project> largePlan()
{
    TaskList tasks;
    tasks.reserve(taskCount);
    QList<IntPair> pairs;
    pairs.reserve(taskCount);
    for (int i = 0; i < taskCount; ++i) {
        const double start = double(i * 37 % 1000) * 60.0;
        const double duration = double(5 + i % 50) * 60.0;
        tasks.append(Task::create(i + 1, nullptr, QStringLiteral("Task %1").arg(i), duration, start + duration,
            i % 7 == 0 ? ExclusionGroup(QString(QChar(u'A' + i % 5))) : ExclusionGroup()));
        for (int back = 1; back <= std::min(i, 50); ++back) {
            if (tasks[i - back]->end() <= start) {
                pairs.append({ i - back + 1, i + 1 });
                break;
            }
        }
    }
    return Project::load(QStringLiteral("Large"), tasks, pairs);
}

// Keeps the last step only, so that a benchmark can take its change back between iterations.
class LastStep final : public UndoManager {
public:
    void registerUndo(const QString &, std::unique_ptr<UndoStep> step) override { m_step = std::move(step); }
    // Undoing registers the redo step, which is dropped.
    void undo()
    {
        const std::unique_ptr<UndoStep> step = std::move(m_step);
        if (step)
            step->undo();
        m_step.reset();
    }

private:
    std::unique_ptr<UndoStep> m_step;
};

} // namespace benchplan
