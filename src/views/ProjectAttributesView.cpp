#include "ProjectAttributesView.h"

#include "Project.h"
#include "ShownText.h"
#include "TaskAttributesView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

ProjectAttributesView::ProjectAttributesView(Project *project, QWidget *parent)
    : QWidget(parent)
    , m_project(project)
    , m_title(new QLineEdit(this))
    , m_duration(new QLabel(this))
{
    m_title->setObjectName(QStringLiteral("projectTitleField"));
    m_duration->setObjectName(QStringLiteral("projectDurationLabel"));
    leaveUndoKeysToTheWindow(m_title);

    auto *heading = new QLabel(tr("Project Properties"), this);
    QFont headingFont = heading->font();
    headingFont.setBold(true);
    heading->setFont(headingFont);

    auto *titleRow = new QHBoxLayout;
    titleRow->setContentsMargins(0, 0, 0, 0);
    auto *titleLabel = new QLabel(tr("Title"), this);
    titleLabel->setBuddy(m_title);
    m_title->setAccessibleName(titleLabel->text());
    titleRow->addWidget(titleLabel);
    titleRow->addWidget(m_title, 1);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(20);
    column->addWidget(heading, 0, Qt::AlignHCenter);
    column->addLayout(titleRow);
    column->addWidget(m_duration, 0, Qt::AlignHCenter);
    column->addStretch(1);

    connect(m_title, &QLineEdit::editingFinished, this, &ProjectAttributesView::commitTitle);
    connect(project, &Project::nameChanged, this, &ProjectAttributesView::showValues);
    connect(project, &Project::durationChanged, this, &ProjectAttributesView::showValues);
    showValues();
}

void ProjectAttributesView::showValues()
{
    if (!m_project)
        return;
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
}
