#include "Project.h"

#include "Ids.h"
#include "Logging.h"
#include "TextForm.h"

#include <QPointer>
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
        task->m_groupIndex = nullptr;
    }
}

void Project::setName(const QString &name)
{
    if (journaling())
        noteListChange({ ListChange::Rename, {}, {}, 0, 0, {}, {}, m_name });
    Q_EMIT nameAboutToChange();
    m_name = name;
    setDirty(true);
    Q_EMIT nameChanged();
}

class Project::OriginStep final : public UndoStep {
public:
    OriginStep(Project *project, std::optional<QDateTime> before, std::optional<QDateTime> after)
        : m_project(project)
        , m_before(std::move(before))
        , m_after(std::move(after))
    { }
    void undo() override
    {
        if (m_project)
            m_project->setOrigin(m_before);
    }
    void redo() override
    {
        if (m_project)
            m_project->setOrigin(m_after);
    }

private:
    QPointer<Project> m_project;
    std::optional<QDateTime> m_before;
    std::optional<QDateTime> m_after;
};

void Project::setOrigin(const std::optional<QDateTime> &origin)
{
    m_origin = origin;
    setDirty(true);
    Q_EMIT originChanged();
}

void Project::changeOrigin(const std::optional<QDateTime> &origin)
{
    if (origin && !isValidOrigin(*origin))
        return;
    if (origin == m_origin)
        return;
    std::optional<QDateTime> before = m_origin;
    setOrigin(origin);
    if (m_undoManager)
        m_undoManager->registerUndo(
            QStringLiteral("Change Project Start Date"), std::make_unique<OriginStep>(this, std::move(before), origin));
}

bool Project::isValidOrigin(const QDateTime &origin)
{
    return origin.isValid() && origin.timeSpec() == Qt::LocalTime && origin.time().msec() == 0
        && origin.date().year() >= 1 && origin.date().year() <= 9999;
}

QString Project::originText(const QDateTime &origin)
{
    return origin.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
}

std::optional<QDateTime> Project::originFromText(const QString &text)
{
    // Exactly the one form written: a local date and time to the second, no zone, no fraction.
    static const auto digit = [](QChar c) { return c >= u'0' && c <= u'9'; };
    if (text.size() != 19)
        return std::nullopt;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool separator = i == 4 || i == 7 || i == 10 || i == 13 || i == 16;
        const QChar expected = i == 10 ? u'T' : i == 13 || i == 16 ? u':' : u'-';
        if (separator ? text.at(i) != expected : !digit(text.at(i)))
            return std::nullopt;
    }
    const QDate date(text.left(4).toInt(), text.mid(5, 2).toInt(), text.mid(8, 2).toInt());
    const QTime time(text.mid(11, 2).toInt(), text.mid(14, 2).toInt(), text.mid(17, 2).toInt());
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    const QDateTime origin(date, time, Qt::LocalTime);
    if (!isValidOrigin(origin))
        return std::nullopt;
    return origin;
}

std::optional<QDateTime> Project::dateTimeAt(double time) const
{
    // About 9,000 years either way, well inside what QDateTime and a 64-bit count of milliseconds hold.
    constexpr double farthest = 2.8e11;
    if (!m_origin || !(std::abs(time) < farthest))
        return std::nullopt;
    QDateTime at = m_origin->addMSecs(qint64(std::llround(time * 1000.0)));
    if (!at.isValid())
        return std::nullopt;
    return at;
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
    for (auto &[group, index] : m_groups)
        index.clear();
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
    m_delta.changes.clear();
    m_delta.states.clear();
    // A block the journal let go of serves again: a fresh one of 100,000 states costs page faults.
    if (m_delta.states.capacity() == 0 && !m_spareBlocks.empty()) {
        m_delta.states = std::move(m_spareBlocks.back());
        m_spareBlocks.pop_back();
    }
    m_timesChanged = false;
    m_editStart = m_start;
    m_editEnd = m_end;
    m_editSpanExact = m_spanExact;
}

void Project::endEdit(const QString &actionName)
{
    if (--m_editDepth > 0)
        return;
    flushGroupIndex();
    // An edit that moved tasks without recomputing the span leaves it to the next full count.
    if (m_timesChanged)
        m_spanExact = false;
    // The step goes back to before this edit, so it holds that mark before the edit is journalled.
    const Mark before = mark();
    std::unique_ptr<UndoStep> step;
    if (!actionName.isEmpty() && m_undoManager)
        step = makeSnapshotStep(
            before, m_editSpanExact ? std::optional<Span>({ m_editStart, m_editEnd }) : std::nullopt);
    // With no step that can go back to a mark, nothing needs to know what changed.
    if (m_undoManager && !m_heldMarks.empty()) {
        if (!m_delta.states.empty())
            m_journalStates.push_back(std::move(m_delta.states));
        for (ListChange &change : m_delta.changes)
            m_journalChanges.push_back(std::move(change));
    }
    m_delta.changes.clear();
    m_delta.states.clear();
    // Changes from now until the next edit are nobody's; a new number tells them apart.
    ++m_edit;
    if (step)
        m_undoManager->registerUndo(actionName, std::move(step));
    Q_EMIT editFinished();
}

void Project::noteState(Task &task)
{
    if (task.m_touchStamp == m_edit && m_editDepth > 0)
        return;
    task.m_touchStamp = m_edit;
    if (m_editDepth > 0)
        m_delta.states.push_back(stateOf(m_tasks.at(task.m_listIndex)));
    else if (journaling())
        m_journalStates.push_back({ stateOf(m_tasks.at(task.m_listIndex)) });
}

void Project::taskAboutToChange(Task &task)
{
    if (m_editDepth == 0 && task.m_touchStamp != m_edit)
        m_spanExact = false;
    noteState(task);
    if (m_editDepth > 0)
        m_timesChanged = true;
    else
        m_spanExact = false;
    // The index takes the new times at the next look-up, which comes before any query.
    if (m_groupsBuilt && task.m_exclusionGroup)
        m_unindexed.push_back(&task);
}

void Project::taskLeavingGroup(Task &task)
{
    if (task.m_groupIndex)
        task.m_groupIndex->erase(&task);
    task.m_groupNode = -1;
}

void Project::taskAboutToRename(Task &task)
{
    if (journaling())
        noteListChange({ ListChange::RenameTask, m_tasks.at(task.m_listIndex), {}, 0, 0, {}, {}, task.m_name });
}

void Project::taskRegrouped(Task &task)
{
    if (m_groupsBuilt && task.m_exclusionGroup && task.m_groupNode < 0)
        m_unindexed.push_back(&task);
    if (task.m_exclusionGroup) {
        spreadTaint(task, true);
        spreadTaint(task, false);
    }
}

void Project::noteListChange(ListChange change)
{
    if (m_editDepth > 0) {
        // A dependency put back where the same edit took it away, or the reverse, is no change. A
        // history stepping back over its own steps does that all the time, and noting both would
        // make each step back longer than the last.
        if (!m_delta.changes.isEmpty()) {
            const ListChange &last = m_delta.changes.constLast();
            const bool inverse = (last.kind == ListChange::InsertEdge && change.kind == ListChange::RemoveEdge)
                || (last.kind == ListChange::RemoveEdge && change.kind == ListChange::InsertEdge);
            if (inverse && last.index == change.index && last.edge == change.edge) {
                m_delta.changes.removeLast();
                return;
            }
        }
        m_delta.changes.append(std::move(change));
    } else if (journaling()) {
        m_journalChanges.push_back(std::move(change));
    }
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
            if (full)
                break;
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
            if (full)
                break;
            if (change.kind == ListChange::AppendTask) {
                // An edit that began with no tasks had 0.0 for a span that holds nothing.
                full = full || m_tasks.size() == 1;
                start = std::min(start, change.task->m_start);
                end = std::max(end, change.task->m_end);
            } else if (change.kind == ListChange::RemoveTask) {
                full = full || change.task->m_start <= m_editStart || change.task->m_end >= m_editEnd;
            } else if (change.kind == ListChange::ReplaceTasks) {
                full = true;
            }
        }
    }
    if (full) {
        recountSpan();
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
    task->m_taintPush = task->m_taintPull = bool(task->m_exclusionGroup);
    if (m_groupsBuilt)
        m_unindexed.push_back(task.get());
    noteListChange({ ListChange::AppendTask, task, {}, 0, 0, {}, {}, {} });
}

void Project::removeTaskAt(qsizetype index)
{
    // Nothing may wait for the index that could outlive its task.
    flushGroupIndex();
    const TaskPtr task = m_tasks[index];
    // As it leaves, so that the history can bring it back as it was.
    noteState(*task);
    if (task->m_groupIndex)
        task->m_groupIndex->erase(task.get());
    task->m_groupNode = -1;
    m_tasks.removeAt(index);
    task->m_listIndex = -1;
    task->m_owner = nullptr;
    renumberFrom(index);
    noteListChange({ ListChange::RemoveTask, task, {}, index, 0, {}, {}, {} });
}

void Project::insertEdgeAt(qsizetype index, const Edge &edge)
{
    // Levels must rise along every edge to prune walks; one that does not voids them all.
    if (edge.predecessor->m_level >= edge.successor->m_level)
        m_levelsValid = false;
    m_taintValid = m_taintValid && !(edge.successor->m_taintPush && !edge.predecessor->m_taintPush)
        && !(edge.predecessor->m_taintPull && !edge.successor->m_taintPull);
    m_edges.insert(index, edge);
    noteListChange({ ListChange::InsertEdge, {}, edge, index, 0, {}, {}, {} });
}

void Project::removeEdgeAt(qsizetype index)
{
    noteListChange({ ListChange::RemoveEdge, {}, m_edges[index], index, 0, {}, {}, {} });
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

bool Project::takeBackOverflowingEdit(const Task &task)
{
    if (std::isfinite(m_end - m_start))
        return false;
    qCCritical(lcQuillfern,
        "refused an edit of task # %lld after which the project would last longer than the "
        "largest number",
        static_cast<long long>(task.id()));
    // Each state is the task as the edit first found it.
    for (const TaskState &state : m_delta.states)
        assignState(*state.task, state);
    recomputeStart();
    recomputeEnd();
    return true;
}

bool Project::moveTask(const TaskPtr &task, double delta)
{
    beginEdit();
    shiftTask(*task, delta);
    recomputeSpan();
    if (takeBackOverflowingEdit(*task)) {
        endEdit();
        return false;
    }
    setDirty(true);
    endEdit(QStringLiteral("Move Task"));
    return true;
}

bool Project::changeDuration(const TaskPtr &task, double duration)
{
    return changeDurationImpl(task, duration, true);
}

bool Project::changeDurationImpl(const TaskPtr &task, double duration, bool record)
{
    if (!std::isfinite(duration)) {
        qCCritical(lcQuillfern, "refused to give task # %lld a duration that is not a finite number",
            static_cast<long long>(task->id()));
        return false;
    }
    beginEdit();
    const double old = task->duration();
    task->setDuration(duration);
    if (duration > old)
        pushSuccessors(*task);
    recomputeSpan();
    if (takeBackOverflowingEdit(*task)) {
        endEdit();
        return false;
    }
    setDirty(true);
    endEdit();
    if (record && m_undoManager)
        m_undoManager->registerUndo(QStringLiteral("Change Task Duration"), makeDurationStep(task, old));
    return true;
}

void Project::assignState(Task &task, const TaskState &state)
{
    // In the order and with the care of Task::assign: what did not change notifies nobody.
    if (task.m_start != state.start || std::signbit(task.m_start) != std::signbit(state.start))
        task.setStart(state.start);
    if (task.m_exclusionGroup != state.exclusionGroup)
        task.setExclusionGroup(state.exclusionGroup);
    if (task.m_duration != state.duration || std::signbit(task.m_duration) != std::signbit(state.duration))
        task.setDurationOnly(state.duration);
    if (task.m_end != state.end || std::signbit(task.m_end) != std::signbit(state.end))
        task.setEnd(state.end);
}

Project::TaskState Project::stateOf(const TaskPtr &task)
{
    return { task, task->m_start, task->m_duration, task->m_end, task->m_exclusionGroup };
}

void Project::changeExclusionGroup(const TaskPtr &task, const ExclusionGroup &group)
{
    beginEdit();
    task->setExclusionGroup(group);
    setDirty(true);
    // Also when the group reports no overlap: a propagation stopped half way moved tasks anyway.
    resolveExclusionConflicts(*task, false);
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
    if (m_levelsValid && predecessor->m_level >= successor->m_level)
        raiseLevels(*successor, predecessor->m_level + 1);
    // The sets are current here, so the taint can spread along them instead of being counted anew.
    const bool taintValid = m_taintValid;
    insertEdgeAt(m_edges.size(), { predecessor, successor });
    m_taintValid = taintValid;
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
    if (successor->m_taintPush)
        spreadTaint(*predecessor, true);
    if (predecessor->m_taintPull)
        spreadTaint(*successor, false);
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
    noteListChange({ ListChange::ReorderTask, {}, {}, from, to, {}, {}, {} });
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
    m_taintValid = false;
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

// recomputeStart and recomputeEnd in one pass over the tasks.
void Project::recountSpan()
{
    if (m_tasks.isEmpty()) {
        recomputeStart();
        recomputeEnd();
        return;
    }
    double start = std::numeric_limits<double>::infinity();
    double end = -std::numeric_limits<double>::infinity();
    for (const TaskPtr &task : std::as_const(m_tasks)) {
        start = std::min(start, task->start());
        end = std::max(end, task->end());
    }
    setStart(start);
    m_end = end;
    setDuration(m_end - m_start);
    m_spanExact = true;
}

void Project::applySnapshot(const ProjectMemento &memento)
{
    beginEdit();
    if (memento.name != m_name)
        setName(memento.name);
    if (memento.origin != m_origin)
        setOrigin(memento.origin);

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
        for (qsizetype i = 0; i < m_tasks.size(); ++i)
            if (kept[i])
                tasks.append(m_tasks[i]);
        tasks.append(appended);
        replaceTaskList(std::move(tasks));
    }

    QHash<qint64, TaskPtr> byId;
    byId.reserve(m_tasks.size());
    for (const TaskPtr &task : std::as_const(m_tasks))
        if (!byId.contains(task->id()))
            byId.insert(task->id(), task);
    QList<Edge> edges;
    edges.reserve(memento.edges.size());
    for (const Edge &edge : memento.edges) {
        TaskPtr predecessor = byId.value(edge.predecessor->id());
        TaskPtr successor = byId.value(edge.successor->id());
        if (predecessor && successor)
            edges.append({ std::move(predecessor), std::move(successor) });
    }
    replaceEdges(std::move(edges));

    setDirty(true);
    rebuildAdjacency();
    recountSpan();
    endEdit();
}

void Project::replaceTaskList(TaskList tasks)
{
    // Leavers are noted as they were, and lose their links, which must not keep other leavers alive.
    const quint64 staying = nextStamp();
    for (const TaskPtr &task : std::as_const(tasks))
        task->m_visitStamp = staying;
    for (const TaskPtr &task : std::as_const(m_tasks)) {
        if (task->m_visitStamp != staying && task->m_owner == this) {
            noteState(*task);
            task->m_predecessors.clear();
            task->m_successors.clear();
        }
    }
    noteListChange({ ListChange::ReplaceTasks, {}, {}, 0, 0, std::make_shared<const TaskList>(m_tasks), {}, {} });
    setTasks(std::move(tasks));
}

void Project::replaceEdges(QList<Edge> edges)
{
    noteListChange({ ListChange::ReplaceEdges, {}, {}, 0, 0, {}, std::make_shared<const QList<Edge>>(m_edges), {} });
    m_edges = std::move(edges);
    m_levelsValid = false;
    m_taintValid = false;
}

ProjectMemento Project::takeSnapshot() const
{
    ProjectMemento memento;
    memento.name = m_name;
    memento.edges = m_edges;
    memento.origin = m_origin;
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
