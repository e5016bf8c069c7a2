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
