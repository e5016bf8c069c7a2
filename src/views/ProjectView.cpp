#include "ProjectView.h"

#include "ChartAccessibility.h"
#include "ChartGeometry.h"
#include "FindBar.h"
#include "GanttView.h"
#include "Project.h"
#include "ProjectAttributesView.h"
#include "PropertiesView.h"
#include "TaskAttributesView.h"
#include "TaskListView.h"
#include "TaskNamesView.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QScrollBar>
#include <QSplitter>
#include <QVBoxLayout>

namespace {

constexpr int panelMinimumWidth = 205;
constexpr int panelMaximumWidth = 300;
constexpr int namesIdealWidth = 100;
constexpr int namesMaximumWidth = 200;

template<typename T> T *enclosing(QWidget *widget)
{
    for (; widget; widget = widget->parentWidget()) {
        if (auto *found = qobject_cast<T *>(widget))
            return found;
    }
    return nullptr;
}

// Tab runs down the panel's fields as they stand, then to the names and the chart. A new panel's
// fields join the window's focus chain at its end, so the order is laid again for every panel.
void orderFocus(const PropertiesView *properties, QWidget *names, QWidget *chart)
{
    QList<QWidget *> chain;
    if (const auto *task = qobject_cast<const TaskAttributesView *>(properties->panel()))
        chain = { task->titleField(), task->durationField(), task->groupField(), task->predecessorsView()->listView(),
            task->successorsView()->listView() };
    else if (const auto *project = qobject_cast<const ProjectAttributesView *>(properties->panel()))
        chain = { project->titleField() };
    chain << names << chart;
    for (qsizetype i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain.at(i - 1), chain.at(i));
}

} // namespace

ProjectView::ProjectView(Project *project, QWidget *parent)
    : QWidget(parent)
    , m_project(project)
    , m_properties(new PropertiesView(project, &m_selection, this))
    , m_splitter(new QSplitter(Qt::Horizontal, this))
    , m_findBar(new FindBar(project, &m_selection, this))
    , m_names(new TaskNamesView(project, &m_selection, m_splitter))
    , m_chart(new GanttView(project, &m_selection, m_splitter))
{
    attachChartAccessibility(m_chart, &m_selection);
    m_properties->setMinimumWidth(panelMinimumWidth);
    m_properties->setMaximumWidth(panelMaximumWidth);
    // Wider than ideal it never grows; in a narrow window it gives way as much as the split
    // area does, so that the chart is not the only one squeezed.
    m_properties->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    m_names->setMaximumWidth(namesMaximumWidth);
    m_splitter->addWidget(m_names);
    m_splitter->addWidget(m_chart);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setSizes({ namesIdealWidth, 400 });

    // One vertical position for names and boxes, however either is scrolled: wheel, keys, the
    // bar, or a selection scrolled into view.
    QScrollBar *chartBar = m_chart->verticalScrollBar();
    QScrollBar *namesBar = m_names->verticalScrollBar();
    connect(chartBar, &QScrollBar::valueChanged, namesBar, &QScrollBar::setValue);
    connect(namesBar, &QScrollBar::valueChanged, chartBar, &QScrollBar::setValue);
    connect(namesBar, &QScrollBar::rangeChanged, this, [namesBar, chartBar] { namesBar->setValue(chartBar->value()); });
    connect(m_chart, &GanttView::rowAreaChanged, this, &ProjectView::alignRows);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_properties);
    // Over both, so that the names stay level with the chart's rows while it is open.
    auto *rows = new QVBoxLayout;
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    rows->addWidget(m_findBar);
    rows->addWidget(m_splitter, 1);
    layout->addLayout(rows);

    // The panel rebuilds itself on these before this view hears of them.
    const auto focusOrder = [this] { orderFocus(m_properties, m_names, m_chart); };
    connect(&m_selection, &IntPublisher::refChanged, this, focusOrder);
    connect(project, &Project::tasksChanged, this, focusOrder);
    focusOrder();

    // The keyboard starts where the window's commands apply, not in the first field of the
    // panel, which would take Ctrl+Z and Ctrl+Right for its own text.
    m_names->setFocus(Qt::OtherFocusReason);
}

void ProjectView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    alignRows();
}

void ProjectView::alignRows()
{
    const QWidget *chartRows = m_chart->viewport();
    const int chartTop = chartRows->mapTo(m_splitter, QPoint(0, 0)).y();
    const int chartBottom = chartTop + chartRows->height();
    const int namesTop = m_names->mapTo(m_splitter, QPoint(0, 0)).y() + m_names->frameWidth();
    const int namesBottom = namesTop + m_names->height() - 2 * m_names->frameWidth();
    m_names->setRowAreaMargins(std::max(0, chartTop - namesTop),
        std::max(0, namesBottom - chartBottom + int(std::ceil(ChartGeometry::overhang))));
}

QWidget *ProjectView::titleField() const
{
    if (auto *task = qobject_cast<TaskAttributesView *>(m_properties->panel()))
        return task->titleField();
    if (auto *project = qobject_cast<ProjectAttributesView *>(m_properties->panel()))
        return project->titleField();
    return nullptr;
}

void ProjectView::keyPressEvent(QKeyEvent *event)
{
    // Keys the names list and the chart leave to the window, and Escape that no field took.
    QWidget *focus = QApplication::focusWidget();
    const bool inRows = focus && (focus == m_names || focus == m_chart || m_splitter->isAncestorOf(focus));
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (inRows) {
            m_chart->stepSelectedTask(event->key() == Qt::Key_Left ? -1 : 1, event->modifiers());
            return event->accept();
        }
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (QWidget *field = titleField(); inRows && field) {
            m_returnFocus = focus;
            field->setFocus(Qt::TabFocusReason);
            return event->accept();
        }
        break;
    case Qt::Key_Escape:
        if (focus && m_properties->isAncestorOf(focus)) {
            QWidget *back = m_returnFocus ? m_returnFocus.data() : m_names;
            back->setFocus(Qt::OtherFocusReason);
            return event->accept();
        }
        // The way back to the project's panel.
        if (inRows && m_selection.ref()) {
            m_selection.setRef(std::nullopt);
            return event->accept();
        }
        break;
    default:
        break;
    }
    QWidget::keyPressEvent(event);
}

void ProjectView::showFindBar()
{
    m_findBar->open();
}

void ProjectView::setHighlightCritical(bool highlight)
{
    m_chart->setHighlightCritical(highlight);
    m_names->setHighlightCritical(highlight);
}

bool ProjectView::highlightsCritical() const
{
    return m_chart->highlightsCritical();
}

void ProjectView::deleteSelectedTask()
{
    if (const TaskPtr task = m_project->taskWithId(m_selection.ref()))
        m_project->deleteTask(task);
    m_selection.setRef(std::nullopt);
}

bool ProjectView::deleteCommand()
{
    QWidget *focus = QApplication::focusWidget();
    if (!focus || !isAncestorOf(focus))
        return false;
    if (auto *list = enclosing<TaskListView>(focus)) {
        list->deleteSelectedDependency();
        return true;
    }
    if (m_splitter->isAncestorOf(focus)) {
        deleteSelectedTask();
        return true;
    }
    return false;
}
