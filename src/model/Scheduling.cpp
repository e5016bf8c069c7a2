// Incremental scheduling: a change is carried along dependencies and exclusion groups just as
// far as the rules demand. The rules are recursive and depth first; they run here on an explicit
// stack, so that chains of any length are safe.

#include "Logging.h"
#include "Project.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

quint64 g_operation = 0;

// Successors are visited by ascending start, predecessors by descending end, ties in dependency
// order. In a consistent plan that is the order of the dependencies themselves, so a push along a
// chain with shortcuts (A -> B -> C plus A -> C) moves each task once instead of once per path,
// which in a lattice of shortcuts would grow exponentially.
void inVisitingOrder(TaskSet &tasks, bool successors)
{
    if (tasks.size() < 2)
        return;
    if (successors)
        std::stable_sort(
            tasks.begin(), tasks.end(), [](const TaskPtr &a, const TaskPtr &b) { return a->start() < b->start(); });
    else
        std::stable_sort(
            tasks.begin(), tasks.end(), [](const TaskPtr &a, const TaskPtr &b) { return a->end() > b->end(); });
}

} // namespace

// One pending call of a scheduling routine, with the loop state it had when it called deeper.
struct Project::Frame {
    enum Kind { Shift, Push, Pull, Resolve };

    Frame(Kind kind, Task *task, double delta = 0.0, bool placeBefore = false)
        : kind(kind)
        , task(task)
        , delta(delta)
        , placeBefore(placeBefore)
    { }

    Kind kind;
    Task *task;
    double delta; // Shift
    bool placeBefore; // Resolve
    bool started = false;
    double start = 0.0; // time read once when the routine began
    double end = 0.0;
    qsizetype next = 0;
    TaskSet neighbours; // Push, Pull
    QList<Task *> members; // Resolve
    bool moved = false;
};

bool Project::propagate(Frame initial)
{
    const quint64 operation = ++g_operation;
    std::vector<Frame> stack;
    stack.push_back(std::move(initial));
    bool result = false;

    while (!stack.empty()) {
        Frame &frame = stack.back();
        Task &task = *frame.task;
        switch (frame.kind) {
        case Frame::Shift: {
            const double delta = frame.delta;
            stack.pop_back();
            if (!std::isfinite(delta)) {
                qCCritical(lcQuillfern, "refused to move task # %lld by a distance that is not a finite number",
                    static_cast<long long>(task.id()));
                break;
            }
            if (task.m_moveStamp != operation) {
                task.m_moveStamp = operation;
                task.m_moveCount = 0;
            }
            if (++task.m_moveCount > maxMovesPerTask) {
                qCCritical(lcQuillfern,
                    "scheduling stopped: task # %lld was moved more than %u times by one edit; "
                    "negative durations in an exclusion group can make tasks chase each other",
                    static_cast<long long>(task.id()), maxMovesPerTask);
                stack.clear();
                result = true;
                break;
            }
            task.setStart(task.start() + delta);
            if (delta > 0) {
                stack.push_back({ Frame::Push, &task });
            } else if (delta < 0) {
                stack.push_back({ Frame::Resolve, &task, 0.0, true });
                stack.push_back({ Frame::Pull, &task });
            }
            break;
        }
        case Frame::Push:
            if (!frame.started) {
                frame.started = true;
                frame.end = task.end();
                frame.neighbours = task.successors();
                inVisitingOrder(frame.neighbours, true);
            }
            if (frame.next < frame.neighbours.size()) {
                Task *successor = frame.neighbours[frame.next++].get();
                const double d = frame.end - successor->start();
                if (d > 0)
                    stack.push_back({ Frame::Shift, successor, d });
            } else {
                stack.pop_back();
                stack.push_back({ Frame::Resolve, &task, 0.0, false });
            }
            break;
        case Frame::Pull:
            if (!frame.started) {
                frame.started = true;
                frame.start = task.start();
                frame.neighbours = task.predecessors();
                inVisitingOrder(frame.neighbours, false);
            }
            if (frame.next < frame.neighbours.size()) {
                Task *predecessor = frame.neighbours[frame.next++].get();
                const double d = frame.start - predecessor->end();
                if (d < 0)
                    stack.push_back({ Frame::Shift, predecessor, d });
            } else {
                stack.pop_back();
            }
            break;
        case Frame::Resolve: {
            if (!frame.started) {
                frame.started = true;
                if (!task.exclusionGroup()) {
                    stack.pop_back();
                    break;
                }
                frame.start = task.start();
                frame.end = task.end();
                frame.members = groupMembers(*task.exclusionGroup());
            }
            Task *conflicting = nullptr;
            while (frame.next < frame.members.size()) {
                Task *other = frame.members[frame.next++];
                if (other != &task && other->exclusionGroup() == task.exclusionGroup() && task.overlaps(*other)) {
                    conflicting = other;
                    break;
                }
            }
            if (conflicting) {
                frame.moved = true;
                const double d
                    = frame.placeBefore ? frame.start - conflicting->end() : frame.end - conflicting->start();
                stack.push_back({ Frame::Shift, conflicting, d });
            } else {
                if (stack.size() == 1)
                    result = frame.moved;
                stack.pop_back();
            }
            break;
        }
        }
    }
    return result;
}

const QList<Task *> &Project::groupMembers(const QString &group)
{
    if (!m_groupIndexValid) {
        m_groupIndex.clear();
        for (const TaskPtr &task : std::as_const(m_tasks)) {
            if (task->exclusionGroup())
                m_groupIndex[*task->exclusionGroup()].append(task.get());
        }
        m_groupIndexValid = true;
    }
    static const QList<Task *> none;
    const auto found = m_groupIndex.constFind(group);
    return found == m_groupIndex.cend() ? none : *found;
}

void Project::shiftTask(Task &task, double delta)
{
    propagate({ Frame::Shift, &task, delta });
}

void Project::pushSuccessors(Task &task)
{
    propagate({ Frame::Push, &task });
}

void Project::pullPredecessors(Task &task)
{
    propagate({ Frame::Pull, &task });
}

bool Project::resolveExclusionConflicts(Task &task, bool placeBefore)
{
    return propagate({ Frame::Resolve, &task, 0.0, placeBefore });
}

void Project::alignPredecessor(Task &predecessor, double time)
{
    if (predecessor.end() <= time)
        return;
    predecessor.setStart(time - predecessor.duration());
    pullPredecessors(predecessor);
    resolveExclusionConflicts(predecessor, true);
    recomputeStart();
    recomputeEnd();
}

double Project::minimumStartOffset(const Task &task, DragMode mode)
{
    double limit = mode.testFlag(LimitToProjectStart) ? m_start : -std::numeric_limits<double>::infinity();
    for (const TaskPtr &predecessor : task.predecessors())
        limit = std::max(limit, predecessor->end());
    if (task.exclusionGroup() && mode.testFlag(LimitByExclusionGroup)) {
        for (const Task *member : groupMembers(*task.exclusionGroup())) {
            if (member != &task && member->end() <= task.start())
                limit = std::max(limit, member->end());
        }
    }
    return limit - m_start;
}

std::optional<double> Project::maximumEndOffset(const Task &task, DragMode mode)
{
    constexpr double largest = std::numeric_limits<double>::max();
    double limit = largest;
    for (const TaskPtr &successor : task.successors())
        limit = std::min(limit, successor->start());
    if (task.exclusionGroup() && mode.testFlag(LimitByExclusionGroup)) {
        for (const Task *member : groupMembers(*task.exclusionGroup())) {
            if (member != &task && member->start() >= task.end())
                limit = std::min(limit, member->start());
        }
    }
    if (limit >= largest)
        return std::nullopt;
    return limit - m_start;
}
