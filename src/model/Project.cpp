#include "Project.h"

#include "Ids.h"
#include "Logging.h"
#include "TextForm.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <vector>

using TextForm::quoted;

quint64 Project::nextStamp()
{
    // Marks for graph walks, unique across all projects (tasks can move between projects on a
    // revert).
    static quint64 stamp = 0;
    return ++stamp;
}

QString Edge::description() const
{
    return QLatin1Char('(') + QString::number(predecessor->id()) + QLatin1Char(',') + QString::number(successor->id())
        + QLatin1Char(')');
}

QString IntPair::description() const
{
    return QLatin1Char('(') + QString::number(a) + QLatin1Char(',') + QString::number(b) + QLatin1Char(')');
}

ConsistencyError::ConsistencyError(const QString &message)
    : std::runtime_error(message.toStdString())
    , msg(message)
{ }

// One step of the history. Steps are numbered as they are registered and know the step below
// them, so that the project knows where in the history it stands; see m_drift.
class Project::HistoryStep : public UndoStep {
public:
    explicit HistoryStep(Project *project)
        : m_project(project)
        , m_serial(++project->m_lastSerial)
        , m_below(project->m_position)
    {
        project->m_position = m_serial;
        // States kept for positions above this one belong to steps that can no longer be redone.
        // This step starts from the plan as it is: what waited for redoing a step above is void,
        // and what waited at this position now serves only the undo of the step below.
        // A task already there keeps its older state: that is the one the step below recorded.
        std::vector<TaskState> pending = project->m_undoOnly.take(m_below);
        const quint64 kept = nextStamp();
        for (const TaskState &state : pending)
            state.task->m_visitStamp = kept;
        for (TaskState &state : project->m_drift.take(m_below))
            if (state.task->m_visitStamp != kept)
                pending.push_back(std::move(state));
        project->m_drift.clear();
        for (auto it = project->m_undoOnly.begin(); it != project->m_undoOnly.end();)
            it = it.key() > m_below ? project->m_undoOnly.erase(it) : std::next(it);
        if (!pending.empty())
            project->m_undoOnly.insert(m_below, std::move(pending));
        for (auto it = project->m_reverts.begin(); it != project->m_reverts.end();) {
            it->forRedo = false;
            it = it.key() > m_below ? project->m_reverts.erase(it) : std::next(it);
        }
    }
    void undo() final
    {
        if (!m_project)
            return;
        m_project->undoReverts(m_serial, false);
        undoChange(*m_project);
        m_project->m_position = m_below;
    }
    void redo() final
    {
        if (!m_project)
            return;
        m_project->undoReverts(m_below, true);
        redoChange(*m_project);
        m_project->m_position = m_serial;
    }

protected:
    virtual void undoChange(Project &project) = 0;
    virtual void redoChange(Project &project) = 0;
    [[nodiscard]] quint64 serial() const { return m_serial; }
    [[nodiscard]] quint64 below() const { return m_below; }

private:
    QPointer<Project> m_project;
    const quint64 m_serial;
    const quint64 m_below;
};

// Undoes and redoes an edit from what it changed: the tasks it touched, and the rows and
// dependencies it added or removed. Tasks that a duration change's undo or redo left elsewhere
// than this step recorded are put back first, so the result is exactly the recorded plan.
class Project::DeltaStep final : public HistoryStep {
public:
    DeltaStep(Project *project, Delta delta)
        : HistoryStep(project)
        , m_delta(std::move(delta))
    { }

protected:
    void undoChange(Project &project) override
    {
        project.restoreDrift(serial(), true);
        project.applyDelta(m_delta, false);
    }
    void redoChange(Project &project) override
    {
        project.restoreDrift(below(), false);
        project.applyDelta(m_delta, true);
    }

private:
    Delta m_delta;
};

// Undoes a duration change by running the change again with the previous value, and redoes it
// the same way; pushed successors therefore stay where they are. Where the plan then differs
// from what the history recorded for the new position, the recorded states wait in m_drift.
class Project::DurationStep final : public HistoryStep {
public:
    DurationStep(Project *project, TaskPtr task, double before, double after, std::vector<TaskState> changed)
        : HistoryStep(project)
        , m_task(std::move(task))
        , m_before(before)
        , m_after(after)
        , m_statesBefore(std::move(changed))
    {
        m_statesAfter.reserve(m_statesBefore.size());
        for (const TaskState &state : m_statesBefore)
            m_statesAfter.push_back(stateOf(state.task));
    }

protected:
    void undoChange(Project &project) override { run(project, m_before, serial(), below(), m_statesBefore, true); }
    void redoChange(Project &project) override { run(project, m_after, below(), serial(), m_statesAfter, false); }

private:
    void run(Project &project, double duration, quint64 from, quint64 to, const std::vector<TaskState> &recorded,
        bool undoing)
    {
        // Newer states first: what an earlier registration kept is older.
        std::vector<TaskState> pending = project.m_drift.take(from);
        if (undoing)
            for (TaskState &state : project.m_undoOnly.take(from))
                pending.push_back(std::move(state));
        const std::vector<TaskState> rerun = project.changeDurationImpl(m_task, duration, false);
        // The history's plan at the new position: as recorded where the change moved tasks,
        // elsewhere as it was at the old position (which may itself have been waiting).
        std::vector<TaskState> drift;
        const quint64 seen = nextStamp();
        const auto consider = [&](const TaskState &state) {
            Task &task = *state.task;
            if (task.m_visitStamp == seen)
                return;
            task.m_visitStamp = seen;
            if (differs(task, state))
                drift.push_back(state);
        };
        for (const TaskState &state : recorded)
            consider(state);
        for (const TaskState &state : pending)
            consider(state);
        for (const TaskState &state : rerun)
            consider(state);
        if (!drift.empty())
            project.m_drift.insert(to, std::move(drift));
    }

    TaskPtr m_task;
    double m_before;
    double m_after;
    std::vector<TaskState> m_statesBefore;
    std::vector<TaskState> m_statesAfter;
};

Project::Project()
    : m_id(Ids::takeProjectId())
{ }

Project::~Project()
{
    // Tasks hold each other in their dependency sets; break those cycles so that tasks outliving
    // the project in undo steps or views do not keep each other alive forever.
    for (const TaskPtr &task : std::as_const(m_tasks)) {
        task->m_predecessors.clear();
        task->m_successors.clear();
        task->m_listIndex = -1;
        task->m_owner = nullptr;
        task->m_groupNode = -1;
    }
}

void Project::setName(const QString &name)
{
    Q_EMIT nameAboutToChange();
    m_name = name;
    setDirty(true);
    Q_EMIT nameChanged();
}

void Project::setDirty(bool dirty)
{
    if (dirty)
        Q_EMIT edited();
    if (m_isDirty == dirty)
        return;
    m_isDirty = dirty;
    Q_EMIT dirtyChanged(dirty);
}

void Project::setTasks(TaskList tasks)
{
    Q_EMIT tasksAboutToChange();
    for (auto it = m_groups.begin(); it != m_groups.end(); ++it)
        it->clear();
    m_groups.clear();
    m_groupsBuilt = false;
    m_unindexed.clear();
    for (const TaskPtr &task : std::as_const(m_tasks)) {
        task->m_listIndex = -1;
        task->m_owner = nullptr;
    }
    m_tasks = std::move(tasks);
    renumberFrom(0);
    m_levelsValid = false;
    m_spanExact = false;
    Q_EMIT tasksChanged();
}

void Project::setStart(double start)
{
    Q_EMIT startAboutToChange();
    m_start = start;
    Q_EMIT startChanged();
}

void Project::setDuration(double duration)
{
    Q_EMIT durationAboutToChange();
    m_duration = duration;
    Q_EMIT durationChanged();
}

TaskPtr Project::taskWithId(std::optional<qint64> id) const
{
    if (!id)
        return {};
    const auto found
        = std::find_if(m_tasks.cbegin(), m_tasks.cend(), [&](const TaskPtr &task) { return task->id() == *id; });
    return found == m_tasks.cend() ? TaskPtr() : *found;
}

qsizetype Project::rowOf(const Task &task) const
{
    return task.m_owner == this ? task.m_listIndex : -1;
}

QList<IntPair> Project::dependencies() const
{
    QList<IntPair> pairs;
    pairs.reserve(m_edges.size());
    for (const Edge &edge : m_edges)
        pairs.append({ edge.predecessor->id(), edge.successor->id() });
    return pairs;
}

QString Project::description() const
{
    QStringList taskTexts;
    taskTexts.reserve(m_tasks.size());
    for (const TaskPtr &task : m_tasks)
        taskTexts.append(task->description());
    QStringList edgeTexts;
    edgeTexts.reserve(m_edges.size());
    for (const IntPair &pair : dependencies())
        edgeTexts.append(pair.description());
    return QLatin1String("[ID: ") + QString::number(m_id) + QLatin1String(", name: ") + m_name
        + QLatin1String(", start: ") + TextForm::number(m_start) + QLatin1String(", end: ") + TextForm::number(m_end)
        + QLatin1String(", duration: ") + TextForm::number(m_duration) + QLatin1String(", tasks: [")
        + taskTexts.join(QLatin1String(", ")) + QLatin1String("], edges: [") + edgeTexts.join(QLatin1String(", "))
        + QLatin1String("]]");
}

std::optional<ConsistencyReport> Project::deletedEdgesReport() const
{
    if (m_deletedEdges.isEmpty())
        return std::nullopt;
    QStringList lines;
    for (const Edge &edge : m_deletedEdges)
        lines.append(quoted(edge.successor->name()) + QLatin1String(" on ") + quoted(edge.predecessor->name()));
    return ConsistencyReport { QStringLiteral("Dependencies Deleted for Achieving Consistency"),
        lines.join(QLatin1Char('\n')) };
}

void Project::beginEdit()
{
    if (m_editDepth++ > 0)
        return;
    ++m_edit;
    m_delta = {};
    m_timesChanged = false;
    m_editStart = m_start;
    m_editEnd = m_end;
}

void Project::endEdit(const QString &actionName)
{
    if (--m_editDepth > 0)
        return;
    flushGroupIndex();
    // An edit that moved tasks without recomputing the span leaves it to the next full count.
    if (m_timesChanged)
        m_spanExact = false;
    if (!actionName.isEmpty() && m_undoManager)
        m_undoManager->registerUndo(actionName, std::make_unique<DeltaStep>(this, std::move(m_delta)));
    m_delta = {};
    // Changes from now until the next edit are nobody's; a new number tells them apart.
    ++m_edit;
}

void Project::taskAboutToChange(Task &task)
{
    if (task.m_touchStamp != m_edit) {
        task.m_touchStamp = m_edit;
        if (m_editDepth == 0)
            m_spanExact = false;
        else if (m_recording)
            m_delta.states.push_back(
                { m_tasks.at(task.m_listIndex), task.m_start, task.m_duration, task.m_end, task.m_exclusionGroup });
    }
    if (m_editDepth > 0)
        m_timesChanged = true;
    if (task.m_groupNode >= 0) {
        const auto found = m_groups.find(*task.m_exclusionGroup);
        if (found != m_groups.end())
            found->erase(&task);
        task.m_groupNode = -1;
    }
    if (m_groupsBuilt && task.m_exclusionGroup)
        m_unindexed.push_back(&task);
}

void Project::taskRegrouped(Task &task)
{
    if (m_groupsBuilt && task.m_exclusionGroup && task.m_groupNode < 0)
        m_unindexed.push_back(&task);
}

void Project::noteListChange(ListChange change)
{
    if (m_editDepth > 0)
        m_delta.changes.append(std::move(change));
}

void Project::applyDelta(Delta &delta, bool forward)
{
    beginEdit();
    // What this changes is the delta itself; noting it again would only cost time.
    m_recording = false;
    const bool listChanges = std::any_of(delta.changes.cbegin(), delta.changes.cend(), [](const ListChange &change) {
        return change.kind == ListChange::AppendTask || change.kind == ListChange::RemoveTask;
    });
    if (listChanges)
        Q_EMIT tasksAboutToChange();
    std::vector<Task *> linked;
    const auto apply = [&](const ListChange &change) {
        ListChange::Kind kind = change.kind;
        if (!forward) {
            constexpr ListChange::Kind opposite[]
                = { ListChange::RemoveTask, ListChange::AppendTask, ListChange::RemoveEdge, ListChange::InsertEdge };
            kind = opposite[kind];
        }
        switch (kind) {
        case ListChange::AppendTask:
            if (change.task->m_listIndex < 0) {
                change.task->setProject(this);
                appendTask(change.task);
                linked.push_back(change.task.get());
            }
            break;
        case ListChange::RemoveTask:
            if (change.task->m_listIndex >= 0 && change.task->m_listIndex < m_tasks.size()
                && m_tasks[change.task->m_listIndex] == change.task) {
                removeTaskAt(change.task->m_listIndex);
                change.task->m_predecessors.clear();
                change.task->m_successors.clear();
            }
            break;
        case ListChange::InsertEdge:
            insertEdgeAt(std::min(change.index, m_edges.size()), change.edge);
            // The sets are refreshed only at the end; the levels follow from them next time.
            if (change.edge.predecessor->m_level >= change.edge.successor->m_level)
                m_levelsValid = false;
            linked.push_back(change.edge.predecessor.get());
            linked.push_back(change.edge.successor.get());
            break;
        case ListChange::RemoveEdge: {
            qsizetype index = change.index;
            if (index >= m_edges.size() || !(m_edges[index] == change.edge))
                index = m_edges.indexOf(change.edge);
            if (index >= 0)
                removeEdgeAt(index);
            linked.push_back(change.edge.predecessor.get());
            linked.push_back(change.edge.successor.get());
            break;
        }
        }
    };
    if (forward) {
        for (const ListChange &change : delta.changes)
            apply(change);
    } else {
        for (auto it = delta.changes.crbegin(); it != delta.changes.crend(); ++it)
            apply(*it);
    }
    for (TaskState &state : delta.states) {
        Task &task = *state.task;
        const TaskState current { {}, task.m_start, task.m_duration, task.m_end, task.m_exclusionGroup };
        assignState(task, state);
        state.start = current.start;
        state.duration = current.duration;
        state.end = current.end;
        state.exclusionGroup = current.exclusionGroup;
    }
    if (listChanges)
        Q_EMIT tasksChanged();
    refreshAdjacencyOf(linked);
    setDirty(true);
    // A count of all tasks costs less than the copy of many states; rows added or removed by
    // an undo are rare enough to count always.
    if (!listChanges && qsizetype(delta.states.size()) * 8 < m_tasks.size())
        m_delta = { {}, delta.states };
    else
        m_spanExact = false;
    recomputeSpan();
    m_recording = true;
    endEdit();
}

void Project::recomputeSpan()
{
    bool full = !m_spanExact || m_editDepth == 0 || m_tasks.isEmpty();
    double start = m_editStart;
    double end = m_editEnd;
    if (!full) {
        // The span can only have shrunk where a task that held one of its ends moved inwards or
        // left; anything else extends it.
        for (const TaskState &state : m_delta.states) {
            const Task &task = *state.task;
            if (task.m_listIndex < 0) {
                full = full || state.start <= m_editStart || state.end >= m_editEnd;
                continue;
            }
            full = full || (state.start <= m_editStart && task.m_start > state.start)
                || (state.end >= m_editEnd && task.m_end < state.end);
            start = std::min(start, task.m_start);
            end = std::max(end, task.m_end);
        }
        for (const ListChange &change : std::as_const(m_delta.changes)) {
            if (change.kind == ListChange::AppendTask) {
                // An edit that began with no tasks had 0.0 for a span that holds nothing.
                full = full || m_tasks.size() == 1;
                start = std::min(start, change.task->m_start);
                end = std::max(end, change.task->m_end);
            } else if (change.kind == ListChange::RemoveTask) {
                full = full || change.task->m_start <= m_editStart || change.task->m_end >= m_editEnd;
            }
        }
    }
    if (full) {
        recomputeStart();
        recomputeEnd();
    } else {
        setStart(start);
        m_end = end;
        setDuration(m_end - m_start);
    }
    m_spanExact = true;
    m_timesChanged = false;
}

void Project::renumberFrom(qsizetype index)
{
    for (qsizetype i = index; i < m_tasks.size(); ++i) {
        m_tasks[i]->m_listIndex = i;
        m_tasks[i]->m_owner = this;
    }
}

void Project::appendTask(const TaskPtr &task)
{
    m_tasks.append(task);
    task->m_listIndex = m_tasks.size() - 1;
    task->m_owner = this;
    task->m_level = 0;
    if (m_groupsBuilt)
        m_unindexed.push_back(task.get());
    noteListChange({ ListChange::AppendTask, task, {}, 0 });
}

void Project::removeTaskAt(qsizetype index)
{
    // Nothing may wait for the index that could outlive its task.
    flushGroupIndex();
    const TaskPtr task = m_tasks[index];
    if (task->m_groupNode >= 0 && task->m_exclusionGroup) {
        const auto found = m_groups.find(*task->m_exclusionGroup);
        if (found != m_groups.end())
            found->erase(task.get());
    }
    task->m_groupNode = -1;
    m_tasks.removeAt(index);
    task->m_listIndex = -1;
    task->m_owner = nullptr;
    renumberFrom(index);
    noteListChange({ ListChange::RemoveTask, task, {}, 0 });
}

void Project::insertEdgeAt(qsizetype index, const Edge &edge)
{
    m_edges.insert(index, edge);
    noteListChange({ ListChange::InsertEdge, {}, edge, index });
}

void Project::removeEdgeAt(qsizetype index)
{
    noteListChange({ ListChange::RemoveEdge, {}, m_edges[index], index });
    m_edges.removeAt(index);
}

namespace {

TaskSet without(const TaskSet &set, const Task *task)
{
    TaskSet result;
    result.reserve(set.size());
    for (const TaskPtr &member : set)
        if (member.get() != task)
            result.append(member);
    return result;
}

} // namespace

void Project::addTask(const TaskPtr &task)
{
    beginEdit();
    Q_EMIT tasksAboutToChange();
    appendTask(task);
    Q_EMIT tasksChanged();
    task->setStart(m_end);
    setDirty(true);
    // A new task has no dependencies, and nobody else's changed.
    task->setPredecessors({});
    task->setSuccessors({});
    recomputeSpan();
    endEdit(QStringLiteral("Add Task"));
}

TaskPtr Project::duplicate(std::optional<qint64> taskId)
{
    const TaskPtr source = taskWithId(taskId);
    if (!source)
        return {};
    TaskPtr task = Task::create(Ids::takeTaskId(), this, source->name(), source->duration(), source->end());
    // One step, so that its redo brings the group back too.
    beginEdit();
    addTask(task);
    task->setExclusionGroup(source->exclusionGroup());
    endEdit(QStringLiteral("Add Task"));
    return task;
}

void Project::deleteTask(const TaskPtr &taskToDelete)
{
    // The caller's reference may point into the task list that is about to change.
    const TaskPtr task = taskToDelete;
    beginEdit();
    const qsizetype index = task->m_listIndex;
    if (index >= 0 && index < m_tasks.size() && m_tasks[index] == task) {
        Q_EMIT tasksAboutToChange();
        removeTaskAt(index);
        Q_EMIT tasksChanged();
        // From the last edge down, so that each recorded index is still the edge's own.
        for (qsizetype i = m_edges.size() - 1; i >= 0; --i) {
            if (m_edges[i].predecessor == task || m_edges[i].successor == task)
                removeEdgeAt(i);
        }
        const TaskSet predecessors = task->predecessors();
        const TaskSet successors = task->successors();
        for (const TaskPtr &predecessor : predecessors)
            predecessor->setSuccessors(without(predecessor->successors(), task.get()));
        for (const TaskPtr &successor : successors)
            successor->setPredecessors(without(successor->predecessors(), task.get()));
        task->m_predecessors.clear();
        task->m_successors.clear();
        setDirty(true);
        recomputeSpan();
    }
    endEdit(QStringLiteral("Delete Task"));
}

void Project::moveTask(const TaskPtr &task, double delta)
{
    beginEdit();
    shiftTask(*task, delta);
    setDirty(true);
    recomputeSpan();
    endEdit(QStringLiteral("Move Task"));
}

void Project::changeDuration(const TaskPtr &task, double duration)
{
    changeDurationImpl(task, duration, true);
}

std::vector<Project::TaskState> Project::changeDurationImpl(const TaskPtr &task, double duration, bool record)
{
    if (!std::isfinite(duration)) {
        qCCritical(lcQuillfern, "refused to give task # %lld a duration that is not a finite number",
            static_cast<long long>(task->id()));
        return {};
    }
    beginEdit();
    const double old = task->duration();
    task->setDuration(duration);
    if (duration > old)
        pushSuccessors(*task);
    setDirty(true);
    recomputeSpan();
    std::vector<TaskState> changed = m_editDepth == 1 ? std::move(m_delta.states) : m_delta.states;
    endEdit();
    if (record && m_undoManager)
        m_undoManager->registerUndo(QStringLiteral("Change Task Duration"),
            std::make_unique<DurationStep>(this, task, old, duration, std::move(changed)));
    return changed;
}

void Project::assignState(Task &task, const TaskState &state)
{
    // In the order and with the care of Task::assign: what did not change notifies nobody.
    if (task.m_start != state.start)
        task.setStart(state.start);
    if (task.m_exclusionGroup != state.exclusionGroup)
        task.setExclusionGroup(state.exclusionGroup);
    if (task.m_duration != state.duration)
        task.setDurationOnly(state.duration);
    if (task.m_end != state.end)
        task.setEnd(state.end);
}

Project::TaskState Project::stateOf(const TaskPtr &task)
{
    return { task, task->m_start, task->m_duration, task->m_end, task->m_exclusionGroup };
}

bool Project::differs(const Task &task, const TaskState &state)
{
    // Bit for bit: a start that reads the same may still differ in its sign or last digit.
    const auto bits = [](double value) { return std::bit_cast<quint64>(value); };
    return bits(task.m_start) != bits(state.start) || bits(task.m_duration) != bits(state.duration)
        || bits(task.m_end) != bits(state.end) || task.m_exclusionGroup != state.exclusionGroup;
}

void Project::restoreDrift(quint64 position, bool undoing)
{
    // Older states first, so that newer ones have the last word.
    std::vector<TaskState> states = undoing ? m_undoOnly.take(position) : std::vector<TaskState>();
    for (TaskState &state : m_drift.take(position))
        states.push_back(std::move(state));
    if (states.empty())
        return;
    for (const TaskState &state : states)
        assignState(*state.task, state);
    recomputeStart();
    recomputeEnd();
}

void Project::changeExclusionGroup(const TaskPtr &task, const ExclusionGroup &group)
{
    beginEdit();
    task->setExclusionGroup(group);
    setDirty(true);
    if (resolveExclusionConflicts(*task, false))
        recomputeSpan();
    endEdit(QStringLiteral("Change Exclusion Group"));
}

void Project::addDependency(const TaskPtr &predecessor, const TaskPtr &successor)
{
    beginEdit();
    try {
        insertEdge(predecessor, successor);
    } catch (...) {
        endEdit();
        throw;
    }
    alignPredecessor(*predecessor, successor->start());
    endEdit(QStringLiteral("Add Dependency"));
    setDirty(true);
}

void Project::insertEdge(const TaskPtr &predecessor, const TaskPtr &successor)
{
    if (predecessor == successor)
        throw ConsistencyError(
            QLatin1String("Task ") + quoted(successor->name()) + QLatin1String(" cannot depend on itself!"));
    if (predecessor->successors().contains(successor))
        throw ConsistencyError(QLatin1String("Task ") + quoted(successor->name())
            + QLatin1String(" already depends on task ") + quoted(predecessor->name()) + QLatin1Char('!'));
    ensureLevels();
    if (isReachable(*successor, *predecessor))
        throw ConsistencyError(QLatin1String("Task ") + quoted(successor->name()) + QLatin1String(" and ")
            + quoted(predecessor->name()) + QLatin1String(" already have the opposite dependency, maybe implicitly!"));
    insertEdgeAt(m_edges.size(), { predecessor, successor });
    if (m_levelsValid && predecessor->m_level >= successor->m_level)
        raiseLevels(*successor, predecessor->m_level + 1);
    // The new edge is the last one, so the sets keep the order of the edges.
    if (!predecessor->successors().contains(successor)) {
        TaskSet successors = predecessor->successors();
        successors.append(successor);
        predecessor->setSuccessors(std::move(successors));
    } else {
        predecessor->setSuccessors(predecessor->successors());
    }
    if (!successor->predecessors().contains(predecessor)) {
        TaskSet predecessors = successor->predecessors();
        predecessors.append(predecessor);
        successor->setPredecessors(std::move(predecessors));
    } else {
        successor->setPredecessors(successor->predecessors());
    }
    setDirty(true);
}

bool Project::isReachable(const Task &from, const Task &to) const
{
    // Levels rise along every edge, so nothing at or above the target's level leads to it.
    const bool pruned = m_levelsValid && from.m_listIndex >= 0 && to.m_listIndex >= 0;
    if (pruned && from.m_level >= to.m_level)
        return false;
    // Depth first with a visited mark, so that diamonds are walked once and long chains need
    // no call stack.
    const quint64 stamp = nextStamp();
    QList<const Task *> pending { &from };
    while (!pending.isEmpty()) {
        const Task *task = pending.takeLast();
        for (const TaskPtr &next : task->successors()) {
            if (next.get() == &to)
                return true;
            if (next->m_visitStamp != stamp && !(pruned && next->m_level >= to.m_level)) {
                next->m_visitStamp = stamp;
                pending.append(next.get());
            }
        }
    }
    return false;
}

void Project::deleteDependency(const TaskPtr &predecessor, const TaskPtr &successor)
{
    beginEdit();
    for (qsizetype i = m_edges.size() - 1; i >= 0; --i) {
        if (m_edges[i].predecessor == predecessor && m_edges[i].successor == successor)
            removeEdgeAt(i);
    }
    // No edge from one to the other is left; the rest of both sets keeps its order.
    predecessor->setSuccessors(without(predecessor->successors(), successor.get()));
    successor->setPredecessors(without(successor->predecessors(), predecessor.get()));
    setDirty(true);
    endEdit(QStringLiteral("Delete Dependency"));
}

void Project::reorderTask(qsizetype from, qsizetype to)
{
    if (from == to || from < 0 || to < 0 || from >= m_tasks.size() || to >= m_tasks.size())
        return;
    Q_EMIT tasksAboutToChange();
    m_tasks.move(from, to);
    renumberFrom(std::min(from, to));
    Q_EMIT tasksChanged();
    setDirty(true);
}

void Project::rebuildAdjacency()
{
    std::vector<Task *> all;
    all.reserve(m_tasks.size());
    for (qsizetype i = 0; i < m_tasks.size(); ++i) {
        // A project being loaded gets its list here.
        m_tasks[i]->m_listIndex = i;
        m_tasks[i]->m_owner = this;
        all.push_back(m_tasks[i].get());
    }
    m_levelsValid = false;
    refreshAdjacencyOf(all);
}

void Project::refreshAdjacency(Task &predecessor, Task &successor)
{
    TaskSet successors;
    TaskSet predecessors;
    const quint64 seenAsSuccessor = nextStamp();
    for (const Edge &edge : std::as_const(m_edges)) {
        if (edge.predecessor.get() == &predecessor && edge.successor->m_visitStamp != seenAsSuccessor) {
            edge.successor->m_visitStamp = seenAsSuccessor;
            successors.append(edge.successor);
        }
    }
    const quint64 seenAsPredecessor = nextStamp();
    for (const Edge &edge : std::as_const(m_edges)) {
        if (edge.successor.get() == &successor && edge.predecessor->m_visitStamp != seenAsPredecessor) {
            edge.predecessor->m_visitStamp = seenAsPredecessor;
            predecessors.append(edge.predecessor);
        }
    }
    predecessor.setSuccessors(std::move(successors));
    successor.setPredecessors(std::move(predecessors));
}

void Project::refreshAdjacencyOf(const std::vector<Task *> &tasks)
{
    if (tasks.empty())
        return;
    // One pass over the edges for all of them: the sets keep the order of the edges, and
    // duplicate edges count once.
    const quint64 marked = nextStamp();
    std::vector<Task *> listed;
    for (Task *task : tasks) {
        if (task->m_visitStamp != marked && task->m_listIndex >= 0) {
            task->m_visitStamp = marked;
            task->m_scratchIndex = qsizetype(listed.size());
            listed.push_back(task);
        }
    }
    std::vector<TaskSet> predecessors(listed.size());
    std::vector<TaskSet> successors(listed.size());
    for (const Edge &edge : std::as_const(m_edges)) {
        if (edge.successor->m_visitStamp == marked)
            predecessors[edge.successor->m_scratchIndex].append(edge.predecessor);
        if (edge.predecessor->m_visitStamp == marked)
            successors[edge.predecessor->m_scratchIndex].append(edge.successor);
    }
    const auto withoutRepeats = [](TaskSet &set) {
        if (set.size() < 2)
            return;
        const quint64 seen = nextStamp();
        set.removeIf([seen](const TaskPtr &task) {
            if (task->m_visitStamp == seen)
                return true;
            task->m_visitStamp = seen;
            return false;
        });
    };
    for (size_t i = 0; i < listed.size(); ++i) {
        withoutRepeats(predecessors[i]);
        withoutRepeats(successors[i]);
        listed[i]->setPredecessors(std::move(predecessors[i]));
        listed[i]->setSuccessors(std::move(successors[i]));
    }
}

void Project::recomputeStart()
{
    double start = 0.0;
    if (!m_tasks.isEmpty()) {
        start = std::numeric_limits<double>::infinity();
        for (const TaskPtr &task : std::as_const(m_tasks))
            start = std::min(start, task->start());
    }
    setStart(start);
}

void Project::recomputeEnd()
{
    double end = 0.0;
    if (!m_tasks.isEmpty()) {
        end = -std::numeric_limits<double>::infinity();
        for (const TaskPtr &task : std::as_const(m_tasks))
            end = std::max(end, task->end());
    }
    m_end = end;
    setDuration(m_end - m_start);
    m_spanExact = true;
}

void Project::applySnapshot(const ProjectMemento &memento)
{
    if (memento.name != m_name)
        setName(memento.name);
    // Noted like an edit, so that undoing the step below, or redoing the one above, first takes
    // the plan back to what the history knows.
    beginEdit();

    // The current tasks by id, each id leading to its first unclaimed task and on to the next one
    // of the same id (files may repeat ids).
    QHash<qint64, qsizetype> unclaimed;
    unclaimed.reserve(m_tasks.size());
    std::vector<qsizetype> nextWithSameId(m_tasks.size(), -1);
    for (qsizetype i = m_tasks.size() - 1; i >= 0; --i) {
        qsizetype &first = unclaimed[m_tasks[i]->id()];
        nextWithSameId[i] = first != 0 ? first - 1 : -1;
        first = i + 1;
    }
    QList<bool> kept(m_tasks.size(), false);
    TaskList appended;
    for (const TaskPtr &copy : memento.tasks) {
        auto found = unclaimed.find(copy->id());
        if (found != unclaimed.end() && *found != 0) {
            const qsizetype index = *found - 1;
            *found = nextWithSameId[index] + 1;
            kept[index] = true;
            m_tasks[index]->assign(*copy);
        } else {
            copy->setProject(this);
            appended.append(copy);
        }
    }

    const bool allKept = std::all_of(kept.cbegin(), kept.cend(), [](bool k) { return k; });
    if (!allKept || !appended.isEmpty()) {
        TaskList tasks;
        tasks.reserve(m_tasks.size() + appended.size());
        for (qsizetype i = 0; i < m_tasks.size(); ++i) {
            if (kept[i]) {
                tasks.append(m_tasks[i]);
            } else {
                // Leaving the project: its links must not keep other leavers alive.
                m_tasks[i]->m_predecessors.clear();
                m_tasks[i]->m_successors.clear();
                noteListChange({ ListChange::RemoveTask, m_tasks[i], {}, 0 });
            }
        }
        for (const TaskPtr &task : std::as_const(appended))
            noteListChange({ ListChange::AppendTask, task, {}, 0 });
        tasks.append(appended);
        setTasks(std::move(tasks));
    }

    QHash<qint64, TaskPtr> byId;
    byId.reserve(m_tasks.size());
    for (const TaskPtr &task : std::as_const(m_tasks))
        if (!byId.contains(task->id()))
            byId.insert(task->id(), task);
    for (qsizetype i = m_edges.size() - 1; i >= 0; --i)
        noteListChange({ ListChange::RemoveEdge, {}, m_edges[i], i });
    m_edges.clear();
    m_edges.reserve(memento.edges.size());
    for (const Edge &edge : memento.edges) {
        TaskPtr predecessor = byId.value(edge.predecessor->id());
        TaskPtr successor = byId.value(edge.successor->id());
        if (predecessor && successor) {
            m_edges.append({ std::move(predecessor), std::move(successor) });
            noteListChange({ ListChange::InsertEdge, {}, m_edges.last(), m_edges.size() - 1 });
        }
    }

    m_levelsValid = false;
    setDirty(true);
    rebuildAdjacency();
    recomputeStart();
    recomputeEnd();
    auto replaced = std::make_shared<Delta>(std::move(m_delta));
    endEdit();
    if (m_undoManager) {
        Revert &revert = m_reverts[m_position];
        revert.replacements.append(std::move(replaced));
        revert.forRedo = true;
    }
}

void Project::undoReverts(quint64 position, bool redoing)
{
    const auto found = m_reverts.find(position);
    if (found == m_reverts.end() || (redoing && !found->forRedo))
        return;
    const QList<std::shared_ptr<Delta>> replacements = found->replacements;
    m_reverts.erase(found);
    for (auto it = replacements.crbegin(); it != replacements.crend(); ++it)
        applyDelta(**it, false);
}

ProjectMemento Project::takeSnapshot() const
{
    ProjectMemento memento;
    memento.name = m_name;
    memento.edges = m_edges;
    memento.tasks.reserve(m_tasks.size());
    for (const TaskPtr &task : m_tasks)
        memento.tasks.append(Task::createStartingAt(
            task->id(), task->project(), task->name(), task->start(), task->duration(), task->exclusionGroup()));
    return memento;
}

ProjectMemento Project::restoreSnapshot(const ProjectMemento &memento)
{
    ProjectMemento current = takeSnapshot();
    applySnapshot(memento);
    return current;
}
