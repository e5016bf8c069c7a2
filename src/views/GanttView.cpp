#include "GanttView.h"

#include "Beep.h"
#include "CalendarScale.h"
#include "ChartPainter.h"
#include "IntPublisher.h"
#include "ShownText.h"
#include "Slack.h"
#include "TaskAttributesView.h"
#include "TimeScale.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <QWheelEvent>
#include <cmath>

// The time scale, in the view's top margin, following the chart sideways.
class TimeScaleHeader final : public QWidget {
public:
    explicit TimeScaleHeader(GanttView *chart)
        : QWidget(chart)
        , m_chart(chart)
    {
        setObjectName(QStringLiteral("timeScale"));
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        if (!m_chart->m_project)
            return;
        QPainter painter(this);
        const double shift = GanttView::rowInset - m_chart->contentLeft();
        painter.translate(shift, 0.0);
        const ChartPainter chart(
            *m_chart->m_project, m_chart->chartGeometry(), palette(), font(), ChartPainter::Options());
        // Always the whole width: which label names its day depends on what is in sight.
        Q_UNUSED(event);
        chart.paintScale(painter, -shift, width() - shift);
    }

private:
    GanttView *m_chart;
};

GanttView::GanttView(Project *project, IntPublisher *selection, QWidget *parent)
    : QAbstractScrollArea(parent)
    , m_project(project)
    , m_selection(selection)
    , m_scale(new TimeScaleHeader(this))
{
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setViewportMargins(0, int(ChartPainter::scaleHeight(font())), 0, 0);
    viewport()->setMouseTracking(true);
    verticalScrollBar()->setSingleStep(int(ChartGeometry::rowHeight));
    setToolTip(tr("Drag a box to move its task.\n"
                  "Shift: pass the other tasks of its exclusion group.\n"
                  "Ctrl or Alt: start it before the project's start.\n"
                  "Ctrl+wheel: zoom."));

    const auto repaint = [this] {
        viewport()->update();
        m_scale->update();
    };
    connect(project, &Project::tasksChanged, this, &GanttView::tasksChanged);
    connect(project, &Project::startChanged, this, repaint);
    connect(project, &Project::originChanged, this, repaint);
    connect(project, &Project::durationChanged, this, [this, repaint] {
        // A longer or shorter span changes how far a zoomed chart reaches.
        updateScrollRanges();
        repaint();
    });
    if (selection)
        connect(selection, &IntPublisher::refChanged, this, &GanttView::selectionChanged);
    updateScrollRanges();
}

GanttView::~GanttView() = default;

QWidget *GanttView::timeScale() const
{
    return m_scale;
}

double GanttView::totalWidth() const
{
    return ChartGeometry::totalWidthFor(viewport()->width()) * m_zoom;
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

double GanttView::contentLeft() const
{
    return horizontalScrollBar()->value();
}

QRectF GanttView::boxRect(qsizetype row) const
{
    if (!m_project || row < 0 || row >= m_project->tasks().size())
        return {};
    const ChartGeometry geometry = chartGeometry();
    const QRectF rect = m_box && m_box->row() == row ? m_box->rect(geometry)
                                                     : TaskBox(m_project->tasks().at(row), row).rect(geometry);
    return rect.translated(rowInset - contentLeft(), -contentTop());
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

qsizetype GanttView::selectedRow() const
{
    if (!m_project || !m_selection)
        return -1;
    const TaskPtr task = m_project->taskWithId(m_selection->ref());
    return task ? m_project->rowOf(*task) : -1;
}

void GanttView::paintEvent(QPaintEvent *event)
{
    if (!m_project)
        return;
    const TaskList &tasks = m_project->tasks();
    const double top = contentTop();
    const double left = contentLeft();
    observeRows(
        ChartPainter::firstRowReaching(top), ChartPainter::lastRowReaching(top + viewport()->height(), tasks.size()));

    const QRect dirty = event->rect();
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(rowInset - left, -top);
    ChartPainter::Options options;
    options.dependencies = m_showDependencies;
    options.selectedId = m_selection ? m_selection->ref() : std::nullopt;
    options.dragged = isDragging() ? &*m_box : nullptr;
    options.followSelection = true;
    if (m_highlightCritical)
        options.critical = SlackTracker::of(m_project);
    const ChartPainter chart(*m_project, chartGeometry(), palette(), font(), options);
    // Labels beside boxes keep within the viewport, not the dirty part of it.
    chart.paintRows(painter, ChartPainter::firstRowReaching(top + dirty.top()),
        ChartPainter::lastRowReaching(top + dirty.bottom() + 1, tasks.size()), left - rowInset,
        left + viewport()->width() - rowInset);
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
        m_rowConnections.append(connect(task, &Task::successorsChanged, this, repaint));
        m_rowConnections.append(connect(task, &Task::predecessorsChanged, this, repaint));
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
        const qsizetype row = m_project->rowOf(*m_box->task());
        if (row >= 0) {
            m_box->setRow(row);
        } else {
            if (m_box->isDragging())
                viewport()->setCursor(Qt::ArrowCursor);
            m_box.reset();
            m_hovering = false;
        }
    }
    updateScrollRanges();
    viewport()->update();
}

double GanttView::maximumZoom() const
{
    const double fitWidth = ChartGeometry::totalWidthFor(viewport()->width());
    if (!m_project || !(fitWidth > 0.0) || !(m_project->duration() > 0.0) || !std::isfinite(m_project->duration()))
        return 1.0;
    const double fitMinute = fitWidth / m_project->duration() * TimeScale::minute;
    // The scroll bar counts in int; a chart wider than a billion points could not be scrolled.
    constexpr double widestChart = 1 << 30;
    return std::max(1.0, std::min(widestMinute / fitMinute, widestChart / fitWidth));
}

void GanttView::setZoom(double zoom, double anchorX)
{
    zoom = std::isfinite(zoom) ? std::clamp(zoom, 1.0, maximumZoom()) : 1.0;
    // Steps in and out again come back to fit, whatever the rounding of their products.
    if (zoom < 1.0 + 1e-9)
        zoom = 1.0;
    if (zoom == m_zoom)
        return;
    const double before = totalWidth();
    const double anchored = contentLeft() + anchorX - rowInset;
    const double fraction = before > 0.0 ? anchored / before : 0.0;
    m_zoom = zoom;
    updateScrollRanges();
    horizontalScrollBar()->setValue(int(std::lround(fraction * totalWidth() - anchorX + rowInset)));
    viewport()->update();
    m_scale->update();
    Q_EMIT zoomChanged(m_zoom);
}

void GanttView::zoomIn()
{
    setZoom(m_zoom * zoomStep, viewport()->width() * 0.5);
}

void GanttView::zoomOut()
{
    setZoom(m_zoom / zoomStep, viewport()->width() * 0.5);
}

void GanttView::fitWholeProject()
{
    setZoom(1.0, 0.0);
}

void GanttView::setShowDependencies(bool show)
{
    if (show == m_showDependencies)
        return;
    m_showDependencies = show;
    viewport()->update();
    Q_EMIT showDependenciesChanged(show);
}

void GanttView::updateScrollRanges()
{
    const qsizetype rows = m_project ? m_project->tasks().size() : 0;
    // Room below the last row for the part of its box that reaches into the next.
    const double height = rows > 0 ? double(rows) * ChartGeometry::rowHeight + ChartGeometry::overhang : 0.0;
    const int viewportHeight = viewport()->height();
    verticalScrollBar()->setPageStep(viewportHeight);
    verticalScrollBar()->setRange(0, std::max(0, int(std::ceil(height)) - viewportHeight));

    // At fit the whole span and its margin are the viewport's width exactly: nothing to scroll.
    const int viewportWidth = viewport()->width();
    const double zoom = m_zoom;
    m_zoom = std::min(m_zoom, maximumZoom());
    const double width = m_zoom > 1.0 ? totalWidth() + ChartGeometry::margin : 0.0;
    horizontalScrollBar()->setPageStep(viewportWidth);
    horizontalScrollBar()->setSingleStep(20);
    horizontalScrollBar()->setRange(0, std::max(0, int(std::ceil(width)) - viewportWidth));
    m_laidOutWidth = totalWidth();
    // A shorter plan or a wider window can bring the chart back to fit by itself.
    if (m_zoom != zoom)
        Q_EMIT zoomChanged(m_zoom);
}

void GanttView::resizeEvent(QResizeEvent *event)
{
    // Zoomed in, the time at the left edge stays there while the chart grows or shrinks.
    const double fraction = m_laidOutWidth > 0.0 ? contentLeft() / m_laidOutWidth : 0.0;
    QAbstractScrollArea::resizeEvent(event);
    m_scale->setGeometry(viewport()->x(), 0, viewport()->width(), viewport()->y());
    updateScrollRanges();
    horizontalScrollBar()->setValue(int(std::lround(fraction * totalWidth())));
    Q_EMIT rowAreaChanged();
}

void GanttView::scrollContentsBy(int dx, int)
{
    viewport()->update();
    if (dx != 0)
        m_scale->update();
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

double GanttView::minorStep() const
{
    const TimeScale scale = TimeScale::measuredIn(chartGeometry(), font());
    return scale.isValid() ? scale.minorStep() : TimeScale::minute;
}

bool GanttView::stepSelectedTask(int direction, Qt::KeyboardModifiers modifiers)
{
    const qsizetype row = selectedRow();
    if (row < 0)
        return false;
    const TaskPtr task = m_project->tasks().at(row);
    const double step = minorStep();
    const DragMode mode = dragModeFor(modifiers);
    // The limits are offsets from the project start, as the box's own start and end are here.
    const double start = task->start() - m_project->start();
    double delta = step * direction;
    const double lowest = m_project->minimumStartOffset(*task, mode);
    if (start + delta < lowest)
        delta = std::min(0.0, lowest - start);
    if (const std::optional<double> highest = m_project->maximumEndOffset(*task, mode)) {
        const double end = start + task->duration();
        if (end + delta > *highest)
            delta = std::max(0.0, *highest - end);
    }
    if (delta != 0.0 && std::isfinite(delta) && !m_project->moveTask(task, delta))
        beep();
    scrollToRow(row);
    return true;
}

void GanttView::selectRow(qsizetype row)
{
    if (!m_project || !m_selection || m_project->tasks().isEmpty())
        return;
    row = std::clamp<qsizetype>(row, 0, m_project->tasks().size() - 1);
    m_selection->setRef(m_project->tasks().at(row)->id());
    scrollToRow(row);
}

void GanttView::selectionChanged()
{
    if (const qsizetype row = selectedRow(); row >= 0)
        scrollToRow(row);
    viewport()->update();
}

void GanttView::scrollToRow(qsizetype row)
{
    const QRectF box = ChartGeometry::hitRect(boxRect(row));
    if (box.isEmpty())
        return;
    const QRectF visible = viewport()->rect();
    QScrollBar *vertical = verticalScrollBar();
    if (box.top() < visible.top())
        vertical->setValue(vertical->value() + int(std::floor(box.top() - visible.top())));
    else if (box.bottom() > visible.bottom())
        vertical->setValue(vertical->value() + int(std::ceil(box.bottom() - visible.bottom())));
    // Sideways only when the box is wholly out of sight, and then to the middle: a box wider
    // than the view is left where it is as long as some of it shows.
    if (box.right() < visible.left() || box.left() > visible.right()) {
        QScrollBar *horizontal = horizontalScrollBar();
        horizontal->setValue(horizontal->value() + int(std::lround(box.center().x() - visible.center().x())));
    }
}

void GanttView::keyPressEvent(QKeyEvent *event)
{
    const qsizetype rows = m_project ? m_project->tasks().size() : 0;
    const qsizetype row = selectedRow();
    switch (event->key()) {
    case Qt::Key_Up:
        selectRow(row < 0 ? rows - 1 : row - 1);
        break;
    case Qt::Key_Down:
        selectRow(row < 0 ? 0 : row + 1);
        break;
    case Qt::Key_Home:
        selectRow(0);
        break;
    case Qt::Key_End:
        selectRow(rows - 1);
        break;
    case Qt::Key_Left:
    case Qt::Key_Right:
        stepSelectedTask(event->key() == Qt::Key_Left ? -1 : 1, event->modifiers());
        break;
    default:
        return QAbstractScrollArea::keyPressEvent(event);
    }
    event->accept();
}

void GanttView::wheelEvent(QWheelEvent *event)
{
    if (event->modifiers().testFlag(Qt::ShiftModifier) && event->angleDelta().x() == 0) {
        // A wheel that only turns one way scrolls sideways with Shift, as in most editors.
        QScrollBar *sideways = horizontalScrollBar();
        sideways->setValue(sideways->value() - event->angleDelta().y() * sideways->singleStep() * 3 / 120);
        return event->accept();
    }
    if (!event->modifiers().testFlag(Qt::ControlModifier))
        return QAbstractScrollArea::wheelEvent(event);
    event->accept();
    const double notches = event->angleDelta().y() / 120.0;
    if (notches != 0.0)
        setZoom(m_zoom * std::pow(zoomStep, notches), event->position().x());
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
    m_pressPosition = event->position();
    if (const auto row = rowAt(event->position()))
        m_box.emplace(m_project->tasks().at(*row), *row);
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
    // Past a successor's start a drag stops, by design; say why, and what pushes a chain.
    const bool held = translation < event->position().x() - m_pressPosition.x() - 0.5;
    const Task *successor = held ? holdingSuccessor(*m_box->task()) : nullptr;
    if (successor) {
        QToolTip::showText(event->globalPosition().toPoint(),
            tr("Held by \u201c%1\u201d, which depends on this task: a drag stops at its successors.\n"
               "To push them later as well, use Move Right (Ctrl+Right) or a longer duration.")
                .arg(corvane::ShownText::cut(successor->name())),
            viewport());
        m_heldTip = true;
    } else if (m_heldTip) {
        QToolTip::hideText();
        m_heldTip = false;
    }
}

const Task *GanttView::holdingSuccessor(const Task &task) const
{
    const std::optional<double> limit = m_project->maximumEndOffset(task, m_dragMode);
    if (!limit)
        return nullptr;
    const Task *earliest = nullptr;
    for (const TaskPtr &successor : task.successors()) {
        if (!earliest || successor->start() < earliest->start())
            earliest = successor.get();
    }
    // The limit is the successor's start only when nothing nearer holds the task first.
    const double offset = earliest ? earliest->start() - m_project->start() : 0.0;
    if (!earliest || std::abs(offset - *limit) > 1e-9 * std::max(1.0, std::abs(offset)))
        return nullptr;
    return earliest;
}

void GanttView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && !m_box && m_project && m_selection) {
        // A click beside every box lets the selection go, as in the names list.
        const QPointF travel = event->position() - m_pressPosition;
        if (std::hypot(travel.x(), travel.y()) < ChartGeometry::dragThreshold)
            m_selection->setRef(std::nullopt);
        return event->accept();
    }
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
    if (m_heldTip) {
        QToolTip::hideText();
        m_heldTip = false;
    }
    const double delta = chartGeometry().timeDelta(translationFor(event->position()));
    // The drag is over before the model changes, so that the repaint it causes draws the box
    // where the model puts it.
    m_box.reset();
    m_hovering = true;
    viewport()->setCursor(Qt::OpenHandCursor);
    viewport()->update();
    if (!m_project->moveTask(box.task(), delta))
        beep();
}

void GanttView::setHighlightCritical(bool highlight)
{
    if (highlight == m_highlightCritical || !m_project)
        return;
    m_highlightCritical = highlight;
    SlackTracker *tracker = SlackTracker::of(m_project);
    disconnect(tracker, &SlackTracker::changed, viewport(), nullptr);
    if (highlight)
        connect(tracker, &SlackTracker::changed, viewport(), qOverload<>(&QWidget::update));
    viewport()->update();
    Q_EMIT highlightCriticalChanged(highlight);
}

QString GanttView::taskSummary(const Project &project, const Task &task)
{
    QStringList lines { corvane::ShownText::cut(task.name()) };
    const std::optional<QDateTime> starts = project.dateTimeAt(task.start());
    const std::optional<QDateTime> ends = project.dateTimeAt(task.end());
    if (starts && ends) {
        lines << tr("Starts: ") + CalendarText::dateTime(*starts) << tr("Ends: ") + CalendarText::dateTime(*ends);
    } else {
        lines << tr("Starts %1 min after the project's start")
                     .arg(MinuteText::wholeMinutes(task.start() - project.start()));
    }
    lines << tr("Duration: %1 min").arg(MinuteText::wholeMinutes(task.duration()));
    if (Project *owner = task.project()) {
        const double slack = SlackTracker::of(owner)->slackOf(task);
        lines << tr("Slack: ")
                + (project.origin() ? CalendarText::daysAndHours(slack) : MinuteText::wholeMinutes(slack));
    }
    return lines.join(u'\n');
}

bool GanttView::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::ToolTip && m_project) {
        const auto *help = static_cast<QHelpEvent *>(event);
        if (const std::optional<qsizetype> row = rowAt(help->pos())) {
            // The task first, then how to move it.
            QToolTip::showText(help->globalPos(),
                taskSummary(*m_project, *m_project->tasks().at(*row)) + QStringLiteral("\n\n") + toolTip(), viewport(),
                boxRect(*row).toAlignedRect());
            return true;
        }
    }
    if (event->type() == QEvent::Leave && !isDragging() && m_hovering) {
        m_hovering = false;
        viewport()->setCursor(Qt::ArrowCursor);
    }
    return QAbstractScrollArea::viewportEvent(event);
}
