#include "ChartPainter.h"

#include "CalendarScale.h"
#include "Project.h"
#include "Slack.h"
#include "TaskBox.h"
#include "TimeScale.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <unordered_set>

namespace {

// Ticks visited across one range of x, each a whole multiple of the step from the origin and
// none before the project's start.
template<typename Visit>
void forEachTick(const ChartGeometry &geometry, double origin, double step, double left, double right, Visit visit)
{
    if (!(step > 0.0))
        return;
    const double firstIndex
        = std::max(std::ceil(-origin / step), std::ceil((geometry.offsetForX(left) - origin) / step));
    const double lastOffset = geometry.offsetForX(right);
    // However the ticks were chosen, a frame never visits more than it can draw.
    constexpr int most = 10000;
    for (int i = 0; i < most; ++i) {
        const double offset = origin + (firstIndex + i) * step;
        if (offset > lastOffset)
            break;
        visit(offset, geometry.xForOffset(offset), i == 0);
    }
}

// A tint of ink as it looks on paper, as one opaque colour. Qt's raster engine hands translucent
// lines that cross many scanlines to its thread pool, and waiting for that cost a frame more than
// drawing it; opaque ones it fills at once.
QColor tint(const QColor &ink, const QColor &paper, float share)
{
    const auto mix = [share](float a, float b) { return a * share + b * (1.0f - share); };
    return QColor::fromRgbF(
        mix(ink.redF(), paper.redF()), mix(ink.greenF(), paper.greenF()), mix(ink.blueF(), paper.blueF()));
}

QColor gridColor(const QPalette &palette)
{
    return tint(palette.color(QPalette::Text), palette.color(QPalette::Base), 0.12f);
}

QColor dependencyColor(const QPalette &palette)
{
    return tint(palette.color(QPalette::Text), palette.color(QPalette::Base), 0.55f);
}

constexpr double scalePadding = 4.0;
constexpr double minorTickLength = 4.0;
constexpr double arrowStub = 6.0;
constexpr double arrowHead = 5.0;

} // namespace

double ChartPainter::scaleHeight(const QFont &font)
{
    return std::ceil(QFontMetricsF(font).height() + 2.0 * scalePadding + minorTickLength);
}

ChartPainter::ChartPainter(
    const Project &project, const ChartGeometry &geometry, const QPalette &palette, const QFont &font, Options options)
    : m_project(project)
    , m_geometry(geometry)
    , m_palette(palette)
    , m_font(font)
    , m_options(options)
{ }

qsizetype ChartPainter::firstRowReaching(double top)
{
    const double boxBottom = ChartGeometry::boxCentreY + ChartGeometry::boxHeight * 0.5;
    return std::max<qsizetype>(0, qsizetype(std::floor((top - boxBottom) / ChartGeometry::rowHeight)));
}

qsizetype ChartPainter::lastRowReaching(double bottom, qsizetype rowCount)
{
    return std::min<qsizetype>(rowCount - 1, qsizetype(std::floor(bottom / ChartGeometry::rowHeight)));
}

bool ChartPainter::isDragged(const Task &task) const
{
    return m_options.dragged && m_options.dragged->task().get() == &task;
}

double ChartPainter::boxCentreXOf(const Task &task) const
{
    return isDragged(task) ? m_options.dragged->dragPosition() : m_geometry.boxCentreX(task.start(), task.duration());
}

double ChartPainter::boxRightOf(const Task &task) const
{
    const double centreX = boxCentreXOf(task);
    const double half = m_geometry.isMilestone(task.duration()) ? ChartGeometry::minimumHitWidth * 0.5
                                                                : std::abs(m_geometry.boxWidth(task.duration())) * 0.5;
    return centreX + half;
}

QRectF ChartPainter::boxOf(const Task &task, qsizetype row) const
{
    const double centreX = boxCentreXOf(task);
    QRectF box = ChartGeometry::boxRect(row, centreX, m_geometry.boxWidth(task.duration())).normalized();
    if (m_geometry.isMilestone(task.duration()))
        box = ChartGeometry::milestoneRect(box);
    return box;
}

bool ChartPainter::goOn(qsizetype done, qsizetype rows) const
{
    constexpr qsizetype stride = 2048;
    return !m_options.progress || done % stride != 0 || m_options.progress(done, progressSteps(rows));
}

bool ChartPainter::paintRows(QPainter &painter, qsizetype first, qsizetype last, double left, double right) const
{
    const TaskList &tasks = m_project.tasks();
    last = std::min(last, tasks.size() - 1);
    if (m_options.grid) {
        const double top = double(first) * ChartGeometry::rowHeight;
        const double bottom = double(last + 2) * ChartGeometry::rowHeight;
        paintGrid(painter, top, bottom, left, right);
    }
    if (first > last)
        return true;
    if (m_options.dependencies && !paintDependencies(painter, first, last))
        return false;
    const qsizetype rows = last - first + 1;
    const qsizetype before = m_options.dependencies ? rows : 0;
    painter.setFont(m_font);
    for (qsizetype row = first; row <= last; ++row) {
        const bool selected = m_options.selectedId == tasks.at(row)->id();
        const bool critical = m_options.critical && m_options.critical->isCriticalRow(row);
        if (m_options.dragged && m_options.dragged->row() == row)
            m_options.dragged->paint(
                painter, m_geometry, m_palette, left, right, selected, critical, m_options.wholeLabels);
        else
            TaskBox(tasks.at(row), row)
                .paint(painter, m_geometry, m_palette, left, right, selected, critical, m_options.wholeLabels);
        if (!goOn(before + row - first + 1, rows))
            return false;
    }
    return true;
}

void ChartPainter::paintGrid(QPainter &painter, double top, double bottom, double left, double right) const
{
    if (const std::optional<CalendarScale> calendar = CalendarScale::forProject(m_project, m_geometry, m_font)) {
        paintCalendarGrid(painter, *calendar, top, bottom, left, right);
        return;
    }
    const TimeScale scale = TimeScale::measuredIn(m_geometry, m_font);
    if (!scale.isValid())
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    QPen pen(gridColor(m_palette), m_options.cosmeticLines ? 0.0 : 0.5);
    pen.setCosmetic(m_options.cosmeticLines);
    painter.setPen(pen);
    forEachTick(m_geometry, scale.origin(), scale.majorStep(), left, right,
        [&](double, double x, bool) { painter.drawLine(QPointF(x, top), QPointF(x, bottom)); });
    painter.restore();
}

void ChartPainter::paintCalendarGrid(
    QPainter &painter, const CalendarScale &calendar, double top, double bottom, double left, double right) const
{
    const double from = m_geometry.offsetForX(left);
    const double to = m_geometry.offsetForX(right);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    // Weekends only where a day is wide enough to tell from the grid's lines.
    if (m_geometry.xForOffset(24.0 * 3600.0) - m_geometry.xForOffset(0.0) >= 3.0) {
        const QColor weekend = tint(m_palette.color(QPalette::Text), m_palette.color(QPalette::Base), 0.06f);
        calendar.forEachWeekend(from, to, [&](double start, double end) {
            const double x0 = std::max(left, m_geometry.xForOffset(start));
            const double x1 = std::min(right, m_geometry.xForOffset(end));
            painter.fillRect(QRectF(x0, top, x1 - x0, bottom - top), weekend);
        });
    }
    QPen pen(gridColor(m_palette), m_options.cosmeticLines ? 0.0 : 0.5);
    pen.setCosmetic(m_options.cosmeticLines);
    painter.setPen(pen);
    calendar.forEachTick(calendar.majorStep(), from, to, [&](double offset, const QDateTime &) {
        const double x = m_geometry.xForOffset(offset);
        painter.drawLine(QPointF(x, top), QPointF(x, bottom));
    });
    painter.restore();
}

ChartPainter::Link ChartPainter::linkOf(const Task &predecessor, const Task &successor) const
{
    if (m_options.followSelection && m_options.selectedId
        && (predecessor.id() == *m_options.selectedId || successor.id() == *m_options.selectedId))
        return Link::Selected;
    if (m_options.critical && m_options.critical->isCritical(predecessor) && m_options.critical->isCritical(successor)
        && successor.start() == predecessor.end())
        return Link::Critical;
    return m_options.followSelection && m_options.selectedId ? Link::Dimmed : Link::Plain;
}

bool ChartPainter::paintDependencies(QPainter &painter, qsizetype first, qsizetype last) const
{
    // Plain or dimmed first, so that the highlighted ones lie over them where paths share pixels.
    const Link ground = m_options.followSelection && m_options.selectedId ? Link::Dimmed : Link::Plain;
    if (!paintLinks(painter, first, last, ground, true))
        return false;
    if (m_options.critical)
        paintLinks(painter, first, last, Link::Critical, false);
    if (ground == Link::Dimmed)
        paintLinks(painter, first, last, Link::Selected, false);
    return true;
}

bool ChartPainter::paintLinks(QPainter &painter, qsizetype first, qsizetype last, Link kind, bool report) const
{
    const TaskList &tasks = m_project.tasks();
    painter.save();
    QColor colour = dependencyColor(m_palette);
    if (kind == Link::Dimmed)
        colour = tint(m_palette.color(QPalette::Text), m_palette.color(QPalette::Base), 0.2f);
    else if (kind == Link::Critical)
        colour = TaskBox::criticalColor(m_palette);
    else if (kind == Link::Selected)
        colour = m_palette.color(QPalette::Highlight);
    QPen pen(colour, m_options.cosmeticLines ? 0.0 : 1.0);
    pen.setCosmetic(m_options.cosmeticLines);
    if (kind == Link::Selected || kind == Link::Critical)
        pen.setWidthF(m_options.cosmeticLines ? 2.0 : 1.5);
    painter.setPen(pen);
    const Band band { first, last, double(first) * ChartGeometry::rowHeight,
        double(last + 1) * ChartGeometry::rowHeight + ChartGeometry::overhang };
    // Each edge once: from its predecessor when that row is drawn, else from its successor. Of
    // the edges leaving the band only the part inside it is drawn, and that part is the same for
    // all of one task's successors on one side, and for its predecessors that turn at one x: a
    // task with thousands of them costs a few lines.
    std::unordered_set<qint64> turns;
    // Without a selection to follow or a critical path every arrow is plain: nothing to tell apart.
    const bool uniform = !m_options.critical && !(m_options.followSelection && m_options.selectedId);
    for (qsizetype row = first; row <= last; ++row) {
        const Task &task = *tasks.at(row);
        bool leftAbove = false;
        bool leftBelow = false;
        for (const TaskPtr &successor : task.successors()) {
            const qsizetype successorRow = m_project.rowOf(*successor);
            if (successorRow < 0 || (!uniform && linkOf(task, *successor) != kind))
                continue;
            if (successorRow < first || successorRow > last) {
                bool &drawn = successorRow < first ? leftAbove : leftBelow;
                if (drawn)
                    continue;
                drawn = true;
            }
            paintDependency(painter, task, row, *successor, successorRow, band);
        }
        turns.clear();
        // Predecessors often come in runs of the same times, and those turn at the same x.
        const Task *previous = nullptr;
        bool previousAbove = false;
        for (const TaskPtr &predecessor : task.predecessors()) {
            const qsizetype predecessorRow = m_project.rowOf(*predecessor);
            if (predecessorRow < 0 || (predecessorRow >= first && predecessorRow <= last)
                || (!uniform && linkOf(*predecessor, task) != kind))
                continue;
            const bool above = predecessorRow < first;
            const bool same = previous && above == previousAbove && predecessor->start() == previous->start()
                && predecessor->duration() == previous->duration() && !isDragged(*predecessor) && !isDragged(*previous);
            previous = predecessor.get();
            previousAbove = above;
            if (same)
                continue;
            const double turn = boxRightOf(*predecessor) + arrowStub;
            // Quarter pixels, clamped so that no x, however it came about, overflows the key; beyond
            // any screen all turns are one.
            const double clamped = std::isfinite(turn) ? std::clamp(turn, -1e15, 1e15) : 1e15;
            const qint64 key = qint64(clamped * 4.0 + (clamped < 0.0 ? -0.5 : 0.5)) * 2 + (above ? 1 : 0);
            if (turns.insert(key).second)
                paintDependency(painter, *predecessor, predecessorRow, task, row, band);
        }
        if (report && !goOn(row - first + 1, last - first + 1)) {
            painter.restore();
            return false;
        }
    }
    painter.restore();
    return true;
}

void ChartPainter::paintDependency(QPainter &painter, const Task &predecessor, qsizetype predecessorRow,
    const Task &successor, qsizetype successorRow, const Band &band) const
{
    const QRectF from = boxOf(predecessor, predecessorRow);
    const QPointF start(from.right(), from.center().y());
    const double outX = start.x() + arrowStub;
    if (!std::isfinite(outX))
        return;
    const auto edgeTowards = [&](qsizetype row) { return row < band.first ? band.top : band.bottom; };
    // A predecessor outside the band is seen coming in at its edge; a successor outside it, going out.
    QPainterPath path(start);
    if (predecessorRow < band.first || predecessorRow > band.last)
        path = QPainterPath(QPointF(outX, edgeTowards(predecessorRow)));
    else
        path.lineTo(outX, start.y());
    if (successorRow < band.first || successorRow > band.last) {
        path.lineTo(outX, edgeTowards(successorRow));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
        return;
    }
    const QRectF to = boxOf(successor, successorRow);
    const QPointF end(to.left(), to.center().y());
    if (!std::isfinite(end.x()))
        return;
    // Into the successor's start from the left; into its top or bottom where it starts too soon
    // for that but is under the turn; else round through the gap between the two rows.
    const bool below = successorRow > predecessorRow;
    QPointF tip = end;
    QPointF back(end.x() - arrowHead, end.y());
    if (end.x() - arrowHead >= outX) {
        path.lineTo(outX, end.y());
    } else if (successorRow != predecessorRow && to.left() <= outX && outX <= to.right()) {
        tip = QPointF(outX, below ? to.top() : to.bottom());
        back = QPointF(outX, tip.y() + (below ? -arrowHead : arrowHead));
    } else {
        const double between = below ? double(successorRow) * ChartGeometry::rowHeight
                                     : double(successorRow + 1) * ChartGeometry::rowHeight;
        const double inX = end.x() - arrowStub - arrowHead;
        path.lineTo(outX, between);
        path.lineTo(inX, between);
        path.lineTo(inX, end.y());
    }
    path.lineTo(back);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
    // The head: a triangle from the tip back along the last leg.
    const QPointF along = (tip - back) / arrowHead;
    const QPointF across(-along.y() * arrowHead * 0.7, along.x() * arrowHead * 0.7);
    const QPointF head[] = { tip, back + across, back - across };
    painter.setBrush(painter.pen().color());
    painter.drawConvexPolygon(head, 3);
}

void ChartPainter::paintScale(QPainter &painter, double left, double right) const
{
    const QFontMetricsF metrics(m_font);
    const double height = scaleHeight(m_font);
    painter.save();
    painter.setFont(m_font);
    painter.fillRect(QRectF(left, 0.0, right - left, height), m_palette.color(QPalette::Window));
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(tint(m_palette.color(QPalette::WindowText), m_palette.color(QPalette::Window), 0.45f), 0.0));
    painter.drawLine(QPointF(left, height - 0.5), QPointF(right, height - 0.5));
    if (const std::optional<CalendarScale> calendar = CalendarScale::forProject(m_project, m_geometry, m_font)) {
        paintCalendarScale(painter, *calendar, left, right);
        painter.restore();
        return;
    }
    const TimeScale scale = TimeScale::measuredIn(m_geometry, m_font);
    if (scale.isValid()) {
        forEachTick(m_geometry, scale.origin(), scale.minorStep(), left, right, [&](double, double x, bool) {
            painter.drawLine(QPointF(x, height - minorTickLength), QPointF(x, height));
        });
        // A label that began left of the range still shows its tick's time from the range's start;
        // on paper, where the page's edge would cut it, it is left out.
        const double labelLeft = m_options.wholeLabels
            ? left
            : left - metrics.horizontalAdvance(TimeScale::widestLabel(scale.majorStep(), m_geometry.projectDuration()))
                - scalePadding;
        painter.setPen(m_palette.color(QPalette::WindowText));
        // The first label wholly in the range names its day, so that a zoomed scale says which it is.
        bool named = false;
        forEachTick(
            m_geometry, scale.origin(), scale.majorStep(), labelLeft, right, [&](double offset, double x, bool) {
                const bool first = !named && x >= left;
                named |= first;
                paintMajorTick(painter, metrics, x, right, scale.label(offset, first));
            });
    }
    painter.restore();
}

// A labelled tick of the scale; on paper a label that would run past the range is left out.
void ChartPainter::paintMajorTick(
    QPainter &painter, const QFontMetricsF &metrics, double x, double right, const QString &label) const
{
    painter.drawLine(QPointF(x, scalePadding), QPointF(x, scaleHeight(m_font)));
    const QRectF text(x + scalePadding, scalePadding, metrics.horizontalAdvance(label) + 1.0, metrics.height());
    if (m_options.wholeLabels && text.right() > right)
        return;
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, label);
}

void ChartPainter::paintCalendarScale(QPainter &painter, const CalendarScale &calendar, double left, double right) const
{
    const QFontMetricsF metrics(m_font);
    const double height = scaleHeight(m_font);
    const double from = std::max(0.0, m_geometry.offsetForX(left));
    const double to = m_geometry.offsetForX(right);
    calendar.forEachTick(calendar.minorStep(), from, to, [&](double offset, const QDateTime &) {
        const double x = m_geometry.xForOffset(offset);
        painter.drawLine(QPointF(x, height - minorTickLength), QPointF(x, height));
    });
    const double labelLeft
        = m_options.wholeLabels ? left : left - metrics.horizontalAdvance(calendar.widestLabel()) - scalePadding;
    painter.setPen(m_palette.color(QPalette::WindowText));
    bool named = false;
    // Where the range begins between two labelled ticks, it is named too when there is room, so that
    // the plan's first day has its date.
    double firstTick = right;
    calendar.forEachTick(calendar.majorStep(), from, to,
        [&](double offset, const QDateTime &) { firstTick = std::min(firstTick, m_geometry.xForOffset(offset)); });
    const double startX = std::max(left, m_geometry.xForOffset(from));
    const QString opening = calendar.label(calendar.dateTimeAt(from), true);
    if (startX + 2.0 * scalePadding + metrics.horizontalAdvance(opening) < firstTick) {
        painter.drawText(
            QRectF(startX + scalePadding, scalePadding, metrics.horizontalAdvance(opening) + 1.0, metrics.height()),
            Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, opening);
        named = true;
    }
    calendar.forEachTick(calendar.majorStep(), std::max(0.0, m_geometry.offsetForX(labelLeft)), to,
        [&](double offset, const QDateTime &at) {
            const double x = m_geometry.xForOffset(offset);
            const bool first = !named && x >= left;
            named |= first;
            paintMajorTick(painter, metrics, x, right, calendar.label(at, first));
        });
}
