#include "Slack.h"

#include "Project.h"

#include <QElapsedTimer>
#include <QHash>
#include <algorithm>
#include <cmath>
#include <limits>

namespace Slack {

namespace {

// A group member's place in time: by start, then end, then row, so that the order is total.
struct Member {
    double start;
    double end;
    qsizetype row;
    friend bool operator<(const Member &a, const Member &b)
    {
        if (a.start != b.start)
            return a.start < b.start;
        if (a.end != b.end)
            return a.end < b.end;
        return a.row < b.row;
    }
};

} // namespace

std::vector<double> of(const Project &project)
{
    const TaskList &tasks = project.tasks();
    const auto n = std::size_t(tasks.size());
    if (n == 0)
        return {};
    constexpr double unknown = std::numeric_limits<double>::infinity();
    // Tasks lie all over the heap, and the backward pass visits them in no order memory likes:
    // their times and their predecessors' rows are read once, in list order, into arrays.
    std::vector<double> starts(n);
    std::vector<double> ends(n);
    std::vector<quint32> waiting(n, 0);
    std::vector<std::size_t> firstPredecessor(n + 1);
    std::vector<quint32> predecessorRows;
    predecessorRows.reserve(std::size_t(project.edges().size()));
    double end = -unknown;
    QHash<QString, std::vector<Member>> groups;
    for (std::size_t row = 0; row < n; ++row) {
        const Task &task = *tasks[qsizetype(row)];
        starts[row] = task.start();
        ends[row] = task.end();
        end = std::max(end, ends[row]);
        firstPredecessor[row] = predecessorRows.size();
        for (const TaskPtr &predecessor : task.predecessors()) {
            const qsizetype at = project.rowOf(*predecessor);
            if (at >= 0) {
                predecessorRows.push_back(quint32(at));
                ++waiting[std::size_t(at)];
            }
        }
        if (const ExclusionGroup &group = task.exclusionGroup())
            groups[*group].push_back({ starts[row], ends[row], qsizetype(row) });
    }
    firstPredecessor[n] = predecessorRows.size();

    // The previous member of each task's group in time, -1 for none; the next one waits for it.
    std::vector<qsizetype> previousInGroup(n, -1);
    for (auto it = groups.begin(); it != groups.end(); ++it) {
        std::vector<Member> &members = *it;
        std::sort(members.begin(), members.end());
        for (std::size_t i = 1; i < members.size(); ++i) {
            previousInGroup[std::size_t(members[i].row)] = members[i - 1].row;
            ++waiting[std::size_t(members[i - 1].row)];
        }
    }

    // Backward over the plan: a task is settled once everything it pushes is, and then lowers the
    // slack of what pushes it. best starts as the room before the project's end.
    std::vector<double> slack(n);
    for (std::size_t row = 0; row < n; ++row)
        slack[row] = end - ends[row];
    std::vector<qsizetype> ready;
    ready.reserve(n);
    for (std::size_t row = 0; row < n; ++row)
        if (waiting[row] == 0)
            ready.push_back(qsizetype(row));
    std::vector<bool> settled(n, false);
    std::size_t count = 0;
    const auto pushedBy = [&](std::size_t pusher, std::size_t pushed) {
        if (settled[pusher])
            return;
        slack[pusher] = std::min(slack[pusher], starts[pushed] - ends[pusher] + slack[pushed]);
        if (waiting[pusher] > 0 && --waiting[pusher] == 0)
            ready.push_back(qsizetype(pusher));
    };
    while (count < n) {
        while (!ready.empty()) {
            const auto row = std::size_t(ready.back());
            ready.pop_back();
            if (settled[row])
                continue;
            settled[row] = true;
            ++count;
            for (std::size_t i = firstPredecessor[row]; i < firstPredecessor[row + 1]; ++i)
                pushedBy(predecessorRows[i], row);
            if (const qsizetype previous = previousInGroup[row]; previous >= 0)
                pushedBy(std::size_t(previous), row);
        }
        if (count == n)
            break;
        // Only tasks of no length at one instant can push each other round in a circle; the last
        // of them in the list is settled by what is known and frees the rest.
        for (std::size_t row = n; row-- > 0;) {
            if (!settled[row]) {
                waiting[row] = 0;
                ready.push_back(qsizetype(row));
                break;
            }
        }
    }
    return slack;
}

double tolerance(const Project &project)
{
    // Times are exact where the rules placed them; what is left is the rounding of the largest times.
    const double magnitude = std::max({ 1.0, std::abs(project.start()), std::abs(project.end()) });
    return std::max(1e-6, magnitude * 1e-12);
}

} // namespace Slack

SlackTracker::SlackTracker(Project *project, QObject *parent)
    : QObject(parent)
    , m_project(project)
{
    m_notice.setSingleShot(true);
    connect(&m_notice, &QTimer::timeout, this, &SlackTracker::changed);
    connect(project, &Project::edited, this, &SlackTracker::invalidate);
    connect(project, &Project::editFinished, this, &SlackTracker::invalidate);
    connect(project, &Project::tasksChanged, this, &SlackTracker::invalidate);
}

SlackTracker *SlackTracker::of(Project *project)
{
    if (auto *tracker = project->findChild<SlackTracker *>(QString(), Qt::FindDirectChildrenOnly))
        return tracker;
    return new SlackTracker(project, project);
}

void SlackTracker::invalidate()
{
    m_valid = false;
    constexpr qint64 frameNanoseconds = 4'000'000;
    m_notice.start(m_lastCost > frameNanoseconds ? 150 : 0);
}

void SlackTracker::ensure() const
{
    if (m_valid || !m_project)
        return;
    QElapsedTimer clock;
    clock.start();
    m_slack = Slack::of(*m_project);
    m_tolerance = Slack::tolerance(*m_project);
    m_valid = true;
    m_lastCost = clock.nsecsElapsed();
}

double SlackTracker::slackOf(const Task &task) const
{
    if (!m_project)
        return 0.0;
    const qsizetype row = m_project->rowOf(task);
    if (row < 0)
        return 0.0;
    ensure();
    return m_slack[std::size_t(row)];
}

bool SlackTracker::isCritical(const Task &task) const
{
    if (!m_project)
        return false;
    return isCriticalRow(m_project->rowOf(task));
}

bool SlackTracker::isCriticalRow(qsizetype row) const
{
    if (!m_project || row < 0 || row >= m_project->tasks().size())
        return false;
    ensure();
    return m_slack[std::size_t(row)] <= m_tolerance;
}
