#pragma once

#include <QList>
#include <QMetaMethod>
#include <QObject>
#include <QPointer>
#include <QString>
#include <array>
#include <memory>
#include <optional>

class GroupIndex;
class Project;
class Task;

// Tasks are shared by identity: the project, undo snapshots and views all hold them.
using TaskPtr = std::shared_ptr<Task>;
using TaskList = QList<TaskPtr>;
// A set of tasks without repetitions, kept in the order of the dependency list that
// produced it, so that every walk over it is deterministic.
using TaskSet = QList<TaskPtr>;
// One user-perceived character (a grapheme), or none.
using ExclusionGroup = std::optional<QString>;

// One bar of the chart. Published properties emit their "aboutToChange" signal before every
// assignment, also when the value stays the same, and "changed" after it.
class Task : public QObject {
    Q_OBJECT

public:
    Task(qint64 id, Project *project, QString name, double duration, double end, ExclusionGroup exclusionGroup);
    [[nodiscard]] static TaskPtr create(qint64 id, Project *project, QString name, double duration, double end,
        ExclusionGroup exclusionGroup = std::nullopt);
    // A brand-new task: the next free id, no name, five minutes, ending at 0. Throws
    // Ids::IdsExhausted, without taking an id, when none is left.
    [[nodiscard]] static TaskPtr createNew(Project *project);
    // A task that starts exactly at start, as stored or as it stood: end - duration need not give
    // the start back to the last bit, nor its sign.
    [[nodiscard]] static TaskPtr createStartingAt(qint64 id, Project *project, QString name, double start,
        double duration, ExclusionGroup exclusionGroup = std::nullopt);

    [[nodiscard]] double start() const { return m_start; }
    // Also recomputes the end.
    void setStart(double start);

    [[nodiscard]] double duration() const { return m_duration; }
    // Writes the duration alone; the end stays until updateEnd().
    void setDurationOnly(double duration);
    // Writes the duration and moves the end; the start stays.
    void setDuration(double duration);

    [[nodiscard]] const QString &name() const { return m_name; }
    void setName(const QString &name);

    [[nodiscard]] double end() const { return m_end; }
    // Writes the end alone; nothing else follows it.
    void setEnd(double end);
    void updateEnd();

    [[nodiscard]] const ExclusionGroup &exclusionGroup() const { return m_exclusionGroup; }
    void setExclusionGroup(const ExclusionGroup &group);

    [[nodiscard]] const TaskSet &predecessors() const { return m_predecessors; }
    void setPredecessors(TaskSet predecessors);
    [[nodiscard]] const TaskSet &successors() const { return m_successors; }
    void setSuccessors(TaskSet successors);

    [[nodiscard]] qint64 id() const { return m_id; }
    [[nodiscard]] Project *project() const;
    void setProject(Project *project);

    // True when the other task lies over this one's start, or starts inside it. Touching
    // intervals do not overlap; for equal starts only the other task's end counts.
    [[nodiscard]] bool overlaps(const Task &other) const;
    // Takes over name, start, group and duration from another task, writing only what differs,
    // so that unchanged tasks notify nobody.
    void assign(const Task &other);
    [[nodiscard]] QString description() const;

    // The exclusion group given by a text: its first grapheme, or none for empty text.
    [[nodiscard]] static ExclusionGroup groupFromText(const QString &text);

    static constexpr int signalCount = 14;

Q_SIGNALS:
    void startAboutToChange();
    void startChanged();
    void durationAboutToChange();
    void durationChanged();
    void nameAboutToChange();
    void nameChanged();
    void endAboutToChange();
    void endChanged();
    void exclusionGroupAboutToChange();
    void exclusionGroupChanged();
    void predecessorsAboutToChange();
    void predecessorsChanged();
    void successorsAboutToChange();
    void successorsChanged();

protected:
    void connectNotify(const QMetaMethod &signal) override;
    void disconnectNotify(const QMetaMethod &signal) override;

private:
    friend class Project;
    friend class GroupIndex;

    // Tells the project, before a time or the group changes, so that its indexes and the undo
    // step of the edit under way can follow.
    void aboutToChange();
    // The signals in the order they are declared, which is the order of their method indexes.
    enum SignalSlot {
        StartAboutToChange,
        StartChanged,
        DurationAboutToChange,
        DurationChanged,
        NameAboutToChange,
        NameChanged,
        EndAboutToChange,
        EndChanged,
        ExclusionGroupAboutToChange,
        ExclusionGroupChanged,
        PredecessorsAboutToChange,
        PredecessorsChanged,
        SuccessorsAboutToChange,
        SuccessorsChanged,
    };
    [[nodiscard]] bool observed(SignalSlot slot) const { return (m_observed[slot / 2] >> (slot % 2 * 4)) & 0xf; }

    double m_start = 0.0;
    double m_duration = 0.0;
    QString m_name;
    double m_end = 0.0;
    ExclusionGroup m_exclusionGroup;
    TaskSet m_predecessors;
    TaskSet m_successors;
    const qint64 m_id;
    QPointer<Project> m_project;

    // Kept by the project whose task list holds the task (the owner): its row (-1 when in no
    // list), its node in the group index (-1 when not indexed), a topological level (every
    // successor's is higher) that orders propagation, and the edit during which it last changed.
    Project *m_owner = nullptr;
    quint64 m_touchStamp = 0;

    // Scratch space of the project's graph walks and of one propagation: the latest start or
    // earliest end the rules demand so far, whether it waits in a worklist, how often it moved.
    mutable quint64 m_visitStamp = 0;
    quint64 m_moveStamp = 0;
    double m_requiredStart = 0.0;
    double m_requiredEnd = 0.0;
    int m_listIndex = -1;
    int m_groupNode = -1;
    GroupIndex *m_groupIndex = nullptr; // the index holding m_groupNode, while it is one
    int m_level = 0;
    mutable int m_scratchIndex = 0;
    quint32 m_moveCount = 0;
    // Connections to each signal, four bits a signal in the order the signals are declared.
    std::array<quint8, (signalCount + 1) / 2> m_observed {};
    bool m_pushPending = false;
    bool m_pullPending = false;
    // Whether a path of dependencies leads from the task to a group member (push), or from a
    // group member to the task (pull); the task's own group counts. May say yes for no reason.
    bool m_taintPush = false;
    bool m_taintPull = false;
};

// Equality is identity; ordering compares names; hashing uses the id alone.
inline bool operator==(const Task &a, const Task &b)
{
    return &a == &b;
}
inline bool operator<(const Task &a, const Task &b)
{
    return a.name() < b.name();
}
inline size_t qHash(const Task &task, size_t seed = 0)
{
    return qHash(task.id(), seed);
}

// For hashed containers of TaskPtr: same bucket for the same id, equal only when identical.
struct TaskIdHash {
    size_t operator()(const TaskPtr &task) const noexcept { return std::hash<qint64>()(task->id()); }
};
