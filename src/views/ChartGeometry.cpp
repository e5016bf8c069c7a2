#include "ChartGeometry.h"

#include <algorithm>
#include <cmath>

ChartGeometry::ChartGeometry(double projectStart, double projectDuration, double totalWidth)
    : m_start(projectStart)
    , m_duration(projectDuration)
    , m_width(totalWidth)
    , m_scalable(
          projectDuration > 0.0 && std::isfinite(projectDuration) && totalWidth > 0.0 && std::isfinite(totalWidth))
{ }

double ChartGeometry::totalWidthFor(double chartWidth)
{
    return std::max(0.0, chartWidth - margin);
}

bool ChartGeometry::isMilestone(double taskDuration) const
{
    return taskDuration == 0.0 && m_duration > 0.0 && std::isfinite(m_duration);
}

double ChartGeometry::boxWidth(double taskDuration) const
{
    if (!(m_duration > 0.0) || !std::isfinite(m_duration))
        return 1.0;
    return taskDuration / m_duration * m_width;
}

double ChartGeometry::boxCentreX(double taskStart, double taskDuration) const
{
    const double width = boxWidth(taskDuration);
    // Without a span every task sits at the project's start.
    if (!(m_duration > 0.0) || !std::isfinite(m_duration))
        return width * 0.5;
    return (taskStart - m_start) / m_duration * m_width + width * 0.5;
}

QRectF ChartGeometry::boxRect(qsizetype row, double centreX, double width)
{
    const double top = double(row) * rowHeight + boxCentreY - boxHeight * 0.5;
    return { centreX - width * 0.5, top, width, boxHeight };
}

QRectF ChartGeometry::hitRect(const QRectF &box)
{
    // Negative durations give boxes of negative width.
    const QRectF normal = box.normalized();
    if (normal.width() >= minimumHitWidth)
        return normal;
    const double grow = (minimumHitWidth - normal.width()) * 0.5;
    return normal.adjusted(-grow, 0.0, grow, 0.0);
}

QRectF ChartGeometry::milestoneRect(const QRectF &box)
{
    const QPointF centre = box.center();
    const double half = minimumHitWidth * 0.5;
    return { centre.x() - half, centre.y() - half, minimumHitWidth, minimumHitWidth };
}

std::optional<ChartGeometry::Labels> ChartGeometry::labelsInside(const QRectF &box, QSizeF group, QSizeF duration)
{
    const QRectF normal = box.normalized();
    const auto centredAt = [](QPointF point, QSizeF size) {
        return QRectF(point.x() - size.width() * 0.5, point.y() - size.height() * 0.5, size.width(), size.height());
    };
    Labels labels { {}, centredAt(normal.center(), duration) };
    const double left = normal.left() + borderWidth + labelGap;
    const double right = normal.right() - borderWidth - labelGap;
    if (labels.duration.left() < left || labels.duration.right() > right)
        return std::nullopt;
    if (!group.isEmpty()) {
        labels.group = centredAt(normal.topLeft() + QPointF(labelInset, boxHeight - labelInset), group);
        // The letter sits lower than the duration and overlaps it in height: only room across
        // keeps the two apart.
        if (labels.group.left() < normal.left() + borderWidth
            || labels.group.right() + labelGap > labels.duration.left())
            return std::nullopt;
    }
    return labels;
}

ChartGeometry::Labels ChartGeometry::labelsBeside(
    const QRectF &box, QSizeF group, QSizeF duration, double chartLeft, double chartRight)
{
    const QRectF normal = box.normalized();
    const double groupWidth = group.isEmpty() ? 0.0 : group.width() + labelGap;
    const double width = groupWidth + duration.width();
    const double roomRight = chartRight - (normal.right() + labelGap);
    const double roomLeft = normal.left() - labelGap - chartLeft;
    const bool right = roomRight >= width || roomRight >= roomLeft;
    const double left = right ? normal.right() + labelGap : normal.left() - labelGap - width;
    const double middle = normal.center().y();
    Labels labels;
    if (!group.isEmpty())
        labels.group = QRectF(left, middle - group.height() * 0.5, group.width(), group.height());
    labels.duration = QRectF(left + groupWidth, middle - duration.height() * 0.5, duration.width(), duration.height());
    return labels;
}

double ChartGeometry::clampedTranslation(
    double dx, double centreX, double width, double minimumStartOffset, std::optional<double> maximumEndOffset) const
{
    if (!m_scalable)
        return 0.0;
    const double scale = m_width / m_duration;
    double result = dx;
    const double lower = minimumStartOffset * scale + width * 0.5 - centreX;
    if (lower > dx) {
        result = lower;
    } else if (maximumEndOffset) {
        const double upper = *maximumEndOffset * scale - width * 0.5 - centreX;
        if (dx > upper)
            result = upper;
    }
    // Limits far beyond the axis overflow; a box must never be sent to infinity.
    return std::isfinite(result) ? result : 0.0;
}

double ChartGeometry::timeDelta(double translation) const
{
    if (!m_scalable)
        return 0.0;
    const double delta = translation / m_width * m_duration;
    return std::isfinite(delta) ? delta : 0.0;
}

double ChartGeometry::xForOffset(double offset) const
{
    return m_scalable ? offset / m_duration * m_width : 0.0;
}

double ChartGeometry::offsetForX(double x) const
{
    return m_scalable ? x / m_width * m_duration : 0.0;
}
