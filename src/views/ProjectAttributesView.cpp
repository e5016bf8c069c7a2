#include "ProjectAttributesView.h"

#include "Project.h"
#include "ShownText.h"
#include "TaskAttributesView.h"

#include <QCalendarWidget>
#include <QDateTimeEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QDateTime noOrigin()
{
    return QDateTime(QDate(1000, 1, 1), QTime(0, 0), Qt::LocalTime);
}

} // namespace

ProjectAttributesView::ProjectAttributesView(Project *project, QWidget *parent)
    : QWidget(parent)
    , m_project(project)
    , m_title(new QLineEdit(this))
    , m_duration(new QLabel(this))
    , m_origin(new QDateTimeEdit(this))
    , m_today(new QPushButton(tr("Today"), this))
    , m_clear(new QPushButton(tr("Clear"), this))
{
    m_title->setObjectName(QStringLiteral("projectTitleField"));
    m_duration->setObjectName(QStringLiteral("projectDurationLabel"));
    leaveUndoKeysToTheWindow(m_title);

    auto *heading = new QLabel(tr("Project Properties"), this);
    QFont headingFont = heading->font();
    headingFont.setBold(true);
    heading->setFont(headingFont);
    // Readers go through the children in order, and the fields were made first.
    heading->lower();

    auto *titleRow = new QHBoxLayout;
    titleRow->setContentsMargins(0, 0, 0, 0);
    auto *titleLabel = new QLabel(tr("Title"), this);
    titleLabel->setBuddy(m_title);
    m_title->setAccessibleName(titleLabel->text());
    titleRow->addWidget(titleLabel);
    titleRow->addWidget(m_title, 1);

    m_origin->setObjectName(QStringLiteral("projectOriginField"));
    m_today->setObjectName(QStringLiteral("projectTodayButton"));
    // The earliest value stands for no date, shown as an empty field.
    m_origin->setMinimumDateTime(noOrigin());
    m_origin->setSpecialValueText(QStringLiteral(" "));
    m_origin->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    m_origin->setCalendarPopup(true);
    m_clear->setObjectName(QStringLiteral("projectClearDateButton"));
    m_today->setToolTip(tr("Start the project today at 08:00"));
    m_clear->setToolTip(tr("Plan without dates"));
    // Label, field and buttons one under the other: the panel is narrow.
    auto *originRow = new QVBoxLayout;
    originRow->setContentsMargins(0, 0, 0, 0);
    originRow->setSpacing(4);
    auto *originLabel = new QLabel(tr("Starts on"), this);
    originLabel->setBuddy(m_origin);
    m_origin->setAccessibleName(originLabel->text());
    auto *buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->addStretch(1);
    buttons->addWidget(m_today);
    buttons->addWidget(m_clear);
    originRow->addWidget(originLabel);
    originRow->addWidget(m_origin);
    originRow->addLayout(buttons);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(20);
    column->addWidget(heading, 0, Qt::AlignHCenter);
    column->addLayout(titleRow);
    column->addLayout(originRow);
    column->addWidget(m_duration, 0, Qt::AlignHCenter);
    column->addStretch(1);

    connect(m_title, &QLineEdit::editingFinished, this, &ProjectAttributesView::commitTitle);
    connect(m_origin, &QDateTimeEdit::editingFinished, this, &ProjectAttributesView::commitOrigin);
    // A day picked in the calendar is an edit finished.
    connect(m_origin->calendarWidget(), &QCalendarWidget::clicked, this, &ProjectAttributesView::commitOrigin,
        Qt::QueuedConnection);
    connect(m_today, &QPushButton::clicked, this, [this] {
        if (m_project)
            m_project->changeOrigin(startOfToday());
    });
    connect(m_clear, &QPushButton::clicked, this, [this] {
        if (m_project)
            m_project->changeOrigin(std::nullopt);
    });
    connect(project, &Project::nameChanged, this, &ProjectAttributesView::showValues);
    connect(project, &Project::originChanged, this, &ProjectAttributesView::showValues);
    connect(project, &Project::durationChanged, this, &ProjectAttributesView::showValues);
    showValues();
}

QDateTime ProjectAttributesView::startOfToday()
{
    return QDateTime(QDate::currentDate(), QTime(8, 0), Qt::LocalTime);
}

void ProjectAttributesView::commitOrigin()
{
    if (!m_project)
        return;
    const QDateTime shown = m_origin->dateTime();
    if (shown <= noOrigin()) {
        m_project->changeOrigin(std::nullopt);
        return;
    }
    // The field shows minutes; seconds an origin had stay unless the minute itself was changed.
    if (const std::optional<QDateTime> &origin = m_project->origin()) {
        const QDateTime minute(origin->date(), QTime(origin->time().hour(), origin->time().minute()), Qt::LocalTime);
        if (minute == shown)
            return;
    }
    m_project->changeOrigin(QDateTime(shown.date(), QTime(shown.time().hour(), shown.time().minute()), Qt::LocalTime));
}

void ProjectAttributesView::showValues()
{
    if (!m_project)
        return;
    const QDateTime shown = m_project->origin().value_or(noOrigin());
    if (m_origin->dateTime() != shown)
        m_origin->setDateTime(shown);
    m_clear->setEnabled(m_project->origin().has_value());
    if (!(m_title->hasFocus() && m_title->isModified())) {
        const QString shown = corvane::ShownText::cut(m_project->name());
        if (m_title->text() != shown)
            m_title->setText(shown);
        m_title->setModified(false);
    }
    m_duration->setText(tr("Duration: ") + MinuteText::wholeMinutes(m_project->duration()));
}

void ProjectAttributesView::commitTitle()
{
    if (!m_project || !m_title->isModified())
        return;
    const QString text = m_title->text();
    // A long title is shown cut; only an edit of that text renames the project, never the cut itself.
    if (text != corvane::ShownText::cut(m_project->name()))
        m_project->setName(text);
    m_title->setModified(false);
}

ProjectAttributesView::~ProjectAttributesView()
{
    // A field losing the focus while its parent is torn down would call into a half-destroyed view.
    m_title->disconnect(this);
    m_origin->disconnect(this);
}
