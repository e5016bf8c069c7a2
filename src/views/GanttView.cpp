#include "GanttView.h"

#include "IntPublisher.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <cmath>

GanttView::GanttView(Project *project, IntPublisher *selection, QWidget *parent)
    : QAbstractScrollArea(parent)
    , m_project(project)
    , m_selection(selection)
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setMouseTracking(true);
    verticalScrollBar()->setSingleStep(int(ChartGeometry::rowHeight));
    setToolTip(tr("Drag a box to move its task.\n"
                  "Shift: pass the other tasks of its exclusion group.\n"
                  "Ctrl or Alt: start it before the project's start."));

    const auto repaint = [this] { viewport()->update(); };
    connect(project, &Project::tasksChanged, this, &GanttView::tasksChanged);
    connect(project, &Project::startChanged, this, repaint);
    connect(project, &Project::durationChanged, this, repaint);
    updateScrollRange();
}

GanttView::~GanttView() = default;

double GanttView::totalWidth() const
{
    return ChartGeometry::totalWidthFor(viewport()->width());
}

ChartGeometry GanttView::chartGeometry() const
{
    if (!m_project)
        return { 0.0, 0.0, totalWidth() };
    return { m_project->start(), m_project->duration(), totalWidth() };
}

double GanttView::contentTop() const
{
    return verticalScrollBar()->value();
}

QRectF GanttView::boxRect(qsizetype row) const
{
    if (!m_project || row < 0 || row >= m_project->tasks().size())
        return {};
    const ChartGeometry geometry = chartGeometry();
    const QRectF rect = m_box && m_box->row() == row ? m_box->rect(geometry)
                                                     : TaskBox(m_project->tasks().at(row), row).rect(geometry);
    return rect.translated(rowInset, -contentTop());
}

std::optional<qsizetype> GanttView::rowAt(QPointF position) const
{
    if (!m_project)
        return std::nullopt;
    // A box reaches into the row below and is drawn over by that row's box, so the lower of the
    // two rows a point can belong to is asked first. A box that is drawn there wins over the
    // widened hit area of a thin one.
    const double y = position.y() + contentTop();
    const auto lower = qsizetype(
        std::floor((y - (ChartGeometry::boxCentreY - ChartGeometry::boxHeight * 0.5)) / ChartGeometry::rowHeight));
    for (const bool widened : { false, true }) {
        for (qsizetype row = lower; row >= lower - 1; --row) {
            if (row < 0 || row >= m_project->tasks().size())
                continue;
            const QRectF box = boxRect(row);
            if ((widened ? ChartGeometry::hitRect(box) : box.normalized()).contains(position))
                return row;
        }
    }
    return std::nullopt;
}

QSize GanttView::sizeHint() const
{
    return { 400, 300 };
}

void GanttView::paintEvent(QPaintEvent *event)
{
    if (!m_project)
        return;
    const TaskList &tasks = m_project->tasks();
    const double top = contentTop();
    const auto firstRowReaching = [&](double y) {
        const double boxBottom = ChartGeometry::boxCentreY + ChartGeometry::boxHeight * 0.5;
        return std::max<qsizetype>(0, qsizetype(std::floor((y - boxBottom) / ChartGeometry::rowHeight)));
    };
    const auto lastRowReaching = [&](double y) {
        return std::min<qsizetype>(tasks.size() - 1, qsizetype(std::floor(y / ChartGeometry::rowHeight)));
    };
    observeRows(firstRowReaching(top), lastRowReaching(top + viewport()->height()));

    const QRect dirty = event->rect();
    const qsizetype first = firstRowReaching(top + dirty.top());
    const qsizetype last = lastRowReaching(top + dirty.bottom() + 1);

    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setFont(font());
    painter.translate(rowInset, -top);
    const ChartGeometry geometry = chartGeometry();
    const QPalette &colours = palette();
    const double left = -rowInset;
    const double right = viewport()->width() - rowInset;
    for (qsizetype row = first; row <= last; ++row) {
        if (m_box && m_box->row() == row)
            m_box->paint(painter, geometry, colours, left, right);
        else
            TaskBox(tasks.at(row), row).paint(painter, geometry, colours, left, right);
    }
}

void GanttView::observeRows(qsizetype first, qsizetype last)
{
    if (!m_observedStale && first == m_observedFirst && last == m_observedLast)
        return;
    stopObservingRows();
    m_observedFirst = first;
    m_observedLast = last;
    m_observedStale = false;
    const TaskList &tasks = m_project->tasks();
    m_rowConnections.reserve(4 * std::max<qsizetype>(0, last - first + 1));
    const auto repaint = [this] { viewport()->update(); };
    for (qsizetype row = first; row <= last; ++row) {
        const Task *task = tasks.at(row).get();
        m_rowConnections.append(connect(task, &Task::startChanged, this, repaint));
        m_rowConnections.append(connect(task, &Task::durationChanged, this, repaint));
        m_rowConnections.append(connect(task, &Task::endChanged, this, repaint));
        m_rowConnections.append(connect(task, &Task::exclusionGroupChanged, this, repaint));
    }
}

void GanttView::stopObservingRows()
{
    for (const QMetaObject::Connection &connection : std::as_const(m_rowConnections))
        disconnect(connection);
    m_rowConnections.clear();
    m_observedStale = true;
}

void GanttView::tasksChanged()
{
    // The rows now show other tasks; the next paint listens to the right ones.
    stopObservingRows();
    if (m_box) {
        const qsizetype row = m_project->tasks().indexOf(m_box->task());
        if (row >= 0) {
            m_box->setRow(row);
        } else {
            if (m_box->isDragging())
                viewport()->setCursor(Qt::ArrowCursor);
            m_box.reset();
            m_hovering = false;
        }
    }
    updateScrollRange();
    viewport()->update();
}

void GanttView::updateScrollRange()
{
    const qsizetype rows = m_project ? m_project->tasks().size() : 0;
    // Room below the last row for the part of its box that reaches into the next.
    const double overhang = ChartGeometry::boxCentreY + ChartGeometry::boxHeight * 0.5 - ChartGeometry::rowHeight;
    const double height = rows > 0 ? double(rows) * ChartGeometry::rowHeight + overhang : 0.0;
    const int viewportHeight = viewport()->height();
    verticalScrollBar()->setPageStep(viewportHeight);
    verticalScrollBar()->setRange(0, std::max(0, int(std::ceil(height)) - viewportHeight));
}

void GanttView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRange();
}

void GanttView::scrollContentsBy(int, int)
{
    viewport()->update();
}

DragMode GanttView::dragModeFor(Qt::KeyboardModifiers modifiers)
{
    DragMode mode = LimitToProjectStart | LimitByExclusionGroup;
    if (modifiers.testFlag(Qt::ShiftModifier))
        mode.setFlag(LimitByExclusionGroup, false);
    if (modifiers & (Qt::AltModifier | Qt::ControlModifier))
        mode.setFlag(LimitToProjectStart, false);
    return mode;
}

double GanttView::translationFor(QPointF position) const
{
    const ChartGeometry geometry = chartGeometry();
    const Task &task = *m_box->task();
    return geometry.clampedTranslation(position.x() - m_pressPosition.x(), m_box->restingCentreX(geometry),
        m_box->width(geometry), m_project->minimumStartOffset(task, m_dragMode),
        m_project->maximumEndOffset(task, m_dragMode));
}

void GanttView::hover(QPointF position)
{
    const bool over = rowAt(position).has_value();
    if (over == m_hovering)
        return;
    m_hovering = over;
    viewport()->setCursor(over ? Qt::OpenHandCursor : Qt::ArrowCursor);
}

void GanttView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_project)
        return QAbstractScrollArea::mousePressEvent(event);
    m_box.reset();
    if (const auto row = rowAt(event->position())) {
        m_box.emplace(m_project->tasks().at(*row), *row);
        m_pressPosition = event->position();
    }
    event->accept();
}

void GanttView::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
    if (!isDragging())
        hover(event->position());
    if (!m_box || !event->buttons().testFlag(Qt::LeftButton) || !m_project)
        return;
    if (!m_box->isDragging()) {
        const QPointF travel = event->position() - m_pressPosition;
        if (std::hypot(travel.x(), travel.y()) < ChartGeometry::dragThreshold || m_project->tasks().size() < 2)
            return;
        m_dragMode = dragModeFor(event->modifiers());
    }
    const ChartGeometry geometry = chartGeometry();
    const double translation = translationFor(event->position());
    m_box->dragTo(m_box->restingCentreX(geometry) + translation);
    viewport()->setCursor(Qt::ClosedHandCursor);
    viewport()->update();
}

void GanttView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_box || !m_project)
        return QAbstractScrollArea::mouseReleaseEvent(event);
    event->accept();
    const TaskBox box = *m_box;
    if (!box.isDragging()) {
        m_box.reset();
        const QPointF travel = event->position() - m_pressPosition;
        if (std::hypot(travel.x(), travel.y()) < ChartGeometry::dragThreshold && m_selection)
            m_selection->setRef(box.task()->id());
        return;
    }
    const double delta = chartGeometry().timeDelta(translationFor(event->position()));
    // The drag is over before the model changes, so that the repaint it causes draws the box
    // where the model puts it.
    m_box.reset();
    m_hovering = true;
    viewport()->setCursor(Qt::OpenHandCursor);
    viewport()->update();
    m_project->moveTask(box.task(), delta);
}

bool GanttView::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::Leave && !isDragging() && m_hovering) {
        m_hovering = false;
        viewport()->setCursor(Qt::ArrowCursor);
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void GanttView::zoomIn()
{
}

void GanttView::zoomOut()
{
}

void GanttView::fitWholeProject()
{
}

void GanttView::setShowDependencies(bool show)
{
    if (show == m_showDependencies)
        return;
    m_showDependencies = show;
    viewport()->update();
    Q_EMIT showDependenciesChanged(show);
}
