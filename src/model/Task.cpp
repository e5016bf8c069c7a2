#include "Task.h"

#include "Ids.h"
#include "Project.h"
#include "TextForm.h"

#include <QMetaMethod>
#include <QTextBoundaryFinder>
#include <limits>

Task::Task(qint64 id, Project *project, QString name, double duration, double end, ExclusionGroup exclusionGroup)
    : m_start(end - duration)
    , m_duration(duration)
    , m_name(std::move(name))
    , m_end(end)
    , m_exclusionGroup(std::move(exclusionGroup))
    , m_id(id)
    , m_project(project)
{ }

TaskPtr Task::create(
    qint64 id, Project *project, QString name, double duration, double end, ExclusionGroup exclusionGroup)
{
    return std::make_shared<Task>(id, project, std::move(name), duration, end, std::move(exclusionGroup));
}

TaskPtr Task::createStartingAt(
    qint64 id, Project *project, QString name, double start, double duration, ExclusionGroup exclusionGroup)
{
    TaskPtr task = create(id, project, std::move(name), duration, start + duration, std::move(exclusionGroup));
    // Nobody observes a task being made.
    task->m_start = start;
    return task;
}

TaskPtr Task::createNew(Project *project)
{
    return create(Ids::takeTaskId(), project, QString(), 300.0, 0.0);
}

void Task::aboutToChange()
{
    if (m_owner)
        m_owner->taskAboutToChange(*this);
}

void Task::setStart(double start)
{
    aboutToChange();
    if (observed(StartAboutToChange))
        Q_EMIT startAboutToChange();
    m_start = start;
    if (observed(StartChanged))
        Q_EMIT startChanged();
    if (observed(EndAboutToChange))
        Q_EMIT endAboutToChange();
    // The project has been told already.
    m_end = m_start + m_duration;
    if (observed(EndChanged))
        Q_EMIT endChanged();
}

void Task::setDurationOnly(double duration)
{
    aboutToChange();
    if (observed(DurationAboutToChange))
        Q_EMIT durationAboutToChange();
    m_duration = duration;
    if (observed(DurationChanged))
        Q_EMIT durationChanged();
}

void Task::setDuration(double duration)
{
    setDurationOnly(duration);
    updateEnd();
}

void Task::setName(const QString &name)
{
    if (m_owner)
        m_owner->taskAboutToRename(*this);
    if (observed(NameAboutToChange))
        Q_EMIT nameAboutToChange();
    m_name = name;
    // A renamed task is unsaved work: without this, closing the window would not ask to save it.
    if (m_project)
        m_project->setDirty(true);
    if (observed(NameChanged))
        Q_EMIT nameChanged();
}

void Task::setEnd(double end)
{
    aboutToChange();
    if (observed(EndAboutToChange))
        Q_EMIT endAboutToChange();
    m_end = end;
    if (observed(EndChanged))
        Q_EMIT endChanged();
}

void Task::updateEnd()
{
    setEnd(m_start + m_duration);
}

void Task::setExclusionGroup(const ExclusionGroup &group)
{
    if (m_owner)
        m_owner->taskLeavingGroup(*this);
    aboutToChange();
    if (observed(ExclusionGroupAboutToChange))
        Q_EMIT exclusionGroupAboutToChange();
    m_exclusionGroup = group;
    if (m_owner)
        m_owner->taskRegrouped(*this);
    if (observed(ExclusionGroupChanged))
        Q_EMIT exclusionGroupChanged();
}

void Task::setPredecessors(TaskSet predecessors)
{
    if (observed(PredecessorsAboutToChange))
        Q_EMIT predecessorsAboutToChange();
    m_predecessors = std::move(predecessors);
    if (observed(PredecessorsChanged))
        Q_EMIT predecessorsChanged();
}

void Task::setSuccessors(TaskSet successors)
{
    if (observed(SuccessorsAboutToChange))
        Q_EMIT successorsAboutToChange();
    m_successors = std::move(successors);
    if (observed(SuccessorsChanged))
        Q_EMIT successorsChanged();
}

Project *Task::project() const
{
    return m_project.data();
}

void Task::setProject(Project *project)
{
    m_project = project;
}

bool Task::overlaps(const Task &other) const
{
    if (other.m_start <= m_start)
        return other.m_end > m_start;
    return m_end > other.m_start;
}

void Task::assign(const Task &other)
{
    if (m_name != other.m_name)
        setName(other.m_name);
    if (m_start != other.m_start)
        setStart(other.m_start);
    if (m_exclusionGroup != other.m_exclusionGroup)
        setExclusionGroup(other.m_exclusionGroup);
    if (m_duration != other.m_duration)
        setDurationOnly(other.m_duration);
    if (m_end != other.m_end)
        updateEnd();
}

QString Task::description() const
{
    QString text = QLatin1String("(ID: ") + QString::number(m_id) + QLatin1String(", name: ") + m_name
        + QLatin1String(", start: ") + TextForm::number(m_start) + QLatin1String(", duration: ")
        + TextForm::number(m_duration) + QLatin1String(", end: ") + TextForm::number(m_end);
    if (m_exclusionGroup)
        text += QLatin1String(", exclusion group: ") + *m_exclusionGroup;
    return text + QLatin1Char(')');
}

ExclusionGroup Task::groupFromText(const QString &text)
{
    if (text.isEmpty())
        return std::nullopt;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    const qsizetype next = finder.toNextBoundary();
    return text.left(next > 0 ? next : text.size());
}

// Most tasks are watched by nobody (the chart follows only the rows it shows, the names list
// only names); an emission costs more than the change it announces, so the setters announce only
// what someone listens to. Counts that reach the top stay there: announcing too much is harmless.
namespace {

int signalSlot(const QMetaMethod &signal)
{
    Q_ASSERT(QMetaMethod::fromSignal(&Task::successorsChanged).methodIndex() - Task::staticMetaObject.methodOffset()
        == Task::signalCount - 1);
    const int slot = signal.methodIndex() - Task::staticMetaObject.methodOffset();
    return signal.methodType() == QMetaMethod::Signal && slot >= 0 && slot < Task::signalCount ? slot : -1;
}

} // namespace

void Task::connectNotify(const QMetaMethod &signal)
{
    const int slot = signalSlot(signal);
    if (slot < 0) {
        m_observed.fill(0xff);
        return;
    }
    const int shift = slot % 2 * 4;
    const int count = (m_observed[slot / 2] >> shift) & 0xf;
    if (count < 0xf)
        m_observed[slot / 2] = quint8(m_observed[slot / 2] + (1 << shift));
}

void Task::disconnectNotify(const QMetaMethod &signal)
{
    const int slot = signalSlot(signal);
    if (slot < 0)
        return;
    const int shift = slot % 2 * 4;
    const int count = (m_observed[slot / 2] >> shift) & 0xf;
    if (count > 0 && count < 0xf)
        m_observed[slot / 2] = quint8(m_observed[slot / 2] - (1 << shift));
}
