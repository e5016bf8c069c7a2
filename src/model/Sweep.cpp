// The sweep: what an edit does when following the recursion exactly would cost too much (see
// Scheduling.cpp). It keeps both rules, each task moved to where the rules demand, but where
// groups are involved it need not place tasks where the recursion would.
//
// Dependencies are settled by two worklists (pushes, pulls) ordered by topological level, so
// that a task reached by many paths moves once, to the latest end (earliest start) they demand.
// Exclusion groups are resolved at once when a task moves: the members it overlaps are lined up
// against it in task-list order and the rest of the group is swept outward in time, each moved
// once. Ties keep the order in which tasks were reached.

#include "Logging.h"
#include "Project.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

// Stable, and without the buffer std::stable_sort allocates: most tasks have one or two
// neighbours, and a long chain would pay one allocation per task.
template<typename Less> void sortStably(std::vector<Task *> &tasks, Less less)
{
    if (tasks.size() > 32) {
        std::stable_sort(tasks.begin(), tasks.end(), less);
        return;
    }
    for (size_t i = 1; i < tasks.size(); ++i) {
        Task *task = tasks[i];
        size_t j = i;
        for (; j > 0 && less(task, tasks[j - 1]); --j)
            tasks[j] = tasks[j - 1];
        tasks[j] = task;
    }
}

} // namespace

class Project::Sweep {
public:
    explicit Sweep(Project &project)
        : m_project(project)
        , m_operation(nextStamp())
    {
        project.ensureLevels();
    }

    // Moves the task; counts the move, and stops everything once one task moved too often.
    bool moveTo(Task &task, double start)
    {
        if (m_stopped)
            return false;
        prepare(task);
        if (++task.m_moveCount > maxMovesPerTask) {
            stop(task);
            return false;
        }
        task.setStart(start);
        return true;
    }

    // Places the task so that it ends at the time at the latest: start + duration can round
    // above it, which would leave a dependency broken by a hair.
    bool moveToEndAt(Task &task, double end) { return moveTo(task, startToEndBy(end, task.duration())); }

    void queuePush(Task &task)
    {
        prepare(task);
        if (task.m_pushPending)
            return;
        task.m_pushPending = true;
        m_push.push_back({ task.m_level, m_sequence++, &task });
        std::push_heap(m_push.begin(), m_push.end(), laterPush);
    }

    void queuePull(Task &task)
    {
        prepare(task);
        if (task.m_pullPending)
            return;
        task.m_pullPending = true;
        m_pull.push_back({ task.m_level, m_sequence++, &task });
        std::push_heap(m_pull.begin(), m_pull.end(), laterPull);
    }

    // Works off both lists until every dependency reached holds.
    void run()
    {
        while (!m_stopped) {
            if (!m_push.empty()) {
                std::pop_heap(m_push.begin(), m_push.end(), laterPush);
                Task &task = *m_push.back().task;
                m_push.pop_back();
                task.m_pushPending = false;
                push(task);
            } else if (!m_pull.empty()) {
                std::pop_heap(m_pull.begin(), m_pull.end(), laterPull);
                Task &task = *m_pull.back().task;
                m_pull.pop_back();
                task.m_pullPending = false;
                pull(task);
            } else {
                break;
            }
        }
    }

    // Moves every member of the task's group that it overlaps after it (placeBefore false) or
    // before it, and then every member that those now overlap, each once; the task keeps its
    // place. The members it overlaps line up as they would if each, in task-list order, were
    // placed against the task and displaced whatever sat there: of those lying within the task,
    // the one listed last ends up next to it, and one reaching past the task's far side follows
    // the first one placed, which displaced it. Beyond them the group keeps its order in time.
    // Moved members have their dependencies queued. Returns whether some member overlapped.
    bool resolve(Task &task, bool placeBefore)
    {
        if (m_stopped || !task.exclusionGroup())
            return false;
        GroupIndex *index = m_project.groupIndex(task.exclusionGroup());
        if (!index)
            return false;
        std::vector<Task *> &line = m_line;
        line.clear();
        index->overlapping(task, line);
        if (task.end() == task.start()) {
            // An instant at a member's very start touches it, as a member's end touching the
            // task does; moving the member away would only make a dependency between the two
            // pull it back, for ever.
            std::erase_if(line, [&](const Task *member) { return member->start() == task.start(); });
        }
        if (line.empty())
            return false;
        std::sort(
            line.begin(), line.end(), [](const Task *a, const Task *b) { return a->m_listIndex < b->m_listIndex; });
        // Those within the task in reverse order of placing, then those reaching past its far
        // side in order; the first placed counts as within, whatever its extent.
        const auto within = std::stable_partition(line.begin() + 1, line.end(), [&](const Task *member) {
            return !(placeBefore ? member->start() < task.start() : member->end() > task.end());
        });
        std::reverse(line.begin(), within);

        const quint64 lined = nextStamp();
        for (Task *member : line)
            member->m_visitStamp = lined;
        double edge = placeBefore ? task.start() : task.end();
        for (Task *member : line) {
            if (!place(*member, edge, placeBefore))
                return true;
            edge = placeBefore ? member->start() : member->end();
        }

        // The rest of the group, outward in time from the task, as far as each move reaches.
        Task *previous = line.back();
        Task *next = placeBefore ? index->below(task.start(), nullptr) : index->atOrAbove(task.end(), nullptr);
        while (next && !m_stopped) {
            Task &member = *next;
            // Placing a member takes it out of the index; the walk goes on from where it stood.
            const double stood = member.start();
            next = placeBefore ? index->below(stood, &member) : index->above(stood, &member);
            if (&member == &task || member.m_visitStamp == lined)
                continue;
            const bool reached = placeBefore
                ? member.end() > edge
                : member.start() < edge && (member.end() > member.start() || previous->overlaps(member));
            if (!reached) {
                // An empty member that is not reached may stand inside one that is.
                if (member.end() > member.start())
                    break;
                continue;
            }
            if (!place(member, edge, placeBefore))
                return true;
            edge = placeBefore ? member.start() : member.end();
            previous = &member;
        }
        return true;
    }

private:
    struct Entry {
        int level;
        quint64 sequence;
        Task *task;
    };
    // Heap orders: pushes lowest level first, pulls highest; ties first come, first served.
    static bool laterPush(const Entry &a, const Entry &b)
    {
        return a.level != b.level ? a.level > b.level : a.sequence > b.sequence;
    }
    static bool laterPull(const Entry &a, const Entry &b)
    {
        return a.level != b.level ? a.level < b.level : a.sequence > b.sequence;
    }

    // Puts the member against the edge and queues its dependencies for the way it moved.
    bool place(Task &member, double edge, bool placeBefore)
    {
        const double before = member.start();
        const bool moved = placeBefore ? moveToEndAt(member, edge) : moveTo(member, edge);
        if (!moved)
            return !m_stopped;
        if (member.start() > before)
            queuePush(member);
        else if (member.start() < before)
            queuePull(member);
        return true;
    }

    void prepare(Task &task)
    {
        if (task.m_moveStamp == m_operation)
            return;
        task.m_moveStamp = m_operation;
        task.m_moveCount = 0;
        task.m_pushPending = false;
        task.m_pullPending = false;
        task.m_requiredStart = -infinity;
        task.m_requiredEnd = infinity;
    }

    // Every predecessor in the list has been dealt with: move once, then hand on.
    void push(Task &task)
    {
        if (task.m_requiredStart > task.start() && moveTo(task, task.m_requiredStart))
            resolve(task, false);
        const double end = task.end();
        m_neighbours.clear();
        for (const TaskPtr &successor : task.successors())
            m_neighbours.push_back(successor.get());
        sortStably(m_neighbours, [](const Task *a, const Task *b) { return a->start() < b->start(); });
        for (Task *successor : m_neighbours) {
            if (successor->start() < end) {
                prepare(*successor);
                successor->m_requiredStart = std::max(successor->m_requiredStart, end);
                queuePush(*successor);
            }
        }
    }

    void pull(Task &task)
    {
        if (task.m_requiredEnd < task.end() && moveToEndAt(task, task.m_requiredEnd))
            resolve(task, true);
        const double start = task.start();
        m_neighbours.clear();
        for (const TaskPtr &predecessor : task.predecessors())
            m_neighbours.push_back(predecessor.get());
        std::stable_sort(
            m_neighbours.begin(), m_neighbours.end(), [](const Task *a, const Task *b) { return a->end() > b->end(); });
        for (Task *predecessor : m_neighbours) {
            if (predecessor->end() > start) {
                prepare(*predecessor);
                predecessor->m_requiredEnd = std::min(predecessor->m_requiredEnd, start);
                queuePull(*predecessor);
            }
        }
    }

    void stop(const Task &task)
    {
        m_stopped = true;
        m_push.clear();
        m_pull.clear();
        const bool negative = std::any_of(
            m_project.m_tasks.cbegin(), m_project.m_tasks.cend(), [](const TaskPtr &t) { return t->duration() < 0; });
        if (negative)
            qCCritical(lcQuillfern,
                "scheduling stopped: task # %lld was moved more than %u times by one edit; tasks with negative "
                "durations can make a push and a pull chase each other, so some dependencies or group overlaps "
                "may remain",
                static_cast<long long>(task.id()), maxMovesPerTask);
        else
            qCCritical(lcQuillfern,
                "scheduling stopped: task # %lld was moved more than %u times by one edit; some dependencies or "
                "group overlaps may remain",
                static_cast<long long>(task.id()), maxMovesPerTask);
    }

    Project &m_project;
    const quint64 m_operation;
    std::vector<Entry> m_push;
    std::vector<Entry> m_pull;
    std::vector<Task *> m_neighbours;
    std::vector<Task *> m_line; // resolve's, kept to spare an allocation per move
    quint64 m_sequence = 0;
    bool m_stopped = false;
};

// What the sweep does in place of each routine of the recursion.
bool Project::sweep(Task &task, Routine routine, double value)
{
    Sweep sweep(*this);
    bool moved = false;
    switch (routine) {
    case Routine::Shift:
        sweep.moveTo(task, task.start() + value);
        if (value > 0) {
            sweep.queuePush(task);
            sweep.run();
            sweep.resolve(task, false);
        } else if (value < 0) {
            sweep.queuePull(task);
            sweep.run();
            sweep.resolve(task, true);
        }
        break;
    case Routine::PushSuccessors:
        sweep.queuePush(task);
        sweep.run();
        sweep.resolve(task, false);
        break;
    case Routine::PullPredecessors:
        sweep.queuePull(task);
        break;
    case Routine::ResolvePushing:
    case Routine::ResolvePulling:
        moved = sweep.resolve(task, routine == Routine::ResolvePulling);
        break;
    case Routine::AlignPredecessor:
        sweep.moveToEndAt(task, value);
        sweep.queuePull(task);
        sweep.run();
        sweep.resolve(task, true);
        break;
    }
    sweep.run();
    return moved;
}
