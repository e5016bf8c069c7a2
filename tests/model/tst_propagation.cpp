// Propagation under random edits and in shapes where one task is reached by very many paths. The
// outcome is held against the scheduling rules, against a plain fixed-point reference where only
// dependencies are involved, and against the saved states on undo and redo.

#include "Ids.h"
#include "RandomPlans.h"
#include "TestUndoManager.h"

#include <QHash>
#include <QSet>
#include <QTest>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <vector>

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

// Equal but for the rounding of a subtraction and a few nudges, at the given magnitude.
bool near(double a, double b, double scale)
{
    return std::abs(a - b) <= 8 * (std::nextafter(scale, infinity) - scale);
}

QString taskName(qint64 id)
{
    return QLatin1Char('#') + QString::number(id);
}

// ---- Plans ----

struct TaskLayout {
    double start = 0.0;
    double duration = 0.0;
    ExclusionGroup group;
};

struct Plan {
    // Task i has id i + 1; dependencies run from lower to higher indexes only.
    QList<TaskLayout> tasks;
    QList<std::pair<int, int>> dependencies;
    // The rows of the task list, by index; empty for the order of the ids.
    QList<int> listOrder;
};

// Built as a loaded file would be, but with every start exactly as given: end - duration would not
// always give it back, and a start a hair early would lose its dependency on loading.
std::unique_ptr<Project> build(const Plan &plan)
{
    QList<int> order = plan.listOrder;
    if (order.isEmpty())
        for (int i = 0; i < plan.tasks.size(); ++i)
            order.append(i);
    TaskList tasks;
    for (int index : std::as_const(order)) {
        const TaskLayout &task = plan.tasks[index];
        tasks.append(Task::createStartingAt(
            index + 1, nullptr, QLatin1Char('T') + QString::number(index + 1), task.start, task.duration, task.group));
    }
    QList<IntPair> pairs;
    for (const auto &[a, b] : plan.dependencies)
        pairs.append({ a + 1, b + 1 });
    auto project = Project::load(QStringLiteral("Plan"), tasks, pairs);
    Ids::raiseTaskIdPast(plan.tasks.size());
    return project;
}

enum Family { DependenciesOnly, Groups, NegativeDurations };

Plan randomPlan(Random &random, Family family, double grain)
{
    Plan plan;
    const int count = 2 + int(random.below(family == NegativeDurations ? 10 : 29));
    const quint32 groups = family == DependenciesOnly ? 0 : family == Groups ? random.below(4) : 1 + random.below(2);
    const double densities[] = { 0.04, 0.12, 0.3 };
    const double density = densities[random.below(3)];
    for (int i = 0; i < count; ++i) {
        TaskLayout task;
        if (family == NegativeDurations && random.chance(0.25))
            task.duration = -random.positiveTime(1800, grain);
        else if (random.chance(0.12))
            task.duration = 0.0;
        else
            task.duration = random.positiveTime(3600, grain);
        if (groups > 0 && random.chance(0.6))
            task.group = groupName(random.below(groups));
        plan.tasks.append(task);
    }
    for (int j = 1; j < count; ++j)
        for (int i = 0; i < j; ++i)
            if (random.chance(density))
                plan.dependencies.append({ i, j });

    // In index order, each task after its predecessors and after the earlier members of its group:
    // the plan starts out keeping every rule.
    const double origin = -random.time(5000, grain);
    for (int j = 0; j < count; ++j) {
        double earliest = -infinity;
        for (const auto &[a, b] : std::as_const(plan.dependencies))
            if (b == j)
                earliest = std::max(earliest, plan.tasks[a].start + plan.tasks[a].duration);
        for (int i = 0; i < j; ++i)
            if (plan.tasks[j].group && plan.tasks[i].group == plan.tasks[j].group)
                earliest = std::max({ earliest, plan.tasks[i].start, plan.tasks[i].start + plan.tasks[i].duration });
        TaskLayout &task = plan.tasks[j];
        if (earliest == -infinity)
            task.start = origin + random.time(20000, grain);
        else
            task.start = earliest + (random.chance(0.4) ? 0.0 : random.time(1800, grain));
    }
    random.shuffle(plan.dependencies);
    for (int i = 0; i < count; ++i)
        plan.listOrder.append(i);
    random.shuffle(plan.listOrder);
    return plan;
}

// Phase k fans out into a short task of a minute and a long one of 1 + 2^k minutes, which both
// lead into phase k + 1; everything back to back. Phase k is reached by 2^k paths.
Plan ladder(int phases)
{
    Plan plan;
    double time = 0.0;
    for (int k = 0; k < phases; ++k) {
        const int phase = int(plan.tasks.size());
        plan.tasks.append({ time, 60.0, {} });
        plan.tasks.append({ time + 60.0, 60.0, {} });
        plan.tasks.append({ time + 60.0, (1.0 + std::ldexp(1.0, k)) * 60.0, {} });
        time = plan.tasks.last().start + plan.tasks.last().duration;
        plan.dependencies.append({ phase, phase + 1 });
        plan.dependencies.append({ phase, phase + 2 });
        plan.dependencies.append({ phase + 1, phase + 3 });
        plan.dependencies.append({ phase + 2, phase + 3 });
    }
    plan.tasks.append({ time, 60.0, {} });
    return plan;
}

// One source, the given number of tasks side by side, one sink. The middle tasks grow longer in list
// order, so that each one in turn would push the sink further.
Plan diamond(int width)
{
    Plan plan;
    plan.tasks.append({ 0.0, 600.0, {} });
    double end = 600.0;
    for (int i = 0; i < width; ++i) {
        plan.tasks.append({ 600.0, 60.0 + 6.0 * i, {} });
        end = std::max(end, 600.0 + 60.0 + 6.0 * i);
        plan.dependencies.append({ 0, i + 1 });
        plan.dependencies.append({ i + 1, width + 1 });
    }
    plan.tasks.append({ end, 600.0, {} });
    return plan;
}

// A square grid, each task leading to its right and lower neighbours, with uneven durations: the far
// corner is reached by C(2n - 2, n - 1) paths, of different lengths.
Plan lattice(int side)
{
    Plan plan;
    for (int i = 0; i < side; ++i) {
        for (int j = 0; j < side; ++j) {
            double start = 0.0;
            const auto after = [&](int row, int column) {
                const TaskLayout &before = plan.tasks[row * side + column];
                start = std::max(start, before.start + before.duration);
                plan.dependencies.append({ row * side + column, i * side + j });
            };
            if (i > 0)
                after(i - 1, j);
            if (j > 0)
                after(i, j - 1);
            plan.tasks.append({ start, 60.0 * (1 + (7 * i + 13 * j) % 10), {} });
        }
    }
    return plan;
}

// ---- States ----

struct TaskState {
    QString name;
    double start = 0.0;
    double duration = 0.0;
    double end = 0.0;
    ExclusionGroup group;

    friend bool operator==(const TaskState &a, const TaskState &b)
    {
        return a.name == b.name && same(a.start, b.start) && same(a.duration, b.duration) && same(a.end, b.end)
            && a.group == b.group;
    }
};

QString describe(qint64 id, const TaskState &task)
{
    QString text = taskName(id) + QLatin1String(" [") + timeText(task.start) + QLatin1String(", ") + timeText(task.end)
        + QLatin1String(") of ") + timeText(task.duration);
    if (task.group)
        text += QLatin1String(" in ") + *task.group;
    return text;
}

QString describe(const QList<IntPair> &dependencies)
{
    QStringList texts;
    for (const IntPair &pair : dependencies)
        texts.append(pair.description());
    return texts.join(QLatin1Char(' '));
}

QString describe(const QList<qint64> &ids)
{
    QStringList texts;
    for (qint64 id : ids)
        texts.append(taskName(id));
    return texts.join(QLatin1Char(' '));
}

struct PlanState {
    std::map<qint64, TaskState> tasks;
    QList<qint64> order;
    QList<IntPair> dependencies;
    double start = 0.0;
    double end = 0.0;

    [[nodiscard]] const TaskState *find(qint64 id) const
    {
        const auto found = tasks.find(id);
        return found == tasks.end() ? nullptr : &found->second;
    }
};

PlanState capture(const Project &project)
{
    PlanState state;
    for (const TaskPtr &task : project.tasks()) {
        state.tasks[task->id()]
            = { task->name(), task->start(), task->duration(), task->end(), task->exclusionGroup() };
        state.order.append(task->id());
    }
    state.dependencies = project.dependencies();
    state.start = project.start();
    state.end = project.end();
    return state;
}

// Where the actual state differs from the expected one, or nothing when they are the same to the
// last bit. A task may instead match one of the alternatives. The order of the task list is not
// compared: an undone deletion brings its task back at the end.
QString difference(
    const PlanState &expected, const PlanState &actual, std::initializer_list<const PlanState *> alternatives = {})
{
    for (const auto &[id, task] : expected.tasks) {
        const TaskState *found = actual.find(id);
        if (!found)
            return taskName(id) + QLatin1String(" is missing");
        if (*found == task)
            continue;
        const bool alternative = std::any_of(alternatives.begin(), alternatives.end(), [&](const PlanState *state) {
            const TaskState *other = state->find(id);
            return other && *other == *found;
        });
        if (!alternative)
            return QLatin1String("expected ") + describe(id, task) + QLatin1String(", got ") + describe(id, *found);
    }
    for (const auto &[id, task] : actual.tasks)
        if (!expected.find(id))
            return QLatin1String("unexpected ") + describe(id, task);
    if (actual.dependencies != expected.dependencies)
        return QLatin1String("expected the dependencies ") + describe(expected.dependencies) + QLatin1String(", got ")
            + describe(actual.dependencies);
    return {};
}

// The tasks of the source state that the edit from before to after left as they were.
PlanState unchangedTasks(const PlanState &before, const PlanState &after, const PlanState &source)
{
    PlanState state;
    for (const auto &[id, task] : source.tasks) {
        const TaskState *was = before.find(id);
        const TaskState *became = after.find(id);
        if (was && became && *was == *became)
            state.tasks[id] = task;
    }
    return state;
}

// Everything but the times; the given task's duration is compared with the given one instead.
QString structureDifference(const PlanState &expected, const PlanState &actual, qint64 task, double duration)
{
    if (actual.tasks.size() != expected.tasks.size())
        return QStringLiteral("expected %1 tasks, got %2").arg(expected.tasks.size()).arg(actual.tasks.size());
    for (const auto &[id, was] : expected.tasks) {
        const TaskState *found = actual.find(id);
        if (!found)
            return taskName(id) + QLatin1String(" is missing");
        if (found->name != was.name || found->group != was.group
            || !same(found->duration, id == task ? duration : was.duration))
            return QLatin1String("expected ") + describe(id, was) + QLatin1String(" with duration ")
                + timeText(id == task ? duration : was.duration) + QLatin1String(", got ") + describe(id, *found);
    }
    if (actual.dependencies != expected.dependencies)
        return QLatin1String("the dependencies changed to ") + describe(actual.dependencies);
    return {};
}

bool plainDependencies(const PlanState &state)
{
    return std::all_of(state.tasks.cbegin(), state.tasks.cend(),
        [](const auto &entry) { return !entry.second.group && entry.second.duration >= 0; });
}

// Empty members of a group count as overlapping a task that starts where they stand, so that they
// can push a mover back; the bounds on how far a pull reaches do not hold with them.
bool hasEmptyMembers(const PlanState &state)
{
    return std::any_of(state.tasks.cbegin(), state.tasks.cend(),
        [](const auto &entry) { return entry.second.group && entry.second.duration <= 0; });
}

// Where a state breaks one of the two scheduling rules. For groups, sorted by start, a member
// overlaps an earlier one exactly when it starts before the latest end so far; only members of
// positive duration count.
QString ruleProblem(const PlanState &state)
{
    for (const IntPair &pair : state.dependencies) {
        const TaskState &predecessor = state.tasks.at(pair.a);
        const TaskState &successor = state.tasks.at(pair.b);
        if (successor.start < predecessor.end)
            return QLatin1String("dependency ") + pair.description() + QLatin1String(" broken: ") + taskName(pair.a)
                + QLatin1String(" ends at ") + timeText(predecessor.end) + QLatin1String(", ") + taskName(pair.b)
                + QLatin1String(" starts at ") + timeText(successor.start);
    }
    QHash<QString, std::vector<std::pair<qint64, const TaskState *>>> members;
    for (const auto &[id, task] : state.tasks)
        if (task.group && task.duration > 0)
            members[*task.group].push_back({ id, &task });
    for (auto it = members.begin(); it != members.end(); ++it) {
        auto &group = *it;
        std::sort(
            group.begin(), group.end(), [](const auto &a, const auto &b) { return a.second->start < b.second->start; });
        const std::pair<qint64, const TaskState *> *latest = nullptr;
        for (const auto &member : group) {
            if (latest && member.second->start < latest->second->end)
                return QLatin1String("in group ") + it.key() + QLatin1String(", ")
                    + describe(latest->first, *latest->second) + QLatin1String(" overlaps ")
                    + describe(member.first, *member.second);
            if (!latest || member.second->end > latest->second->end)
                latest = &member;
        }
    }
    return {};
}

// What must hold in every state: ends, span, adjacency, and, unless durations are negative, the two
// scheduling rules.
QString stateProblem(const Project &project, bool keepsRules)
{
    QSet<qint64> ids;
    QSet<const Task *> listed;
    double first = infinity;
    double last = -infinity;
    for (const TaskPtr &task : project.tasks()) {
        const QString name = taskName(task->id());
        if (task->project() != &project)
            return name + QLatin1String(" does not belong to its project");
        if (ids.contains(task->id()))
            return name + QLatin1String(" is listed twice");
        ids.insert(task->id());
        listed.insert(task.get());
        if (!same(task->end(), task->start() + task->duration()))
            return name + QLatin1String(" ends at ") + timeText(task->end())
                + QLatin1String(", not at start + duration ") + timeText(task->start() + task->duration());
        first = std::min(first, task->start());
        last = std::max(last, task->end());
    }
    if (project.tasks().isEmpty())
        first = last = 0.0;
    if (project.start() != first || project.end() != last || project.duration() != last - first)
        return QLatin1String("the project spans [") + timeText(project.start()) + QLatin1String(", ")
            + timeText(project.end()) + QLatin1String(") of ") + timeText(project.duration())
            + QLatin1String(", its tasks [") + timeText(first) + QLatin1String(", ") + timeText(last)
            + QLatin1Char(')');

    QHash<const Task *, TaskSet> predecessors;
    QHash<const Task *, TaskSet> successors;
    for (const Edge &edge : project.edges()) {
        if (!listed.contains(edge.predecessor.get()) || !listed.contains(edge.successor.get()))
            return QLatin1String("the dependency ") + edge.description() + QLatin1String(" holds a task not listed");
        TaskSet &before = predecessors[edge.successor.get()];
        if (!before.contains(edge.predecessor))
            before.append(edge.predecessor);
        TaskSet &after = successors[edge.predecessor.get()];
        if (!after.contains(edge.successor))
            after.append(edge.successor);
    }
    for (const TaskPtr &task : project.tasks()) {
        if (task->predecessors() != predecessors.value(task.get()))
            return taskName(task->id()) + QLatin1String("'s predecessors do not follow the dependencies");
        if (task->successors() != successors.value(task.get()))
            return taskName(task->id()) + QLatin1String("'s successors do not follow the dependencies");
    }
    return keepsRules ? ruleProblem(capture(project)) : QString();
}

// ---- Edits ----

enum class Kind { Move, Duration, Group, AddDependency, DeleteTask, DeleteDependency, AddTask, Duplicate };

struct Edit {
    Kind kind = Kind::Move;
    int number = 0;
    qint64 task = 0; // the task edited, the source of a copy, or the predecessor
    qint64 other = 0; // the successor, or the task added
    double delta = 0.0;
    double from = 0.0; // old duration; the duration of a new task
    double to = 0.0;
    ExclusionGroup group;

    [[nodiscard]] QString text() const
    {
        const QString edited = taskName(task);
        switch (kind) {
        case Kind::Move:
            return QLatin1String("move ") + edited + QLatin1String(" by ") + timeText(delta);
        case Kind::Duration:
            return QLatin1String("change the duration of ") + edited + QLatin1String(" from ") + timeText(from)
                + QLatin1String(" to ") + timeText(to);
        case Kind::Group:
            return QLatin1String("put ") + edited + QLatin1String(" in group ")
                + (group ? *group : QStringLiteral("none"));
        case Kind::AddDependency:
            return QLatin1String("add the dependency ") + edited + QLatin1String(" -> ") + taskName(other);
        case Kind::DeleteTask:
            return QLatin1String("delete ") + edited;
        case Kind::DeleteDependency:
            return QLatin1String("delete the dependency ") + edited + QLatin1String(" -> ") + taskName(other);
        case Kind::AddTask:
            return QLatin1String("add a task of ") + timeText(from);
        case Kind::Duplicate:
            return QLatin1String("duplicate ") + edited;
        }
        return {};
    }
};

Edit randomEdit(Random &random, const PlanState &state, Family family, double grain)
{
    Edit edit;
    const auto anyTask = [&] { return state.order[random.below(quint32(state.order.size()))]; };
    const auto duration = [&] {
        if (family == NegativeDurations && random.chance(0.25))
            return -random.positiveTime(1800, grain);
        return random.chance(0.1) ? 0.0 : random.positiveTime(3600, grain);
    };
    const quint32 roll = random.below(100);
    if (state.order.isEmpty() || (roll >= 92 && roll < 96)) {
        edit.kind = Kind::AddTask;
        edit.from = duration();
    } else if (roll < 30) {
        edit.kind = Kind::Move;
        edit.task = anyTask();
        edit.delta = random.chance(0.04) ? 0.0 : random.positiveTime(4000, grain) * (random.chance(0.5) ? 1 : -1);
    } else if (roll < 55) {
        edit.kind = Kind::Duration;
        edit.task = anyTask();
        edit.from = state.tasks.at(edit.task).duration;
        if (random.chance(0.5))
            edit.to = edit.from + random.positiveTime(3000, grain);
        else if (family == NegativeDurations && random.chance(0.5))
            edit.to = edit.from - random.positiveTime(2000, grain);
        else
            edit.to = edit.from > 0 ? random.time(edit.from, grain) : edit.from;
    } else if (roll < 65 && family != DependenciesOnly) {
        edit.kind = Kind::Group;
        edit.task = anyTask();
        if (!random.chance(0.3))
            edit.group = groupName(random.below(3));
    } else if (roll >= 78 && roll < 84) {
        edit.kind = Kind::DeleteTask;
        edit.task = anyTask();
    } else if (roll >= 84 && roll < 92 && !state.dependencies.isEmpty()) {
        edit.kind = Kind::DeleteDependency;
        const IntPair &pair = state.dependencies[random.below(quint32(state.dependencies.size()))];
        edit.task = pair.a;
        edit.other = pair.b;
    } else if (roll >= 96) {
        edit.kind = Kind::Duplicate;
        edit.task = anyTask();
    } else {
        edit.kind = Kind::AddDependency;
        edit.task = anyTask();
        edit.other = anyTask();
    }
    return edit;
}

// Returns whether the project refused the edit.
bool perform(Project &project, Edit &edit)
{
    const TaskPtr task = project.taskWithId(edit.task);
    switch (edit.kind) {
    case Kind::Move:
        project.moveTask(task, edit.delta);
        break;
    case Kind::Duration:
        project.changeDuration(task, edit.to);
        break;
    case Kind::Group:
        project.changeExclusionGroup(task, edit.group);
        break;
    case Kind::AddDependency:
        try {
            project.addDependency(task, project.taskWithId(edit.other));
        } catch (const ConsistencyError &) {
            return true;
        }
        break;
    case Kind::DeleteTask:
        project.deleteTask(task);
        break;
    case Kind::DeleteDependency:
        project.deleteDependency(task, project.taskWithId(edit.other));
        break;
    case Kind::AddTask: {
        const TaskPtr added = Task::create(Ids::takeTaskId(), &project, QStringLiteral("New"), edit.from, 0.0);
        edit.other = added->id();
        project.addTask(added);
        break;
    }
    case Kind::Duplicate: {
        const TaskPtr copy = project.duplicate(edit.task);
        edit.other = copy ? copy->id() : 0;
        break;
    }
    }
    return false;
}

// A dependency is refused when it is there already, depends a task on itself or closes a cycle.
bool refuses(const PlanState &state, qint64 predecessor, qint64 successor)
{
    if (predecessor == successor || state.dependencies.contains(IntPair { predecessor, successor }))
        return true;
    QSet<qint64> reached { successor };
    QList<qint64> pending { successor };
    while (!pending.isEmpty()) {
        const qint64 task = pending.takeLast();
        for (const IntPair &pair : state.dependencies) {
            if (pair.a != task || reached.contains(pair.b))
                continue;
            if (pair.b == predecessor)
                return true;
            reached.insert(pair.b);
            pending.append(pair.b);
        }
    }
    return false;
}

// What an edit may do to the tasks other than the one edited: nothing, move them later (each then
// starts no earlier than the mover's end) or move them earlier (each then ends no later than the
// mover's start). Rounding aside, these follow from the rules: a push only ever places a task at the
// end of one already pushed, a pull at the start of one already pulled.
QString unexpectedChange(const Edit &edit, const PlanState &before, const PlanState &after, bool emptyMembers)
{
    QList<qint64> order = before.order;
    QList<IntPair> dependencies = before.dependencies;
    switch (edit.kind) {
    case Kind::DeleteTask:
        order.removeAll(edit.task);
        dependencies.removeIf([&](const IntPair &pair) { return pair.a == edit.task || pair.b == edit.task; });
        break;
    case Kind::AddTask:
    case Kind::Duplicate:
        order.append(edit.other);
        break;
    case Kind::AddDependency:
        dependencies.append({ edit.task, edit.other });
        break;
    case Kind::DeleteDependency:
        dependencies.removeAll(IntPair { edit.task, edit.other });
        break;
    default:
        break;
    }
    // std::equal rather than ==, which hands memcmp a null pointer for an empty list of integers.
    if (!std::equal(after.order.cbegin(), after.order.cend(), order.cbegin(), order.cend()))
        return QLatin1String("the task list became ") + describe(after.order) + QLatin1String(", expected ")
            + describe(order);
    if (after.dependencies != dependencies)
        return QLatin1String("the dependencies became ") + describe(after.dependencies) + QLatin1String(", expected ")
            + describe(dependencies);

    enum { Nothing, Later, Earlier } reach = Nothing;
    switch (edit.kind) {
    case Kind::Move:
        reach = edit.delta > 0 ? Later : edit.delta < 0 ? Earlier : Nothing;
        break;
    case Kind::Duration:
        reach = edit.to > edit.from ? Later : Nothing;
        break;
    case Kind::Group:
        reach = edit.group ? Later : Nothing;
        break;
    case Kind::AddDependency: {
        const TaskState &predecessor = before.tasks.at(edit.task);
        reach = predecessor.end > before.tasks.at(edit.other).start ? Earlier : Nothing;
        break;
    }
    default:
        break;
    }
    const bool edited = edit.kind == Kind::Move || edit.kind == Kind::Duration || edit.kind == Kind::Group
        || (edit.kind == Kind::AddDependency && reach == Earlier);
    const TaskState *mover = after.find(edit.task);

    for (const auto &[id, now] : after.tasks) {
        const QString name = taskName(id);
        const TaskState *was = before.find(id);
        if (!was) {
            const TaskState *source = edit.kind == Kind::Duplicate ? before.find(edit.task) : nullptr;
            const TaskState expected { source ? source->name : QStringLiteral("New"), before.end,
                source ? source->duration : edit.from, before.end + (source ? source->duration : edit.from),
                source ? source->group : ExclusionGroup() };
            if (!(now == expected))
                return QLatin1String("the new task is ") + describe(id, now) + QLatin1String(", expected ")
                    + describe(id, expected);
            continue;
        }
        const bool isEdited = edited && id == edit.task;
        if (now.name != was->name)
            return name + QLatin1String(" was renamed");
        if (now.group != (isEdited && edit.kind == Kind::Group ? edit.group : was->group))
            return name + QLatin1String(" is in the wrong group: ") + describe(id, now);
        if (!same(now.duration, isEdited && edit.kind == Kind::Duration ? edit.to : was->duration))
            return name + QLatin1String(" has the wrong duration: ") + describe(id, now);
        if (isEdited) {
            if (edit.kind == Kind::Move) {
                const double start = was->start + edit.delta;
                // An empty member standing at the mover's new start sends it back further.
                if ((reach == Earlier && emptyMembers) ? now.start > start : !same(now.start, start))
                    return name + QLatin1String(" is at ") + describe(id, now)
                        + QLatin1String(", expected to start at ") + timeText(start);
            } else if (edit.kind == Kind::AddDependency) {
                const double end = before.tasks.at(edit.other).start;
                const double start = end - was->duration;
                if (!emptyMembers
                    && !near(now.start, start, std::max({ std::abs(end), std::abs(start), was->duration })))
                    return name + QLatin1String(" is at ") + describe(id, now) + QLatin1String(", expected to end at ")
                        + timeText(end);
            } else if (!same(now.start, was->start)) {
                return name + QLatin1String(" moved from ") + timeText(was->start) + QLatin1String(" to ")
                    + timeText(now.start);
            }
            continue;
        }
        if (same(now.start, was->start))
            continue;
        const QString moved
            = name + QLatin1String(" moved from ") + describe(id, *was) + QLatin1String(" to ") + describe(id, now);
        switch (reach) {
        case Nothing:
            return moved + QLatin1String(", though nothing demands it");
        case Later:
            if (now.start < was->start)
                return moved + QLatin1String(", earlier in a push");
            if (now.start < mover->end)
                return moved + QLatin1String(", before the end of the pushing ") + describe(edit.task, *mover);
            break;
        case Earlier:
            if (now.start > was->start)
                return moved + QLatin1String(", later in a pull");
            if (!emptyMembers && (now.end > mover->start || (edit.kind == Kind::AddDependency && id == edit.other)))
                return moved + QLatin1String(", past the start of the pulling ") + describe(edit.task, *mover);
            break;
        }
    }
    return {};
}

// ---- The reference ----

struct Times {
    double start;
    double duration;
    double end;
};
using Schedule = std::map<qint64, Times>;

Schedule scheduleOf(const PlanState &state)
{
    Schedule schedule;
    for (const auto &[id, task] : state.tasks)
        schedule[id] = { task.start, task.duration, task.end };
    return schedule;
}

// The plain way: while some dependency is broken, start its successor at its predecessor's end.
void settlePushes(Schedule &schedule, const QList<IntPair> &dependencies)
{
    for (bool changed = true; changed;) {
        changed = false;
        for (const IntPair &pair : dependencies) {
            const Times &predecessor = schedule.at(pair.a);
            Times &successor = schedule.at(pair.b);
            if (successor.start < predecessor.end) {
                successor.start = predecessor.end;
                successor.end = successor.start + successor.duration;
                changed = true;
            }
        }
    }
}

// And mirrored: end the predecessor at its successor's start. The end is kept as demanded, since
// start + duration may round past it; the comparison allows for that.
void settlePulls(Schedule &schedule, const QList<IntPair> &dependencies)
{
    for (bool changed = true; changed;) {
        changed = false;
        for (const IntPair &pair : dependencies) {
            Times &predecessor = schedule.at(pair.a);
            const Times &successor = schedule.at(pair.b);
            if (predecessor.end > successor.start) {
                predecessor.end = successor.start;
                predecessor.start = successor.start - predecessor.duration;
                changed = true;
            }
        }
    }
}

// The edit redone by the reference on a plan of dependencies alone; nothing for other edits.
QString referenceProblem(const Edit &edit, const PlanState &before, const PlanState &after)
{
    Schedule reference = scheduleOf(before);
    QList<IntPair> dependencies = before.dependencies;
    bool pulled = false;
    switch (edit.kind) {
    case Kind::Move: {
        Times &task = reference.at(edit.task);
        task.start = task.start + edit.delta;
        task.end = task.start + task.duration;
        if (edit.delta > 0)
            settlePushes(reference, dependencies);
        pulled = edit.delta < 0;
        break;
    }
    case Kind::Duration: {
        Times &task = reference.at(edit.task);
        task.duration = edit.to;
        task.end = task.start + task.duration;
        if (edit.to > edit.from)
            settlePushes(reference, dependencies);
        break;
    }
    case Kind::AddDependency:
        dependencies.append({ edit.task, edit.other });
        pulled = true;
        break;
    default:
        return {};
    }
    if (pulled)
        settlePulls(reference, dependencies);

    // Pulls place starts by subtraction, and each may be nudged for its end not to round past the
    // successor's start; a few ulps per task in the chain.
    const Schedule was = scheduleOf(before);
    double scale = 0.0;
    for (const auto &[id, times] : reference)
        scale = std::max({ scale, std::abs(times.start), std::abs(times.end), std::abs(was.at(id).start) });
    const double tolerance
        = pulled ? 8.0 * double(reference.size() + 2) * (std::nextafter(scale, infinity) - scale) : 0.0;
    for (const auto &[id, times] : reference) {
        const TaskState &now = after.tasks.at(id);
        const double start = was.at(id).start;
        bool wrong = false;
        if (same(times.start, start))
            wrong = !same(now.start, start);
        else if (tolerance == 0.0)
            wrong = !same(now.start, times.start);
        else
            wrong = std::abs(now.start - times.start) > tolerance;
        if (wrong)
            return taskName(id) + QLatin1String(" starts at ") + timeText(now.start)
                + QLatin1String("; the reference has it at ") + timeText(times.start) + QLatin1String(" (it was at ")
                + timeText(start) + QLatin1Char(')');
    }
    return {};
}

// ---- Observers ----

// Counts how often each task's start is assigned.
class StartChanges {
public:
    explicit StartChanges(const Project &project)
    {
        for (const TaskPtr &task : project.tasks())
            QObject::connect(
                task.get(), &Task::startAboutToChange, &m_context, [this, id = task->id()] { ++m_counts[id]; });
    }

    // A task reached by many paths still moves once.
    [[nodiscard]] QString problem() const
    {
        for (auto it = m_counts.cbegin(); it != m_counts.cend(); ++it)
            if (it.value() > 1)
                return taskName(it.key()) + QStringLiteral(" was moved %1 times by one edit").arg(it.value());
        return {};
    }

private:
    QHash<qint64, int> m_counts;
    QObject m_context;
};

// Takes the engine's notes that it gave up on a runaway propagation, which random plans with
// negative durations may well produce, and hands every other message on.
class StoppedPropagations {
public:
    StoppedPropagations() { s_previous = qInstallMessageHandler(&handle); }
    ~StoppedPropagations() { qInstallMessageHandler(s_previous); }
    StoppedPropagations(const StoppedPropagations &) = delete;
    StoppedPropagations &operator=(const StoppedPropagations &) = delete;

    [[nodiscard]] int count() const { return s_count; }
    void reset() { s_count = 0; }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (type == QtCriticalMsg && message.startsWith(QLatin1String("scheduling stopped: "))) {
            ++s_count;
            return;
        }
        if (s_previous)
            s_previous(type, context, message);
    }

    static inline QtMessageHandler s_previous = nullptr;
    static inline int s_count = 0;
};

// ---- Undo and redo ----

// An undone edit gives back the state before it. A duration change is undone by changing the
// duration back, so the tasks it pushed stay; a later undo may then put back the tasks its own edit
// changed and leave those others where they stand.
QString undoProblem(const Edit &edit, const PlanState &replaced, const PlanState &before, const PlanState &after,
    const PlanState &now, bool keepsRules)
{
    if (edit.kind != Kind::Duration) {
        const PlanState untouched = unchangedTasks(before, after, replaced);
        return difference(before, now, { &untouched });
    }
    if (!keepsRules)
        return structureDifference(replaced, now, edit.task, edit.from);
    // Making the task longer again moves nothing, unless an empty member stands inside it: the
    // engine counts those as overlapping, the rules do not.
    if (edit.to < edit.from && difference(after, replaced).isEmpty() && !hasEmptyMembers(replaced)
        && ruleProblem(before).isEmpty())
        return difference(before, now);
    Edit inverse = edit;
    std::swap(inverse.from, inverse.to);
    return unexpectedChange(inverse, replaced, now, hasEmptyMembers(replaced));
}

// A redone edit gives back the state after it; what an earlier undo left in place may stay. A
// duration change is redone by changing the duration again, from wherever the tasks now stand.
QString redoProblem(const Edit &edit, const PlanState &current, const PlanState &before, const PlanState &after,
    const PlanState &replaced, const PlanState &undone, const PlanState &now, bool keepsRules)
{
    if (edit.kind != Kind::Duration) {
        const PlanState untouched = unchangedTasks(before, after, current);
        return difference(after, now, { &untouched, &replaced });
    }
    if (!keepsRules)
        return structureDifference(current, now, edit.task, edit.to);
    if (difference(before, current).isEmpty())
        return difference(after, now);
    // Straight after its own undo, which only shortened the task, making it longer again moves
    // nothing, empty members aside.
    if (edit.to > edit.from && difference(undone, current).isEmpty() && !hasEmptyMembers(current)
        && ruleProblem(replaced).isEmpty())
        return difference(replaced, now);
    return unexpectedChange(edit, current, now, hasEmptyMembers(current));
}

} // namespace

// Reports a problem found by one of the checks above, with the plan's seed and the edit.
#define VERIFY_NO_PROBLEM(expression)                                                                                  \
    do {                                                                                                               \
        const QString problem_ = (expression);                                                                         \
        QVERIFY2(problem_.isEmpty(), qPrintable(QString(m_context + QLatin1String(": ") + problem_)));                 \
    } while (false)

class TestPropagation : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { Ids::resetForTesting(1, 1); }

    // Every edit of random plans, each held against the rules and, for plans of dependencies
    // alone, against the reference; now and then undone and redone at once.
    void randomEdits_data() { addPlanRows(); }
    void randomEdits() { runPlans(EveryEdit); }

    // The same edits, then the whole history undone and redone step by step.
    void randomHistories_data() { addPlanRows(); }
    void randomHistories() { runPlans(WholeHistory); }

    // Rows: the shape, its size, and the edit: the first task moved later, the first task made
    // longer, or the last task moved earlier, each by 1024 minutes.
    void shapes_data()
    {
        QTest::addColumn<int>("shape");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("edit");
        const char *edits[] = { "moved later", "made longer", "last moved earlier" };
        const struct {
            const char *name;
            int shape;
            int size;
        } shapes[] = { { "ladder of 11 phases", 0, 11 }, { "ladder of 20 phases", 0, 20 },
            { "diamond of 1000", 1, 1000 }, { "lattice of 24 x 24", 2, 24 } };
        for (const auto &shape : shapes)
            for (int edit = 0; edit < 3; ++edit)
                QTest::addRow("%s, %s", shape.name, edits[edit]) << shape.shape << shape.size << edit;
    }

    void shapes()
    {
        QFETCH(int, shape);
        QFETCH(int, size);
        QFETCH(int, edit);
        const Plan plan = shape == 0 ? ladder(size) : shape == 1 ? diamond(size) : lattice(size);
        auto project = build(plan);
        QVERIFY(project->deletedEdges().isEmpty());
        TestUndoManager undo;
        project->setUndoManager(&undo);
        StoppedPropagations stops;
        m_context = QString::fromLatin1(QTest::currentDataTag());

        constexpr double distance = 1024 * 60.0;
        Edit change;
        change.number = 1;
        change.task = edit == 2 ? qint64(plan.tasks.size()) : 1;
        if (edit == 1) {
            change.kind = Kind::Duration;
            change.from = plan.tasks.first().duration;
            change.to = change.from + distance;
        } else {
            change.delta = edit == 2 ? -distance : distance;
        }

        const PlanState before = capture(*project);
        {
            const StartChanges starts(*project);
            perform(*project, change);
            VERIFY_NO_PROBLEM(starts.problem());
        }
        const PlanState after = capture(*project);
        VERIFY_NO_PROBLEM(stops.count() == 0 ? QString() : QStringLiteral("propagation stopped"));
        VERIFY_NO_PROBLEM(stateProblem(*project, true));
        VERIFY_NO_PROBLEM(referenceProblem(change, before, after));
        VERIFY_NO_PROBLEM(unexpectedChange(change, before, after, false));
        const TaskState &far = after.tasks.at(edit == 2 ? 1 : qint64(plan.tasks.size()));
        const TaskState &farBefore = before.tasks.at(edit == 2 ? 1 : qint64(plan.tasks.size()));
        QVERIFY2(!same(far.start, farBefore.start), "the edit did not reach the far end");

        undo.undo();
        const PlanState undone = capture(*project);
        VERIFY_NO_PROBLEM(undoProblem(change, after, before, after, undone, true));
        undo.redo();
        VERIFY_NO_PROBLEM(redoProblem(change, undone, before, after, after, undone, capture(*project), true));
    }

private:
    enum Checks { EveryEdit, WholeHistory };

    // Rows: a family of plans and a range of seeds, one plan each.
    static void addPlanRows()
    {
        QTest::addColumn<int>("family");
        QTest::addColumn<int>("firstSeed");
        QTest::addColumn<int>("count");
        QTest::newRow("dependencies only") << int(DependenciesOnly) << 1 << 150;
        QTest::newRow("groups, first half") << int(Groups) << 1001 << 150;
        QTest::newRow("groups, second half") << int(Groups) << 1151 << 150;
        QTest::newRow("negative durations") << int(NegativeDurations) << 2001 << 100;
    }

    void runPlans(Checks checks)
    {
        QFETCH(int, family);
        QFETCH(int, firstSeed);
        QFETCH(int, count);
        StoppedPropagations stops;
        for (int seed = firstSeed; seed < firstSeed + count; ++seed) {
            runPlan(Family(family), quint32(seed), checks, stops);
            if (QTest::currentTestFailed())
                return;
        }
    }

    void runPlan(Family family, quint32 seed, Checks checks, StoppedPropagations &stops)
    {
        Random random(seed);
        const double grains[] = { 60.0, 1.0, 0.0 };
        const double grain = grains[random.below(3)];
        auto project = build(randomPlan(random, family, grain));
        const bool keepsRules = family != NegativeDurations;
        const bool everyEdit = checks == EveryEdit;
        m_context = QStringLiteral("seed %1, as generated").arg(seed);
        VERIFY_NO_PROBLEM(
            project->deletedEdges().isEmpty() ? QString() : QStringLiteral("the plan lost dependencies on loading"));
        VERIFY_NO_PROBLEM(stateProblem(*project, keepsRules));
        TestUndoManager undo;
        project->setUndoManager(&undo);

        std::vector<PlanState> states { capture(*project) };
        // Whether each state kept the rules; one that did not is no fault of the undo that brings it back.
        std::vector<bool> kept { keepsRules };
        std::vector<Edit> edits;
        const int count = 12 + int(random.below(20));
        for (int i = 1; i <= count; ++i) {
            const PlanState before = states.back();
            Edit edit = randomEdit(random, before, family, grain);
            edit.number = i;
            const bool refusal = edit.kind == Kind::AddDependency && refuses(before, edit.task, edit.other);
            const qsizetype steps = undo.count();
            bool refused = false;
            QString moves;
            stops.reset();
            {
                const StartChanges starts(*project);
                refused = perform(*project, edit);
                moves = starts.problem();
            }
            m_context = QStringLiteral("seed %1, edit %2: %3").arg(seed).arg(i).arg(edit.text());
            PlanState after = capture(*project);
            if (everyEdit && refused != refusal)
                VERIFY_NO_PROBLEM(refused ? QStringLiteral("refused") : QStringLiteral("accepted"));
            if (refused) {
                if (everyEdit)
                    VERIFY_NO_PROBLEM(difference(before, after));
                QVERIFY2(undo.count() == steps, qPrintable(m_context));
                continue;
            }
            QVERIFY2(undo.count() == steps + 1, qPrintable(m_context));
            // A member of no length and a dependency can pull each other for ever; such an edit stops
            // and leaves the rules as far as it got.
            const bool endless = keepsRules && stops.count() > 0 && hasEmptyMembers(before);
            if (everyEdit && !endless) {
                if (keepsRules)
                    VERIFY_NO_PROBLEM(stops.count() == 0 ? QString() : QStringLiteral("propagation stopped"));
                VERIFY_NO_PROBLEM(stateProblem(*project, keepsRules));
                if (keepsRules) {
                    VERIFY_NO_PROBLEM(unexpectedChange(edit, before, after, hasEmptyMembers(before)));
                    if (plainDependencies(before)) {
                        VERIFY_NO_PROBLEM(referenceProblem(edit, before, after));
                        VERIFY_NO_PROBLEM(moves);
                    }
                }
            }
            // Now and then straight back and forth, from a state no undo has touched yet.
            if (random.chance(0.25)) {
                undo.undo();
                const PlanState undone = capture(*project);
                if (everyEdit) {
                    VERIFY_NO_PROBLEM(undoProblem(edit, after, before, after, undone, (keepsRules && !endless)));
                    VERIFY_NO_PROBLEM(stateProblem(*project, (keepsRules && !endless)));
                }
                undo.redo();
                const PlanState redone = capture(*project);
                if (everyEdit) {
                    VERIFY_NO_PROBLEM(
                        redoProblem(edit, undone, before, after, after, undone, redone, (keepsRules && !endless)));
                    VERIFY_NO_PROBLEM(stateProblem(*project, (keepsRules && !endless)));
                }
                after = redone;
            }
            kept.push_back(keepsRules && stops.count() == 0 && ruleProblem(after).isEmpty());
            states.push_back(std::move(after));
            edits.push_back(edit);
            // What follows would start from a plan that breaks the rules.
            if (endless)
                break;
        }
        if (everyEdit)
            return;
        // A duration change is undone and redone by running it again; with negative durations
        // that run need not retrace the first one (a push can turn into a pull), so over a whole
        // history only the plans that keep the rules are held to their recorded states. Straight
        // undo and redo of each edit is still checked bit for bit above.
        const bool exact = keepsRules;

        // The whole history back, then forth again.
        std::vector<PlanState> replaced(edits.size());
        std::vector<PlanState> undone(edits.size());
        for (size_t k = edits.size(); k > 0; --k) {
            const Edit &edit = edits[k - 1];
            m_context = QStringLiteral("seed %1, undoing edit %2: %3").arg(seed).arg(edit.number).arg(edit.text());
            replaced[k - 1] = capture(*project);
            undo.undo();
            undone[k - 1] = capture(*project);
            if (exact)
                VERIFY_NO_PROBLEM(
                    undoProblem(edit, replaced[k - 1], states[k - 1], states[k], undone[k - 1], keepsRules));
            VERIFY_NO_PROBLEM(stateProblem(*project, kept[k - 1]));
        }
        QVERIFY2(undo.count() == 0, qPrintable(m_context));
        for (size_t k = 1; k <= edits.size(); ++k) {
            const Edit &edit = edits[k - 1];
            m_context = QStringLiteral("seed %1, redoing edit %2: %3").arg(seed).arg(edit.number).arg(edit.text());
            const PlanState current = capture(*project);
            undo.redo();
            if (exact)
                VERIFY_NO_PROBLEM(redoProblem(edit, current, states[k - 1], states[k], replaced[k - 1], undone[k - 1],
                    capture(*project), keepsRules));
            VERIFY_NO_PROBLEM(stateProblem(*project, kept[k]));
        }
    }

    QString m_context;
};

QTEST_GUILESS_MAIN(TestPropagation)
#include "tst_propagation.moc"
