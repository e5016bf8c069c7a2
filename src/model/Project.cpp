#include "Project.h"

#include "Ids.h"
#include "Logging.h"
#include "TextForm.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

using TextForm::quoted;

namespace {

// Marks for graph walks, unique across all projects (tasks can move between projects on a revert).
quint64 g_stamp = 0;

quint64 nextStamp()
{
    return ++g_stamp;
}

} // namespace

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

// Undoes and redoes a snapshot-based step by swapping the project's state with the stored one.
class Project::SnapshotStep final : public UndoStep {
public:
    SnapshotStep(Project *project, ProjectMemento memento)
        : m_project(project)
        , m_memento(std::move(memento))
    { }
    void undo() override { swap(); }
    void redo() override { swap(); }

private:
    void swap()
    {
        if (m_project)
            m_memento = m_project->restoreSnapshot(m_memento);
    }
    QPointer<Project> m_project;
    ProjectMemento m_memento;
};

// Undoes a duration change by running the change again with the previous value; pushed
// successors therefore stay where they are.
class Project::DurationStep final : public UndoStep {
public:
    DurationStep(Project *project, TaskPtr task, double before, double after)
        : m_project(project)
        , m_task(std::move(task))
        , m_before(before)
        , m_after(after)
    { }
    void undo() override
    {
        if (m_project)
            m_project->changeDurationImpl(m_task, m_before, false);
    }
    void redo() override
    {
        if (m_project)
            m_project->changeDurationImpl(m_task, m_after, false);
    }

private:
    QPointer<Project> m_project;
    TaskPtr m_task;
    double m_before;
    double m_after;
};

Project::Project()
    : m_id(Ids::takeProjectId())
{ }

Project::~Project()
{
    // Tasks hold each other in their dependency sets; break those cycles so that tasks outliving
    // the project in snapshots or views do not keep each other alive forever.
    for (const TaskPtr &task : std::as_const(m_tasks)) {
        task->m_predecessors.clear();
        task->m_successors.clear();
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
    if (m_isDirty == dirty)
        return;
    m_isDirty = dirty;
    Q_EMIT dirtyChanged(dirty);
}

void Project::setTasks(TaskList tasks)
{
    Q_EMIT tasksAboutToChange();
    m_tasks = std::move(tasks);
    m_groupIndexValid = false;
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

void Project::recordSnapshotStep(const QString &actionName, ProjectMemento before)
{
    if (m_undoManager)
        m_undoManager->registerUndo(actionName, std::make_unique<SnapshotStep>(this, std::move(before)));
}

void Project::addTask(const TaskPtr &task)
{
    ProjectMemento before = takeSnapshot();
    TaskList tasks = m_tasks;
    tasks.append(task);
    setTasks(std::move(tasks));
    task->setStart(m_end);
    setDirty(true);
    rebuildAdjacency();
    recomputeStart();
    recomputeEnd();
    recordSnapshotStep(QStringLiteral("Add Task"), std::move(before));
}

TaskPtr Project::duplicate(std::optional<qint64> taskId)
{
    const TaskPtr source = taskWithId(taskId);
    if (!source)
        return {};
    TaskPtr task = Task::create(Ids::takeTaskId(), this, source->name(), source->duration(), source->end());
    addTask(task);
    task->setExclusionGroup(source->exclusionGroup());
    return task;
}

void Project::deleteTask(const TaskPtr &taskToDelete)
{
    // The caller's reference may point into the task list that is about to be replaced.
    const TaskPtr task = taskToDelete;
    ProjectMemento before = takeSnapshot();
    const qsizetype index = m_tasks.indexOf(task);
    if (index >= 0) {
        TaskList tasks = m_tasks;
        tasks.removeAt(index);
        setTasks(std::move(tasks));
        m_edges.removeIf([&](const Edge &edge) { return edge.predecessor == task || edge.successor == task; });
        setDirty(true);
        rebuildAdjacency();
        recomputeStart();
        recomputeEnd();
    }
    recordSnapshotStep(QStringLiteral("Delete Task"), std::move(before));
}

void Project::moveTask(const TaskPtr &task, double delta)
{
    ProjectMemento before = takeSnapshot();
    shiftTask(*task, delta);
    setDirty(true);
    rebuildAdjacency();
    recomputeStart();
    recomputeEnd();
    recordSnapshotStep(QStringLiteral("Move Task"), std::move(before));
}

void Project::changeDuration(const TaskPtr &task, double duration)
{
    changeDurationImpl(task, duration, true);
}

void Project::changeDurationImpl(const TaskPtr &task, double duration, bool record)
{
    if (!std::isfinite(duration)) {
        qCCritical(lcQuillfern, "refused to give task # %lld a duration that is not a finite number",
            static_cast<long long>(task->id()));
        return;
    }
    const double old = task->duration();
    task->setDuration(duration);
    if (duration > old)
        pushSuccessors(*task);
    setDirty(true);
    rebuildAdjacency();
    recomputeStart();
    recomputeEnd();
    if (record && m_undoManager)
        m_undoManager->registerUndo(
            QStringLiteral("Change Task Duration"), std::make_unique<DurationStep>(this, task, old, duration));
}

void Project::changeExclusionGroup(const TaskPtr &task, const ExclusionGroup &group)
{
    ProjectMemento before = takeSnapshot();
    task->setExclusionGroup(group);
    setDirty(true);
    if (resolveExclusionConflicts(*task, false)) {
        recomputeStart();
        recomputeEnd();
    }
    recordSnapshotStep(QStringLiteral("Change Exclusion Group"), std::move(before));
}

void Project::addDependency(const TaskPtr &predecessor, const TaskPtr &successor)
{
    ProjectMemento before = takeSnapshot();
    insertEdge(predecessor, successor);
    alignPredecessor(*predecessor, successor->start());
    recordSnapshotStep(QStringLiteral("Add Dependency"), std::move(before));
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
    if (isReachable(*successor, *predecessor))
        throw ConsistencyError(QLatin1String("Task ") + quoted(successor->name()) + QLatin1String(" and ")
            + quoted(predecessor->name()) + QLatin1String(" already have the opposite dependency, maybe implicitly!"));
    m_edges.append({ predecessor, successor });
    refreshAdjacency(*predecessor, *successor);
    setDirty(true);
}

bool Project::isReachable(const Task &from, const Task &to) const
{
    // Depth first with a visited mark, so that diamonds are walked once and long chains need
    // no call stack.
    const quint64 stamp = nextStamp();
    QList<const Task *> pending { &from };
    while (!pending.isEmpty()) {
        const Task *task = pending.takeLast();
        for (const TaskPtr &next : task->successors()) {
            if (next.get() == &to)
                return true;
            if (next->m_visitStamp != stamp) {
                next->m_visitStamp = stamp;
                pending.append(next.get());
            }
        }
    }
    return false;
}

void Project::deleteDependency(const TaskPtr &predecessor, const TaskPtr &successor)
{
    ProjectMemento before = takeSnapshot();
    m_edges.removeIf([&](const Edge &edge) { return edge.predecessor == predecessor && edge.successor == successor; });
    refreshAdjacency(*predecessor, *successor);
    setDirty(true);
    recordSnapshotStep(QStringLiteral("Delete Dependency"), std::move(before));
}

void Project::reorderTask(qsizetype from, qsizetype to)
{
    if (from == to || from < 0 || to < 0 || from >= m_tasks.size() || to >= m_tasks.size())
        return;
    TaskList tasks = m_tasks;
    tasks.move(from, to);
    setTasks(std::move(tasks));
    setDirty(true);
}

void Project::rebuildAdjacency()
{
    const quint64 listed = nextStamp();
    for (qsizetype i = 0; i < m_tasks.size(); ++i) {
        m_tasks[i]->m_visitStamp = listed;
        m_tasks[i]->m_scratchIndex = i;
    }
    QList<TaskSet> predecessors(m_tasks.size());
    QList<TaskSet> successors(m_tasks.size());
    for (const Edge &edge : std::as_const(m_edges)) {
        if (edge.successor->m_visitStamp == listed)
            predecessors[edge.successor->m_scratchIndex].append(edge.predecessor);
        if (edge.predecessor->m_visitStamp == listed)
            successors[edge.predecessor->m_scratchIndex].append(edge.successor);
    }
    // Duplicate edges count once; the first occurrence keeps its place.
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
    for (qsizetype i = 0; i < m_tasks.size(); ++i) {
        withoutRepeats(predecessors[i]);
        withoutRepeats(successors[i]);
        m_tasks[i]->setPredecessors(std::move(predecessors[i]));
        m_tasks[i]->setSuccessors(std::move(successors[i]));
    }
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
}

void Project::applySnapshot(const ProjectMemento &memento)
{
    if (memento.name != m_name)
        setName(memento.name);

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
            }
        }
        tasks.append(appended);
        setTasks(std::move(tasks));
    }

    QHash<qint64, TaskPtr> byId;
    byId.reserve(m_tasks.size());
    for (const TaskPtr &task : std::as_const(m_tasks))
        if (!byId.contains(task->id()))
            byId.insert(task->id(), task);
    m_edges.clear();
    m_edges.reserve(memento.edges.size());
    for (const Edge &edge : memento.edges) {
        TaskPtr predecessor = byId.value(edge.predecessor->id());
        TaskPtr successor = byId.value(edge.successor->id());
        if (predecessor && successor)
            m_edges.append({ std::move(predecessor), std::move(successor) });
    }

    setDirty(true);
    rebuildAdjacency();
    recomputeStart();
    recomputeEnd();
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
