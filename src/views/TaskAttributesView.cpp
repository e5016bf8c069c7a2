#include "TaskAttributesView.h"

#include "Beep.h"
#include "CalendarScale.h"
#include "Project.h"
#include "ShownText.h"
#include "Slack.h"
#include "TaskListView.h"
#include "TextForm.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace MinuteText {

QString wholeMinutes(double seconds)
{
    return TextForm::wholeMinutes(seconds);
}

std::optional<double> readMinutes(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    if (bytes.isEmpty())
        return std::nullopt;
    switch (bytes.front()) {
    case ' ':
    case '\t':
    case '\n':
    case '\v':
    case '\f':
    case '\r':
        return std::nullopt;
    default:
        break;
    }
    // The process locale may write decimals with a comma; durations are read the same everywhere.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    char *end = nullptr;
    const double value = strtod_l(bytes.constData(), &end, cLocale);
    if (end != bytes.constData() + bytes.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace MinuteText

namespace {

class UndoKeysFilter final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *field = qobject_cast<QLineEdit *>(watched);
        if (!field || event->type() != QEvent::ShortcutOverride)
            return false;
        const auto *key = static_cast<const QKeyEvent *>(event);
        bool toWindow = false;
        if (key->matches(QKeySequence::Undo)) {
            toWindow = !field->isUndoAvailable();
            m_fieldUndidLast = !toWindow;
        } else if (key->matches(QKeySequence::Redo)) {
            // Redo takes back the undo just made, whichever history that went to.
            toWindow = !field->isRedoAvailable() || !m_fieldUndidLast;
        }
        if (!toWindow)
            return false;
        // Left unclaimed, the key is tried as a shortcut before the field sees it.
        event->ignore();
        return true;
    }

private:
    bool m_fieldUndidLast = false;
};

} // namespace

void leaveUndoKeysToTheWindow(QLineEdit *field)
{
    field->installEventFilter(new UndoKeysFilter(field));
}

namespace {

QString groupText(const ExclusionGroup &group)
{
    return group.value_or(QString());
}

bool startsWithSpace(const QString &text)
{
    if (text.isEmpty())
        return false;
    const QChar first = text.front();
    if (first.isHighSurrogate() && text.size() > 1 && text.at(1).isLowSurrogate())
        return QChar::isSpace(QChar::surrogateToUcs4(first, text.at(1)));
    return first.isSpace();
}

// Shows the model's value, unless the user is in the middle of typing another.
void showUnlessEditing(QLineEdit *field, const QString &text)
{
    if (field->hasFocus() && field->isModified())
        return;
    if (field->text() != text)
        field->setText(text);
    field->setModified(false);
}

// After a commit the field shows what the model made of it, even while it keeps the focus.
void showCommitted(QLineEdit *field, const QString &text)
{
    if (field->text() != text)
        field->setText(text);
    field->setModified(false);
}

} // namespace

TaskAttributesView::TaskAttributesView(Project *project, TaskPtr task, QWidget *parent)
    : QWidget(parent)
    , m_project(project)
    , m_task(std::move(task))
    , m_title(new QLineEdit(this))
    , m_duration(new QLineEdit(this))
    , m_group(new QLineEdit(this))
    , m_start(new QLabel(this))
    , m_starts(new QLabel(this))
    , m_ends(new QLabel(this))
    , m_slack(new QLabel(this))
    , m_predecessors(new TaskListView(project, m_task, false, this))
    , m_successors(new TaskListView(project, m_task, true, this))
{
    m_title->setObjectName(QStringLiteral("titleField"));
    m_duration->setObjectName(QStringLiteral("durationField"));
    m_group->setObjectName(QStringLiteral("groupField"));
    m_start->setObjectName(QStringLiteral("startLabel"));
    m_starts->setObjectName(QStringLiteral("startsLabel"));
    m_ends->setObjectName(QStringLiteral("endsLabel"));
    m_slack->setObjectName(QStringLiteral("slackLabel"));
    for (QLineEdit *field : { m_title, m_duration, m_group })
        leaveUndoKeysToTheWindow(field);

    auto *heading = new QLabel(tr("Task Properties"), this);
    QFont headingFont = heading->font();
    headingFont.setBold(true);
    heading->setFont(headingFont);
    // Readers go through the children in order, and the fields were made first.
    heading->lower();

    auto *form = new QFormLayout;
    form->setContentsMargins(0, 0, 0, 0);
    // A reader names each field by its label, not by what it holds.
    const auto addField = [form](const QString &label, QLineEdit *field) {
        field->setAccessibleName(label);
        form->addRow(label, field);
    };
    addField(tr("Title"), m_title);
    addField(tr("Duration"), m_duration);
    addField(tr("Exclusion Group"), m_group);

    auto *lists = new QHBoxLayout;
    lists->setContentsMargins(0, 0, 0, 0);
    lists->addWidget(m_predecessors, 0, Qt::AlignTop);
    lists->addStretch();
    lists->addWidget(m_successors, 0, Qt::AlignTop);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(10, 10, 10, 10);
    column->addWidget(heading);
    column->addSpacing(11);
    column->addLayout(form);
    column->addWidget(m_start);
    column->addWidget(m_starts);
    column->addWidget(m_ends);
    column->addWidget(m_slack);
    column->addSpacing(9);
    column->addLayout(lists, 1);

    connect(m_title, &QLineEdit::editingFinished, this, &TaskAttributesView::commitTitle);
    connect(m_duration, &QLineEdit::editingFinished, this, &TaskAttributesView::commitDuration);
    connect(m_group, &QLineEdit::editingFinished, this, &TaskAttributesView::commitGroup);

    Task *observed = m_task.get();
    connect(observed, &Task::nameChanged, this, &TaskAttributesView::showValues);
    connect(observed, &Task::durationChanged, this, &TaskAttributesView::showValues);
    connect(observed, &Task::exclusionGroupChanged, this, &TaskAttributesView::showValues);
    connect(observed, &Task::startChanged, this, &TaskAttributesView::showValues);
    // The project's end has no signal of its own; a new end always comes with a new duration.
    connect(project, &Project::durationChanged, this, &TaskAttributesView::showValues);
    connect(project, &Project::startChanged, this, &TaskAttributesView::showValues);
    connect(project, &Project::originChanged, this, &TaskAttributesView::showValues);
    // Slack depends on the whole plan: it is read again once an edit is over, not while it runs.
    connect(SlackTracker::of(project), &SlackTracker::changed, this, &TaskAttributesView::showSlack);
    showValues();
    showSlack();
}

Project *TaskAttributesView::liveProject() const
{
    Project *owner = m_task->project() ? m_task->project() : m_project.data();
    if (!owner || owner->taskWithId(m_task->id()) != m_task)
        return nullptr;
    return owner;
}

void TaskAttributesView::showValues()
{
    showUnlessEditing(m_title, corvane::ShownText::cut(m_task->name()));
    showUnlessEditing(m_duration, MinuteText::wholeMinutes(m_task->duration()));
    showUnlessEditing(m_group, groupText(m_task->exclusionGroup()));
    if (!m_project)
        return;
    m_start->setText(tr("Start at: ") + MinuteText::wholeMinutes(m_task->start() - m_project->end()));
    const std::optional<QDateTime> starts = m_project->dateTimeAt(m_task->start());
    const std::optional<QDateTime> ends = m_project->dateTimeAt(m_task->end());
    m_starts->setVisible(starts.has_value());
    m_ends->setVisible(ends.has_value());
    if (starts)
        m_starts->setText(tr("Starts: ") + CalendarText::dateTime(*starts));
    if (ends)
        m_ends->setText(tr("Ends: ") + CalendarText::dateTime(*ends));
}

void TaskAttributesView::showSlack()
{
    Project *project = liveProject();
    if (!project) {
        m_slack->clear();
        return;
    }
    const double slack = SlackTracker::of(project)->slackOf(*m_task);
    m_slack->setText(
        tr("Slack: ") + (project->origin() ? CalendarText::daysAndHours(slack) : MinuteText::wholeMinutes(slack)));
}

void TaskAttributesView::commitTitle()
{
    if (!m_title->isModified())
        return;
    const QString text = m_title->text();
    // A long name is shown cut; only an edit of that text renames the task, never the cut itself.
    if (text != corvane::ShownText::cut(m_task->name()) && liveProject()) {
        if (text.isEmpty())
            beep();
        else
            m_task->setName(text);
    }
    showCommitted(m_title, corvane::ShownText::cut(m_task->name()));
}

void TaskAttributesView::commitDuration()
{
    // Return on a field left as shown must not turn a rounded value into an edit.
    if (!m_duration->isModified())
        return;
    const QString text = m_duration->text();
    if (Project *project = liveProject()) {
        const std::optional<double> minutes = MinuteText::readMinutes(text);
        const double seconds = minutes.value_or(0.0) * 60.0;
        if (!minutes || !std::isfinite(seconds))
            beep();
        else if (seconds != m_task->duration() && !project->changeDuration(m_task, seconds))
            beep();
    }
    showCommitted(m_duration, MinuteText::wholeMinutes(m_task->duration()));
}

void TaskAttributesView::commitGroup()
{
    if (!m_group->isModified())
        return;
    if (Project *project = liveProject()) {
        const QString typed = Task::groupFromText(m_group->text()).value_or(QString());
        const ExclusionGroup &current = m_task->exclusionGroup();
        if (typed.isEmpty() || startsWithSpace(typed)) {
            if (current)
                project->changeExclusionGroup(m_task, std::nullopt);
        } else if (!current || *current != typed) {
            project->changeExclusionGroup(m_task, typed);
        }
    }
    showCommitted(m_group, groupText(m_task->exclusionGroup()));
}

TaskAttributesView::~TaskAttributesView()
{
    // A field losing the focus while its parent is torn down would call into a half-destroyed view.
    m_title->disconnect(this);
    m_duration->disconnect(this);
    m_group->disconnect(this);
}
