#include "PropertiesView.h"

#include "IntPublisher.h"
#include "Project.h"
#include "ProjectAttributesView.h"
#include "TaskAttributesView.h"

#include <QApplication>
#include <QVBoxLayout>

PropertiesView::PropertiesView(Project *project, IntPublisher *selection, QWidget *parent)
    : QWidget(parent)
    , m_project(project)
    , m_selection(selection)
    , m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    connect(selection, &IntPublisher::refChanged, this, &PropertiesView::follow);
    // A deleted task leaves the panel to the project; an undone deletion brings it back.
    connect(project, &Project::tasksChanged, this, &PropertiesView::follow);
    follow();
}

QSize PropertiesView::sizeHint() const
{
    return { 280, QWidget::sizeHint().height() };
}

void PropertiesView::follow()
{
    if (!m_project || !m_selection || m_following)
        return;
    const TaskPtr task = m_project->taskWithId(m_selection->ref());
    if (m_panel && task == m_shownTask)
        return;
    // Hiding the old panel takes the focus from its fields, which commits what was typed there;
    // that must not start another rebuild halfway through this one.
    m_following = true;
    if (m_panel) {
        m_layout->removeWidget(m_panel);
        m_panel->hide();
        // Hiding passes the focus on only where another widget takes it; a field left holding
        // it would be deleted with its text never handed over.
        if (QWidget *focus = QApplication::focusWidget(); focus && m_panel->isAncestorOf(focus))
            focus->clearFocus();
        m_panel->deleteLater();
    }
    m_following = false;
    // The commit above may have changed what the selection names.
    const TaskPtr shown = m_project->taskWithId(m_selection->ref());
    m_shownTask = shown;
    if (shown)
        m_panel = new TaskAttributesView(m_project, shown, this);
    else
        m_panel = new ProjectAttributesView(m_project, this);
    m_layout->addWidget(m_panel);
}
