#pragma once

#include "GroupIndex.h"
#include "Task.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <vector>

// A dependency: the successor may not start before the predecessor has ended.
struct Edge {
    TaskPtr predecessor;
    TaskPtr successor;

    [[nodiscard]] QString description() const;
    friend bool operator==(const Edge &, const Edge &) = default;
};

// The stored form of an edge: a = predecessor id, b = successor id.
struct IntPair {
    qint64 a = 0;
    qint64 b = 0;

    [[nodiscard]] QString description() const;
    friend bool operator==(const IntPair &, const IntPair &) = default;
};

// Thrown when a new dependency is refused; msg is shown to the user as it stands.
class ConsistencyError : public std::runtime_error {
public:
    explicit ConsistencyError(const QString &msg);
    QString msg;
};

// A copy of a project's editable state, taken before an edit so that it can be undone.
struct ProjectMemento {
    TaskList tasks;
    QString name;
    QList<Edge> edges;
    std::optional<QDateTime> origin;
};

// One recorded step; the undo manager calls undo() and redo() alternately.
class UndoStep {
public:
    virtual ~UndoStep() = default;
    virtual void undo() = 0;
    virtual void redo() = 0;
};

// The window's undo history as the model sees it. The application adapts its QUndoStack to it,
// which keeps the model free of GUI libraries.
class UndoManager {
public:
    virtual ~UndoManager() = default;
    // The step has already been done; the manager must not run redo() on receiving it.
    virtual void registerUndo(const QString &actionName, std::unique_ptr<UndoStep> step) = 0;
};

// The user-facing account of dependencies dropped while a file was loaded.
struct ConsistencyReport {
    QString message;
    QString informativeText;
};

// Which limits a drag in the chart obeys; dependencies always apply.
enum DragModeFlag {
    LimitToProjectStart = 1,
    LimitByExclusionGroup = 2,
};
Q_DECLARE_FLAGS(DragMode, DragModeFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(DragMode)

// A named, ordered list of tasks and the dependencies between them. Every user edit is one
// operation here: it changes the model, propagates the change through dependencies and exclusion
// groups, recomputes the span, marks the project dirty and records one undo step.
class Project : public QObject {
    Q_OBJECT

public:
    // A new, empty, unsaved project.
    Project();
    ~Project() override;

    // Builds a project from a file's contents, keeping the stored times and dropping every
    // dependency that contradicts them, depends on itself or closes a cycle into deletedEdges.
    [[nodiscard]] static std::unique_ptr<Project> load(
        const QString &name, TaskList tasks, const QList<IntPair> &dependencies);

    [[nodiscard]] qint64 id() const { return m_id; }
    [[nodiscard]] double duration() const { return m_duration; }
    [[nodiscard]] double start() const { return m_start; }
    [[nodiscard]] double end() const { return m_end; }
    [[nodiscard]] const TaskList &tasks() const { return m_tasks; }
    [[nodiscard]] const QString &name() const { return m_name; }
    // Every assignment, also of the same name, marks the project dirty.
    void setName(const QString &name);
    // The local date and time that time 0 of the axis stands for; none for a plan without dates.
    // Times stay elapsed seconds: a day on the axis is 24 hours, also across a clock change.
    [[nodiscard]] const std::optional<QDateTime> &origin() const { return m_origin; }
    // Sets the origin as it stands and marks the project dirty, recording no step.
    void setOrigin(const std::optional<QDateTime> &origin);
    // The user's edit of the origin: one undo step "Change Project Start Date"; nothing when unchanged.
    void changeOrigin(const std::optional<QDateTime> &origin);
    // Whether a date and time can be an origin: valid, local, whole seconds, years 1 to 9999 (the
    // four digits a file writes).
    [[nodiscard]] static bool isValidOrigin(const QDateTime &origin);
    // The origin as the file writes it, 2026-12-14T08:00:00, and back; none for text that is not one.
    [[nodiscard]] static QString originText(const QDateTime &origin);
    [[nodiscard]] static std::optional<QDateTime> originFromText(const QString &text);
    // The local date and time of a time on the axis; none without an origin or beyond the dates
    // QDateTime keeps.
    [[nodiscard]] std::optional<QDateTime> dateTimeAt(double time) const;
    [[nodiscard]] UndoManager *undoManager() const { return m_undoManager; }
    // Not owned; the window's history outlives no project it was given to.
    void setUndoManager(UndoManager *undoManager) { m_undoManager = undoManager; }
    [[nodiscard]] const QList<Edge> &deletedEdges() const { return m_deletedEdges; }
    [[nodiscard]] const QList<Edge> &edges() const { return m_edges; }
    [[nodiscard]] bool isDirty() const { return m_isDirty; }
    void setDirty(bool dirty);

    [[nodiscard]] TaskPtr taskWithId(std::optional<qint64> id) const;
    // The task's row in the task list, in constant time; -1 when the list does not hold it.
    [[nodiscard]] qsizetype rowOf(const Task &task) const;
    [[nodiscard]] QList<IntPair> dependencies() const;
    [[nodiscard]] QString description() const;
    // The alert text about dependencies dropped on loading; none when nothing was dropped.
    [[nodiscard]] std::optional<ConsistencyReport> deletedEdgesReport() const;

    // Editing operations, each one undo step.
    void addTask(const TaskPtr &task);
    // Throws Ids::IdsExhausted, changing nothing, when no task id is left.
    TaskPtr duplicate(std::optional<qint64> taskId);
    void deleteTask(const TaskPtr &task);
    // Both refuse, changing nothing and recording no step, an edit after which the plan would
    // last longer than a number can say; they return whether the edit was made.
    bool moveTask(const TaskPtr &task, double delta);
    bool changeDuration(const TaskPtr &task, double duration);
    void changeExclusionGroup(const TaskPtr &task, const ExclusionGroup &group);
    // Throws ConsistencyError, changing nothing, when the dependency is refused.
    void addDependency(const TaskPtr &predecessor, const TaskPtr &successor);
    void deleteDependency(const TaskPtr &predecessor, const TaskPtr &successor);
    // Moves one row of the task list; marks the project dirty but records no undo step.
    void reorderTask(qsizetype from, qsizetype to);

    // Graph queries and maintenance.
    void insertEdge(const TaskPtr &predecessor, const TaskPtr &successor);
    [[nodiscard]] bool isReachable(const Task &from, const Task &to) const;
    void rebuildAdjacency();
    void refreshAdjacency(Task &predecessor, Task &successor);
    void recomputeStart();
    void recomputeEnd();

    // Scheduling: each moves tasks just as far as the dependency and exclusion rules demand.
    void shiftTask(Task &task, double delta);
    void pushSuccessors(Task &task);
    void pullPredecessors(Task &task);
    bool resolveExclusionConflicts(Task &task, bool placeBefore);
    void alignPredecessor(Task &predecessor, double time);

    // Drag limits, as offsets from the project start: the lowest start a task may be given, and
    // the highest end, none when nothing limits it to the right.
    [[nodiscard]] double minimumStartOffset(const Task &task, DragMode mode);
    [[nodiscard]] std::optional<double> maximumEndOffset(const Task &task, DragMode mode);

    // Undo history.
    [[nodiscard]] ProjectMemento takeSnapshot() const;
    void applySnapshot(const ProjectMemento &memento);
    // Applies a snapshot and returns one of the state it replaced, to swap back later.
    [[nodiscard]] ProjectMemento restoreSnapshot(const ProjectMemento &memento);

    // The start that makes a task of the duration end at the time at the latest, as near to it as
    // doubles allow: end - duration can round so that the task ends a hair after it.
    [[nodiscard]] static double startToEndBy(double end, double duration);

    // How often one operation may move the same task before propagation gives up. Positive
    // durations never come near it; negative ones can let a push and a pull chase each other.
    static constexpr quint32 maxMovesPerTask = 1000;
    // How many moves one edit may make following the recursion before the sweep takes over.
    static constexpr quint64 maxExactMoves = 60000;

Q_SIGNALS:
    void durationAboutToChange();
    void durationChanged();
    void startAboutToChange();
    void startChanged();
    void tasksAboutToChange();
    void tasksChanged();
    void nameAboutToChange();
    void nameChanged();
    void originChanged();
    // The dirty flag is no published property, but the window's commands depend on it; this
    // reports each flip, after the fact.
    void dirtyChanged(bool dirty);
    // Every change that marks the project dirty, also when it was dirty already: the unsaved work
    // grew, and a recovery copy of it is out of date.
    void edited();
    // The outermost edit (an operation, an undo, a revert) is complete: whatever reads the plan as
    // a whole can read it again.
    void editFinished();

private:
    friend class Task;
    class GraphCrawler;
    class Mover;
    class Propagation;
    class Sweep;
    class SnapshotStep;
    class DurationStep;
    class OriginStep;

    // A task's state as an edit found it.
    struct TaskState {
        TaskPtr task;
        double start;
        double duration;
        double end;
        ExclusionGroup exclusionGroup;
    };
    // A change of the task list, the dependencies or the name, with what it needs to be taken back.
    struct ListChange {
        enum Kind {
            AppendTask,
            RemoveTask,
            ReplaceTasks,
            ReorderTask,
            InsertEdge,
            RemoveEdge,
            ReplaceEdges,
            Rename,
            RenameTask
        };
        Kind kind;
        TaskPtr task; // AppendTask, RemoveTask, RenameTask
        Edge edge; // InsertEdge, RemoveEdge
        qsizetype index = 0; // of the task or edge; the row a reordered task left
        qsizetype to = 0; // the row a reordered task went to
        std::shared_ptr<const TaskList> tasks; // ReplaceTasks: the list replaced
        std::shared_ptr<const QList<Edge>> edges; // ReplaceEdges: the list replaced
        QString name; // Rename, RenameTask: the name replaced
    };
    // What one edit changed: each task it touched as it found it, and its list changes in order.
    struct Delta {
        QList<ListChange> changes;
        std::vector<TaskState> states;
    };
    // A point in the history: how much of the journal had been written (blocks of states, changes).
    struct Mark {
        quint64 states = 0;
        quint64 changes = 0;
        friend auto operator<=>(const Mark &, const Mark &) = default;
    };
    // The project's start and end at a mark, where they were known exactly then.
    struct Span {
        double start;
        double end;
    };

    void setTasks(TaskList tasks);
    void setStart(double start);
    void setDuration(double duration);
    bool changeDurationImpl(const TaskPtr &task, double duration, bool record);
    // Within an edit: when the span has become infinite, puts every task the edit touched back
    // as it found it and says so.
    bool takeBackOverflowingEdit(const Task &task);
    [[nodiscard]] static TaskState stateOf(const TaskPtr &task);
    static void assignState(Task &task, const TaskState &state);
    void removeDeletedCycles();

    // Edits: every change of a listed task between begin and end is noted, once per task.
    void beginEdit();
    // Ends the outermost edit; registers it as a step under the action name unless that is empty.
    void endEdit(const QString &actionName = QString());
    void taskAboutToChange(Task &task);
    void taskAboutToRename(Task &task);
    void taskLeavingGroup(Task &task);
    void taskRegrouped(Task &task);
    void noteState(Task &task);
    void noteListChange(ListChange change);
    // recomputeStart and recomputeEnd, from what the edit under way changed when that is enough.
    void recomputeSpan();
    void appendTask(const TaskPtr &task);
    void removeTaskAt(qsizetype index);
    void insertEdgeAt(qsizetype index, const Edge &edge);
    void removeEdgeAt(qsizetype index);
    void replaceTaskList(TaskList tasks);
    void replaceEdges(QList<Edge> edges);
    void refreshAdjacencyOf(const std::vector<Task *> &tasks);
    void renumberFrom(qsizetype index);

    // The history (History.cpp): the journal of every change made while the project has an undo
    // manager, and the plan at any point of it brought back.
    // Whether a change is noted: inside an edit always (its end decides), between edits while a
    // step holds a mark.
    [[nodiscard]] bool journaling() const
    {
        return m_undoManager != nullptr && (m_editDepth > 0 || !m_heldMarks.empty());
    }
    [[nodiscard]] Mark mark() const;
    // Brings back the plan as it stood at the mark; the span then, if known, spares a count.
    void restoreTo(const Mark &mark, const std::optional<Span> &spanThen);
    [[nodiscard]] std::optional<Span> exactSpan() const;
    [[nodiscard]] std::unique_ptr<UndoStep> makeSnapshotStep(const Mark &mark, const std::optional<Span> &span);
    [[nodiscard]] std::unique_ptr<UndoStep> makeDurationStep(const TaskPtr &task, double duration);
    void holdMark(const Mark &mark);
    void releaseMark(const Mark &mark, bool trim);

    [[nodiscard]] static quint64 nextStamp();
    // The index of the task's group, up to date; none for a task in no group.
    GroupIndex *groupIndexOf(const Task &task);
    void flushGroupIndex();
    void ensureLevels();
    void recountSpan();
    // Lifts the task to at least the level, and what follows it as far as needed.
    void raiseLevels(Task &task, int level);
    // The routines of the recursion (Scheduling.cpp), each run exactly unless that would cost too
    // much, when what it did is taken back and the sweep (Sweep.cpp) runs instead.
    enum class Routine { Shift, PushSuccessors, PullPredecessors, ResolvePushing, ResolvePulling, AlignPredecessor };
    bool propagate(Task &task, Routine routine, double value);
    bool sweep(Task &task, Routine routine, double value);
    // Which tasks lead to a group member (push) or are led to from one (pull); see Scheduling.cpp.
    void ensureTaint();
    void spreadTaint(Task &task, bool towardsPredecessors);

    const qint64 m_id;
    double m_duration = 0.0;
    double m_start = 0.0;
    TaskList m_tasks;
    QString m_name;
    UndoManager *m_undoManager = nullptr;
    QList<Edge> m_deletedEdges;
    double m_end = 0.0;
    QList<Edge> m_edges;
    bool m_isDirty = true;
    std::optional<QDateTime> m_origin;

    // The edit under way: its nesting depth, its number, what it changed; the span as it stood
    // when it began.
    int m_editDepth = 0;
    quint64 m_edit = 1;
    Delta m_delta;
    bool m_spanExact = false;
    bool m_timesChanged = false;
    double m_editStart = 0.0;
    double m_editEnd = 0.0;
    bool m_editSpanExact = false;

    // Every edit's delta in order, and the changes made between edits; the marks the history's
    // steps go back to, so that what lies before all of them can be dropped.
    // States come in one block an edit, handed over whole.
    std::deque<std::vector<TaskState>> m_journalStates;
    std::deque<ListChange> m_journalChanges;
    Mark m_journalBase;
    std::vector<std::vector<TaskState>> m_spareBlocks;
    std::vector<const TaskState *> m_restoring;
    std::multiset<Mark> m_heldMarks;

    // Members of each exclusion group by time, built on first use and then kept current; tasks
    // whose times or group changed wait in m_unindexed until the next look-up.
    std::map<QString, GroupIndex> m_groups; // node-based: members point at their index
    bool m_groupsBuilt = false;
    std::vector<Task *> m_unindexed;
    bool m_levelsValid = false;
    bool m_taintValid = false;
    std::vector<Task *> m_taintPending;
};
