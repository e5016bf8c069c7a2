#include "Slack.h"

#include "Project.h"

#include <QHash>
#include <QTimer>
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
    std::vector<double> slack(n, std::numeric_limits<double>::infinity());
    if (n == 0)
        return slack;
    double end = -std::numeric_limits<double>::infinity();
    for (const TaskPtr &task : tasks)
        end = std::max(end, task->end());

    // The next and previous member of each task's group in time, -1 for none.
    std::vector<qsizetype> nextInGroup(n, -1);
    std::vector<qsizetype> previousInGroup(n, -1);
    QHash<QString, std::vector<Member>> groups;
    for (qsizetype row = 0; row < tasks.size(); ++row)
        if (const ExclusionGroup &group = tasks[row]->exclusionGroup())
            groups[*group].push_back({ tasks[row]->start(), tasks[row]->end(), row });
    for (auto it = groups.begin(); it != groups.end(); ++it) {
        std::vector<Member> &members = *it;
        std::sort(members.begin(), members.end());
        for (std::size_t i = 1; i < members.size(); ++i) {
            nextInGroup[std::size_t(members[i - 1].row)] = members[i].row;
            previousInGroup[std::size_t(members[i].row)] = members[i - 1].row;
        }
    }

    // Backward over the plan: a task is settled once everything it pushes is.
    std::vector<quint32> waiting(n, 0);
    std::vector<qsizetype> ready;
    ready.reserve(n);
    for (std::size_t row = 0; row < n; ++row) {
        waiting[row] = quint32(tasks[qsizetype(row)]->successors().size()) + (nextInGroup[row] >= 0 ? 1 : 0);
        if (waiting[row] == 0)
            ready.push_back(qsizetype(row));
    }
    const auto settle = [&](qsizetype row) {
        const Task &task = *tasks[row];
        double best = end - task.end();
        const auto through = [&](const Task &pushed, qsizetype pushedRow) {
            const double known = slack[std::size_t(pushedRow)];
            if (std::isfinite(known))
                best = std::min(best, pushed.start() - task.end() + known);
        };
        for (const TaskPtr &successor : task.successors()) {
            const qsizetype at = project.rowOf(*successor);
            if (at >= 0)
                through(*successor, at);
        }
        if (const qsizetype next = nextInGroup[std::size_t(row)]; next >= 0)
            through(*tasks[next], next);
        slack[std::size_t(row)] = best;
    };
    const auto release = [&](qsizetype row) {
        if (waiting[std::size_t(row)] > 0 && --waiting[std::size_t(row)] == 0)
            ready.push_back(row);
    };
    std::size_t settled = 0;
    while (settled < n) {
        while (!ready.empty()) {
            const qsizetype row = ready.back();
            ready.pop_back();
            settle(row);
            ++settled;
            for (const TaskPtr &predecessor : tasks[row]->predecessors()) {
                const qsizetype at = project.rowOf(*predecessor);
                if (at >= 0)
                    release(at);
            }
            if (const qsizetype previous = previousInGroup[std::size_t(row)]; previous >= 0)
                release(previous);
        }
        if (settled == n)
            break;
        // Only tasks of no length at one instant can push each other round in a circle; the last
        // of them in the list is settled by what is known and frees the rest.
        for (std::size_t row = n; row-- > 0;) {
            if (waiting[row] > 0) {
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
    double magnitude = 1.0;
    for (const TaskPtr &task : project.tasks())
        magnitude = std::max(magnitude, std::abs(task->end()));
    return std::max(1e-6, magnitude * 1e-12);
}

} // namespace Slack

SlackTracker::SlackTracker(Project *project, QObject *parent)
    : QObject(parent)
    , m_project(project)
{
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
    if (m_notifying)
        return;
    m_notifying = true;
    QTimer::singleShot(0, this, [this] {
        m_notifying = false;
        Q_EMIT changed();
    });
}

void SlackTracker::ensure() const
{
    if (m_valid || !m_project)
        return;
    m_slack = Slack::of(*m_project);
    m_tolerance = Slack::tolerance(*m_project);
    m_valid = true;
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
