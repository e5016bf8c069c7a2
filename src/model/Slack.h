#pragma once

#include "Project.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <vector>

// How far each task could start later without moving the project's end: its dependencies push
// their successors, and the member of its exclusion group that comes next in time is pushed just
// as a successor would be. Worked out in one backward pass over the plan.
namespace Slack {

// The slack of every task, by row of the task list. Linear in tasks and dependencies, apart from
// ordering the members of each exclusion group by time.
[[nodiscard]] std::vector<double> of(const Project &project);
// Slack this small is rounding, not time to spare.
[[nodiscard]] double tolerance(const Project &project);

} // namespace Slack

// The slack of one project's tasks, worked out on first use after a change and then kept until
// the next one, so that it costs nothing while nothing reads it. The project must outlive it.
class SlackTracker final : public QObject {
    Q_OBJECT

public:
    explicit SlackTracker(Project *project, QObject *parent = nullptr);
    // The project's own tracker, which every view of it shares; made on first use, owned by the project.
    [[nodiscard]] static SlackTracker *of(Project *project);

    [[nodiscard]] Project *project() const { return m_project; }
    // Seconds; 0 for a task that is not the project's.
    [[nodiscard]] double slackOf(const Task &task) const;
    // Zero slack within the plan's rounding: the task decides the project's end.
    [[nodiscard]] bool isCritical(const Task &task) const;
    [[nodiscard]] bool isCriticalRow(qsizetype row) const;

Q_SIGNALS:
    // The plan changed, so slack may have: readers look again. Queued through the event loop, so
    // that nobody reads it halfway through an edit; where working it out takes longer than a frame
    // has (a plan of many thousand tasks), told once the edits pause, so that a burst of them (a key
    // held down) is not slowed by it. What reads slack meanwhile gets it current.
    void changed();

private:
    void invalidate();
    void ensure() const;

    QPointer<Project> m_project;
    mutable std::vector<double> m_slack;
    mutable double m_tolerance = 0.0;
    mutable bool m_valid = false;
    mutable qint64 m_lastCost = 0;
    QTimer m_notice;
};
