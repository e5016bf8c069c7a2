// The sweep: what an edit does when following the recursion exactly would cost too much (see
// Scheduling.cpp). It keeps both rules, each task moved to where the rules demand, but where
// groups are involved it need not place tasks where the recursion would.
//
// Dependencies are settled by two worklists (pushes, pulls) ordered by topological level, so
// that a task reached by many paths moves once, to the latest end (earliest start) they demand.
// Exclusion groups are resolved at once when a task moves: the members it overlaps are lined up
// against it in task-list order and the rest of the group is swept outward in time, each moved
// once. Ties keep the order in which tasks were reached.

#include "Mover.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

} // namespace

class Project::Sweep : public Mover {
public:
    using Mover::Mover;
    using Mover::moveTo;
    using Mover::queuePull;
    using Mover::queuePush;

    // Places the task so that it ends at the time at the latest: start + duration can round
    // above it, which would leave a dependency broken by a hair.
    bool moveToEndAt(Task &task, double end) { return moveTo(task, startToEndBy(end, task.duration())); }

    // Works off both lists until every dependency reached holds.
    void run()
    {
        while (!m_stopped) {
            if (!m_push.empty()) {
                push(takePush());
            } else if (!m_pull.empty()) {
                pull(takePull());
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
        GroupIndex *index = m_project.groupIndexOf(task);
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

    // Every predecessor in the list has been dealt with: move once, then hand on.
    void push(Task &task)
    {
        if (task.m_requiredStart > task.start() && moveTo(task, task.m_requiredStart))
            resolve(task, false);
        const double end = task.end();
        m_neighbours.clear();
        for (const TaskPtr &successor : task.successors())
            m_neighbours.push_back(successor.get());
        sortStably(m_neighbours.begin(), m_neighbours.end(),
            [](const Task *a, const Task *b) { return a->start() < b->start(); });
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

    std::vector<Task *> m_neighbours;
    std::vector<Task *> m_line; // resolve's, kept to spare an allocation per move
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
