// Incremental scheduling: a change is carried along dependencies and exclusion groups just as
// far as the rules demand, by the recursion of shiftTask, pushSuccessors, pullPredecessors and
// resolveExclusionConflicts, run on a stack of frames instead of the call stack, so that chains
// of any length fit.
//
// Visiting order, which decides where groups are involved: a task's successors by ascending
// start, its predecessors by descending end, both read when the routine takes the set, ties in
// the order of the set (the order in which the dependency list first names each); the members of
// a group in task-list order. Everything follows from the plan: no address or hash order takes part.
//
// One shortcut keeps diamonds of dependencies from being walked once per path: a task from which
// no path of dependencies leads to a member of any group (a "free" task for pushes; for pulls,
// none leads to it from one) can influence nothing that a group decides, and what the recursion
// does to such tasks is the least fixed point of the pushes (pulls) they are given, whatever the
// order. Those are noted and settled in topological order, each task moved once; before the
// recursion reads or moves anything the other way, they are settled, so every group sees exactly
// what the recursion would show it.

#include "Mover.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

} // namespace

double Project::startToEndBy(double end, double duration)
{
    // start + duration can round above the end, which would leave a dependency broken by a hair.
    double start = end - duration;
    for (int i = 0; i < 4 && start + duration > end; ++i)
        start = std::nextafter(start, -infinity);
    return start;
}

class Project::Propagation : public Mover {
public:
    explicit Propagation(Project &project)
        : Mover(project)
    {
        project.ensureTaint();
    }

    // Each runs one routine of the recursion to its end and returns false when it gave up on
    // the budget of moves, the tasks left wherever it had got to.
    bool shift(Task &task, double delta)
    {
        if (delta > 0 || delta < 0)
            shiftTo(task, task.start() + delta, delta);
        return run();
    }

    bool pushSuccessors(Task &task)
    {
        beginPush(task);
        return run();
    }

    bool pullPredecessors(Task &task)
    {
        beginPull(task);
        return run();
    }

    bool resolve(Task &task, bool placeBefore)
    {
        m_frames.push_back({ Frame::Resolve, placeBefore, false, &task, 0.0, 0, 0 });
        m_rootResolve = true;
        return run();
    }

    bool alignPredecessor(Task &predecessor, double time)
    {
        if (moveTo(predecessor, startToEndBy(time, predecessor.duration()))) {
            m_frames.push_back({ Frame::Resolve, true, false, &predecessor, 0.0, 0, 0 });
            beginPull(predecessor);
        }
        return run();
    }

    [[nodiscard]] bool moved() const { return m_rootMoved; }
    [[nodiscard]] quint64 moveCount() const { return m_moves; }

private:
    // One routine under way. Push and Pull walk the neighbours in m_items[first, last) from next;
    // Resolve walks the group members it overlapped there, once it has begun (read its times).
    struct Frame {
        enum Kind : quint8 { Push, Pull, Resolve };
        Kind kind;
        bool placeBefore;
        bool begun;
        Task *task;
        double time; // the end that pushes, or the start that pulls or bounds the group
        size_t first;
        size_t next;
    };

    // The recursion's shiftTask of a task that the routine under way moves to the start given.
    void shiftTo(Task &task, double start, double delta)
    {
        // Settling free tasks moves each once; the recursion can move one many times.
        if ((delta > 0 || delta < 0) && ++m_moves > maxExactMoves) {
            m_stopped = m_overBudget = true;
            return;
        }
        if (delta > 0) {
            settlePulls();
            if (moveTo(task, start))
                beginPush(task);
        } else if (delta < 0) {
            settlePushes();
            if (moveTo(task, start)) {
                // The pull first, then the group, as the frames come off the stack.
                m_frames.push_back({ Frame::Resolve, true, false, &task, 0.0, 0, 0 });
                beginPull(task);
            }
        }
    }

    void beginPush(Task &task)
    {
        const size_t first = m_items.size();
        for (const TaskPtr &successor : task.successors())
            m_items.push_back(successor.get());
        sortStably(m_items.begin() + qsizetype(first), m_items.end(),
            [](const Task *a, const Task *b) { return a->start() < b->start(); });
        m_frames.push_back({ Frame::Push, false, true, &task, task.end(), first, first });
    }

    void beginPull(Task &task)
    {
        const size_t first = m_items.size();
        for (const TaskPtr &predecessor : task.predecessors())
            m_items.push_back(predecessor.get());
        sortStably(m_items.begin() + qsizetype(first), m_items.end(),
            [](const Task *a, const Task *b) { return a->end() > b->end(); });
        m_frames.push_back({ Frame::Pull, true, true, &task, task.start(), first, first });
    }

    bool run()
    {
        while (!m_frames.empty() && !m_stopped)
            step();
        if (!m_stopped) {
            settlePushes();
            settlePulls();
        }
        m_frames.clear();
        m_items.clear();
        return !m_overBudget;
    }

    // Takes the top frame one visit further: at most one recursive shift per call.
    void step()
    {
        const size_t top = m_frames.size() - 1;
        Frame &frame = m_frames[top];
        if (frame.kind == Frame::Resolve && !frame.begun) {
            beginResolve(top);
            return;
        }
        if (frame.next == m_items.size()) {
            finish(top);
            return;
        }
        Task &other = *m_items[frame.next++];
        const double time = frame.time;
        switch (frame.kind) {
        case Frame::Push:
            // A free successor can only be noted once nothing waits to be pulled.
            settlePulls();
            if (!other.m_taintPush)
                notePush(other, time);
            else if (time - other.start() > 0)
                shiftTo(other, time, time - other.start());
            break;
        case Frame::Pull:
            settlePushes();
            if (!other.m_taintPull)
                notePull(other, time);
            else if (time - other.end() < 0)
                shiftTo(other, startToEndBy(time, other.duration()), time - other.end());
            break;
        case Frame::Resolve:
            if (!frame.task->overlaps(other))
                break;
            m_resolveMoved[top] = true;
            if (frame.placeBefore)
                shiftTo(other, startToEndBy(time, other.duration()), time - other.end());
            else
                shiftTo(other, time, time - other.start());
            break;
        }
    }

    // A Resolve frame reads the task's times now and lines up the members it overlaps now, in
    // task-list order. With no negative durations, no member the loop moves can come to overlap
    // the task unless it starts where the task ends with nothing to move; so the members overlapped
    // at the start, each tested again when its turn comes, are all there is to visit.
    void beginResolve(size_t top)
    {
        Frame &frame = m_frames[top];
        frame.begun = true;
        frame.first = frame.next = m_items.size();
        if (m_resolveMoved.size() <= top)
            m_resolveMoved.resize(top + 1);
        m_resolveMoved[top] = false;
        Task &task = *frame.task;
        frame.time = frame.placeBefore ? task.start() : task.end();
        GroupIndex *index = m_project.groupIndexOf(task);
        if (!index)
            return;
        m_line.clear();
        index->overlapping(task, m_line);
        std::sort(
            m_line.begin(), m_line.end(), [](const Task *a, const Task *b) { return a->m_listIndex < b->m_listIndex; });
        m_items.insert(m_items.end(), m_line.begin(), m_line.end());
    }

    void finish(size_t top)
    {
        Frame frame = m_frames[top];
        m_items.resize(frame.first);
        m_frames.pop_back();
        if (frame.kind == Frame::Push) {
            // After the successors, the task's own group.
            m_frames.push_back({ Frame::Resolve, false, false, frame.task, 0.0, 0, 0 });
        } else if (frame.kind == Frame::Resolve && top == 0 && m_rootResolve) {
            m_rootMoved = m_resolveMoved[0];
        }
    }

    // Free tasks: the latest start (earliest end) asked of each, settled in topological order.
    void notePush(Task &task, double start)
    {
        prepare(task);
        if (!(start > task.m_requiredStart))
            return;
        task.m_requiredStart = start;
        queuePush(task);
    }

    void notePull(Task &task, double end)
    {
        prepare(task);
        if (!(end < task.m_requiredEnd))
            return;
        task.m_requiredEnd = end;
        queuePull(task);
    }

    void settlePushes()
    {
        while (!m_push.empty() && !m_stopped) {
            Task &task = takePush();
            if (!(task.m_requiredStart > task.start()) || !moveTo(task, task.m_requiredStart))
                continue;
            const double end = task.end();
            for (const TaskPtr &successor : task.successors())
                if (successor->start() < end)
                    notePush(*successor, end);
        }
    }

    void settlePulls()
    {
        while (!m_pull.empty() && !m_stopped) {
            Task &task = takePull();
            if (!(task.m_requiredEnd < task.end()) || !moveTo(task, startToEndBy(task.m_requiredEnd, task.duration())))
                continue;
            const double start = task.start();
            for (const TaskPtr &predecessor : task.predecessors())
                if (predecessor->end() > start)
                    notePull(*predecessor, start);
        }
    }

    std::vector<Frame> m_frames;
    std::vector<Task *> m_items;
    std::vector<bool> m_resolveMoved; // by frame depth
    std::vector<Task *> m_line; // kept to spare an allocation per group resolved
    quint64 m_moves = 0;
    bool m_overBudget = false;
    bool m_rootResolve = false;
    bool m_rootMoved = false;
};

GroupIndex *Project::groupIndexOf(const Task &task)
{
    if (!task.m_exclusionGroup)
        return nullptr;
    flushGroupIndex();
    if (task.m_groupIndex)
        return task.m_groupIndex;
    // A task no longer listed (an undo can change one) still meets the members of its group.
    const auto found = m_groups.find(*task.m_exclusionGroup);
    return found == m_groups.end() ? nullptr : &found->second;
}

void Project::flushGroupIndex()
{
    if (!m_groupsBuilt) {
        m_groupsBuilt = true;
        m_unindexed.clear();
        for (const TaskPtr &task : std::as_const(m_tasks))
            if (task->m_exclusionGroup && task->m_groupNode < 0)
                m_groups[*task->m_exclusionGroup].insert(task.get());
        return;
    }
    for (Task *task : m_unindexed) {
        if (task->m_listIndex < 0 || !task->m_exclusionGroup)
            continue;
        if (task->m_groupIndex)
            task->m_groupIndex->rekey(task);
        else
            m_groups[*task->m_exclusionGroup].insert(task);
    }
    m_unindexed.clear();
}

void Project::ensureLevels()
{
    if (m_levelsValid)
        return;
    // Longest path from a task without predecessors, by Kahn's algorithm.
    std::vector<int> waiting(m_tasks.size());
    std::vector<Task *> ready;
    for (const TaskPtr &task : std::as_const(m_tasks)) {
        int count = 0;
        for (const TaskPtr &predecessor : task->predecessors())
            count += predecessor->m_listIndex >= 0 ? 1 : 0;
        waiting[task->m_listIndex] = count;
        task->m_level = 0;
        if (count == 0)
            ready.push_back(task.get());
    }
    while (!ready.empty()) {
        Task *task = ready.back();
        ready.pop_back();
        for (const TaskPtr &successor : task->successors()) {
            if (successor->m_listIndex < 0)
                continue;
            successor->m_level = std::max(successor->m_level, task->m_level + 1);
            if (--waiting[successor->m_listIndex] == 0)
                ready.push_back(successor.get());
        }
    }
    m_levelsValid = true;
}

void Project::raiseLevels(Task &task, int level)
{
    // In the order of the levels before the raise, which is topological: each task is lifted
    // once, after everything before it that was lifted too.
    using Entry = std::pair<int, Task *>;
    const auto later = [](const Entry &a, const Entry &b) { return a.first > b.first; };
    std::vector<Entry> pending { { task.m_level, &task } };
    task.m_level = level;
    const quint64 queued = nextStamp();
    task.m_visitStamp = queued;
    while (!pending.empty()) {
        std::pop_heap(pending.begin(), pending.end(), later);
        Task *current = pending.back().second;
        pending.pop_back();
        for (const TaskPtr &successor : current->successors()) {
            if (successor->m_level > current->m_level)
                continue;
            if (successor->m_visitStamp != queued) {
                successor->m_visitStamp = queued;
                pending.push_back({ successor->m_level, successor.get() });
                std::push_heap(pending.begin(), pending.end(), later);
            }
            successor->m_level = current->m_level + 1;
        }
    }
}

void Project::ensureTaint()
{
    if (m_taintValid)
        return;
    for (const TaskPtr &task : std::as_const(m_tasks))
        task->m_taintPush = task->m_taintPull = false;
    m_taintValid = true;
    for (const TaskPtr &task : std::as_const(m_tasks)) {
        if (task->m_exclusionGroup) {
            spreadTaint(*task, true);
            spreadTaint(*task, false);
        }
    }
}

void Project::spreadTaint(Task &task, bool towardsPredecessors)
{
    if (!m_taintValid)
        return;
    const auto taint
        = [towardsPredecessors](Task &t) -> bool & { return towardsPredecessors ? t.m_taintPush : t.m_taintPull; };
    if (taint(task))
        return;
    taint(task) = true;
    // Kept between walks: a full count starts one from every group member.
    std::vector<Task *> &pending = m_taintPending;
    pending.assign(1, &task);
    while (!pending.empty()) {
        Task *current = pending.back();
        pending.pop_back();
        for (const TaskPtr &next : towardsPredecessors ? current->predecessors() : current->successors()) {
            if (!taint(*next)) {
                taint(*next) = true;
                pending.push_back(next.get());
            }
        }
    }
}

bool Project::propagate(Task &task, Routine routine, double value)
{
    beginEdit();
    // What the recursion moved is noted from here on, each task as it was before the edit; the task
    // itself may have been changed before.
    const size_t noted = m_delta.states.size();
    const TaskState before { {}, task.m_start, task.m_duration, task.m_end, task.m_exclusionGroup };
    Propagation propagation(*this);
    bool exact = true;
    switch (routine) {
    case Routine::Shift:
        exact = propagation.shift(task, value);
        break;
    case Routine::PushSuccessors:
        exact = propagation.pushSuccessors(task);
        break;
    case Routine::PullPredecessors:
        exact = propagation.pullPredecessors(task);
        break;
    case Routine::ResolvePushing:
    case Routine::ResolvePulling:
        exact = propagation.resolve(task, routine == Routine::ResolvePulling);
        break;
    case Routine::AlignPredecessor:
        exact = propagation.alignPredecessor(task, value);
        break;
    }
    bool moved = propagation.moved();
    if (!exact) {
        qCWarning(lcQuillfern,
            "following the rules move by move would take task # %lld's edit more than %llu moves; the tasks "
            "are placed by the sweep instead, which keeps the rules but can line up group members otherwise",
            static_cast<long long>(task.id()), static_cast<unsigned long long>(maxExactMoves));
        for (size_t i = noted; i < m_delta.states.size(); ++i)
            assignState(*m_delta.states[i].task, m_delta.states[i]);
        assignState(task, before);
        moved = sweep(task, routine, value);
    }
    endEdit();
    return moved;
}

void Project::shiftTask(Task &task, double delta)
{
    if (!std::isfinite(delta)) {
        qCCritical(lcQuillfern, "refused to move task # %lld by a distance that is not a finite number",
            static_cast<long long>(task.id()));
        return;
    }
    propagate(task, Routine::Shift, delta);
}

void Project::pushSuccessors(Task &task)
{
    propagate(task, Routine::PushSuccessors, 0.0);
}

void Project::pullPredecessors(Task &task)
{
    propagate(task, Routine::PullPredecessors, 0.0);
}

bool Project::resolveExclusionConflicts(Task &task, bool placeBefore)
{
    return propagate(task, placeBefore ? Routine::ResolvePulling : Routine::ResolvePushing, 0.0);
}

void Project::alignPredecessor(Task &predecessor, double time)
{
    if (predecessor.end() <= time)
        return;
    propagate(predecessor, Routine::AlignPredecessor, time);
    recomputeSpan();
}

double Project::minimumStartOffset(const Task &task, DragMode mode)
{
    double limit = mode.testFlag(LimitToProjectStart) ? m_start : -infinity;
    for (const TaskPtr &predecessor : task.predecessors())
        limit = std::max(limit, predecessor->end());
    if (mode.testFlag(LimitByExclusionGroup))
        if (const GroupIndex *index = groupIndexOf(task))
            limit = std::max(limit, index->latestEndUpTo(task.start(), &task));
    return limit - m_start;
}

std::optional<double> Project::maximumEndOffset(const Task &task, DragMode mode)
{
    constexpr double largest = std::numeric_limits<double>::max();
    double limit = largest;
    for (const TaskPtr &successor : task.successors())
        limit = std::min(limit, successor->start());
    if (mode.testFlag(LimitByExclusionGroup))
        if (const GroupIndex *index = groupIndexOf(task))
            limit = std::min(limit, index->earliestStartFrom(task.end(), &task));
    if (limit >= largest)
        return std::nullopt;
    return limit - m_start;
}
