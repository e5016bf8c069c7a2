// The undo history. While the project has an undo manager, every change of it is written to a
// journal: each edit's delta (every task it touched, as it found it, and its changes of the task
// list, the dependencies and the name, in order) and each change made between edits. A point of
// the history is a mark, how much of the journal had been written then.
//
// A step other than a duration change goes back to a mark: the plan as it stood before the edit,
// found from the journal entries written since (for each task the first one after the mark holds
// its state then; the dependencies and the list are taken back change by change), whatever
// happened in between: a revert, a duration change run again, a reorder. The step then holds the
// mark from before it ran, so that the next run brings back the plan as it was at the undo. The
// restore is an edit of its own and is journalled like any other. Survivors keep their rows;
// tasks brought back follow in the order they stood in, as the same objects.
//
// A duration step runs the change again with the other value, on the plan as it is; the duration
// it replaces is what the next run sets.
//
// So a step costs what its edit touched, and an undo what changed since its mark. The journal is
// kept from the oldest mark a live step holds.

#include "Project.h"

#include <algorithm>

namespace {

// Undo and redo are one and the same run: what a run replaces is what the next one sets.
class AlternatingStep : public UndoStep {
public:
    void undo() final { runIfAlive(); }
    void redo() final { runIfAlive(); }

protected:
    explicit AlternatingStep(Project *project)
        : m_project(project)
    { }
    virtual void run(Project &project) = 0;
    [[nodiscard]] Project *project() const { return m_project.data(); }

private:
    void runIfAlive()
    {
        if (m_project)
            run(*m_project);
    }

    QPointer<Project> m_project;
};

} // namespace

class Project::SnapshotStep final : public AlternatingStep {
public:
    SnapshotStep(Project *project, Mark mark, std::optional<Span> span)
        : AlternatingStep(project)
        , m_mark(mark)
        , m_span(span)
    {
        project->holdMark(mark);
    }
    ~SnapshotStep() override
    {
        if (Project *owner = project())
            owner->releaseMark(m_mark, true);
    }
    SnapshotStep(const SnapshotStep &) = delete;
    SnapshotStep &operator=(const SnapshotStep &) = delete;

private:
    void run(Project &project) override
    {
        const Mark now = project.mark();
        const std::optional<Span> spanNow = project.exactSpan();
        project.holdMark(now);
        project.restoreTo(m_mark, m_span);
        // The journal is trimmed when steps go, not while the user waits for one.
        project.releaseMark(m_mark, false);
        m_mark = now;
        m_span = spanNow;
    }

    Mark m_mark;
    std::optional<Span> m_span;
};

class Project::DurationStep final : public AlternatingStep {
public:
    DurationStep(Project *project, TaskPtr task, double duration)
        : AlternatingStep(project)
        , m_task(std::move(task))
        , m_duration(duration)
    { }

private:
    void run(Project &project) override
    {
        // A task brought back by another project's file in a revert is a different object of the
        // same id; the one listed is the one the user sees.
        TaskPtr task = m_task;
        if (task->m_owner != &project)
            if (TaskPtr listed = project.taskWithId(task->id()))
                task = std::move(listed);
        const double before = task->duration();
        project.changeDurationImpl(task, m_duration, false);
        m_duration = before;
    }

    TaskPtr m_task;
    double m_duration;
};

std::unique_ptr<UndoStep> Project::makeSnapshotStep(const Mark &mark, const std::optional<Span> &span)
{
    return std::make_unique<SnapshotStep>(this, mark, span);
}

std::optional<Project::Span> Project::exactSpan() const
{
    if (!m_spanExact)
        return std::nullopt;
    return Span { m_start, m_end };
}

std::unique_ptr<UndoStep> Project::makeDurationStep(const TaskPtr &task, double duration)
{
    return std::make_unique<DurationStep>(this, task, duration);
}

Project::Mark Project::mark() const
{
    return { m_journalBase.states + m_journalStates.size(), m_journalBase.changes + m_journalChanges.size() };
}

void Project::holdMark(const Mark &mark)
{
    m_heldMarks.insert(mark);
}

void Project::releaseMark(const Mark &mark, bool trim)
{
    const auto found = m_heldMarks.find(mark);
    if (found != m_heldMarks.end())
        m_heldMarks.erase(found);
    if (!trim)
        return;
    // Entries before every mark still held are never read again.
    const Mark oldest = m_heldMarks.empty() ? this->mark() : *m_heldMarks.begin();
    for (; m_journalBase.states < oldest.states; ++m_journalBase.states) {
        // An edit and its undo each find one again.
        if (m_spareBlocks.size() < 2) {
            m_journalStates.front().clear();
            m_spareBlocks.push_back(std::move(m_journalStates.front()));
        }
        m_journalStates.pop_front();
    }
    for (; m_journalBase.changes < oldest.changes; ++m_journalBase.changes)
        m_journalChanges.pop_front();
}

void Project::restoreTo(const Mark &target, const std::optional<Span> &spanThen)
{
    beginEdit();
    const size_t firstState = size_t(target.states - m_journalBase.states);
    const size_t firstChange = size_t(target.changes - m_journalBase.changes);

    // Each task as it stood at the mark: the first entry of it written since. The journal does
    // not change before this restore ends, which writes its own entries then.
    std::vector<const TaskState *> &states = m_restoring;
    states.clear();
    // One edit's block names each task once: the undo of the last edit reads it as it stands.
    const bool oneBlock = m_journalStates.size() == firstState + 1;
    if (!oneBlock) {
        const quint64 seen = nextStamp();
        for (size_t i = firstState; i < m_journalStates.size(); ++i) {
            for (const TaskState &state : m_journalStates[i]) {
                if (state.task->m_visitStamp != seen) {
                    state.task->m_visitStamp = seen;
                    states.push_back(&state);
                }
            }
        }
    }

    // The dependencies change by change, latest first; the name and the list as they were.
    std::optional<QString> name;
    QHash<Task *, QString> names;
    bool listChanged = false;
    bool edgesReplaced = false;
    std::vector<Task *> linked;
    for (size_t i = m_journalChanges.size(); i-- > firstChange;) {
        const ListChange &change = m_journalChanges[i];
        switch (change.kind) {
        case ListChange::Rename:
            name = change.name;
            break;
        case ListChange::RenameTask:
            names.insert(change.task.get(), change.name);
            break;
        case ListChange::AppendTask:
        case ListChange::RemoveTask:
        case ListChange::ReplaceTasks:
        case ListChange::ReorderTask:
            listChanged = true;
            break;
        case ListChange::InsertEdge: {
            qsizetype index = change.index;
            if (index >= m_edges.size() || !(m_edges[index] == change.edge))
                index = m_edges.indexOf(change.edge);
            if (index >= 0)
                removeEdgeAt(index);
            linked.push_back(change.edge.predecessor.get());
            linked.push_back(change.edge.successor.get());
            break;
        }
        case ListChange::RemoveEdge:
            insertEdgeAt(std::min(change.index, m_edges.size()), change.edge);
            linked.push_back(change.edge.predecessor.get());
            linked.push_back(change.edge.successor.get());
            break;
        case ListChange::ReplaceEdges:
            replaceEdges(*change.edges);
            edgesReplaced = true;
            break;
        }
    }
    if (name && *name != m_name)
        setName(*name);

    QHash<Task *, TaskPtr> standIns;
    // Marks the tasks of then in their scratch index, which no walk below uses.
    constexpr int thenMark = -2;
    if (listChanged) {
        for (const TaskPtr &task : std::as_const(m_tasks))
            task->m_scratchIndex = 0;
        // The list at the mark, to tell which tasks were there and in which order.
        std::vector<TaskPtr> then(m_tasks.cbegin(), m_tasks.cend());
        for (size_t i = m_journalChanges.size(); i-- > firstChange;) {
            const ListChange &change = m_journalChanges[i];
            switch (change.kind) {
            case ListChange::AppendTask:
                if (!then.empty() && then.back() == change.task)
                    then.pop_back();
                else
                    std::erase(then, change.task);
                break;
            case ListChange::RemoveTask:
                then.insert(then.begin() + std::min(change.index, qsizetype(then.size())), change.task);
                break;
            case ListChange::ReplaceTasks:
                then.assign(change.tasks->cbegin(), change.tasks->cend());
                break;
            case ListChange::ReorderTask:
                if (change.index < qsizetype(then.size()) && change.to < qsizetype(then.size())) {
                    TaskPtr moved = then[size_t(change.to)];
                    then.erase(then.begin() + change.to);
                    then.insert(then.begin() + change.index, std::move(moved));
                }
                break;
            default:
                break;
            }
        }
        // Each task of then stands for the task now listed under its id, if any (a revert may have
        // put another object of that id in its place), which keeps its row; the others come back
        // at the end, in the order they stood in.
        const quint64 claimed = nextStamp();
        for (const TaskPtr &task : then) {
            task->m_scratchIndex = thenMark;
            if (task->m_owner == this)
                task->m_visitStamp = claimed;
        }
        QHash<qint64, std::vector<qsizetype>> unclaimedRows;
        for (qsizetype i = m_tasks.size() - 1; i >= 0; --i)
            if (m_tasks[i]->m_visitStamp != claimed)
                unclaimedRows[m_tasks[i]->id()].push_back(i);
        TaskList appended;
        for (const TaskPtr &task : then) {
            if (task->m_owner == this)
                continue;
            const auto rows = unclaimedRows.find(task->id());
            if (rows != unclaimedRows.end() && !rows->empty()) {
                const TaskPtr &listed = m_tasks[rows->back()];
                rows->pop_back();
                listed->m_visitStamp = claimed;
                standIns.insert(task.get(), listed);
            } else {
                appended.append(task);
            }
        }
        TaskList tasks;
        tasks.reserve(qsizetype(then.size()));
        for (const TaskPtr &task : std::as_const(m_tasks))
            if (task->m_visitStamp == claimed)
                tasks.append(task);
        for (const TaskPtr &task : std::as_const(appended)) {
            task->setProject(this);
            tasks.append(task);
        }
        if (tasks != m_tasks)
            replaceTaskList(std::move(tasks));
        if (!standIns.isEmpty()) {
            QList<Edge> edges = m_edges;
            for (Edge &edge : edges) {
                if (const TaskPtr standIn = standIns.value(edge.predecessor.get()))
                    edge.predecessor = standIn;
                if (const TaskPtr standIn = standIns.value(edge.successor.get()))
                    edge.successor = standIn;
            }
            replaceEdges(std::move(edges));
            edgesReplaced = true;
        }
    }

    // What a task of then was is given to the task that stands for it now, or to itself.
    const auto heirOf = [&](Task *task) -> Task * {
        if (const TaskPtr standIn = standIns.value(task))
            return standIn.get();
        return task->m_owner == this && (!listChanged || task->m_scratchIndex == thenMark) ? task : nullptr;
    };
    // A stand-in takes the name its task had then, noted or not.
    for (auto it = standIns.cbegin(); it != standIns.cend(); ++it)
        if (!names.contains(it.key()))
            names.insert(it.key(), it.key()->name());
    for (auto it = names.cbegin(); it != names.cend(); ++it)
        if (Task *heir = heirOf(it.key()))
            if (heir->name() != *it)
                heir->setName(*it);
    const auto restore = [&](const TaskState &state) {
        if (Task *heir = heirOf(state.task.get()))
            assignState(*heir, state);
    };
    if (oneBlock) {
        m_delta.states.reserve(m_delta.states.size() + m_journalStates[firstState].size());
        std::for_each(m_journalStates[firstState].cbegin(), m_journalStates[firstState].cend(), restore);
    } else {
        for (const TaskState *state : states)
            restore(*state);
    }

    setDirty(true);
    if (listChanged || edgesReplaced)
        rebuildAdjacency();
    else
        refreshAdjacencyOf(linked);
    // Every task as it was then, so the span as it was then; a changed list counts afresh.
    if (spanThen && !listChanged && !m_tasks.isEmpty()) {
        setStart(spanThen->start);
        m_end = spanThen->end;
        setDuration(m_end - m_start);
        m_spanExact = true;
        m_timesChanged = false;
    } else {
        recomputeSpan();
    }
    endEdit();
}
