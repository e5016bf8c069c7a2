#include "TaskBox.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPalette>
#include <algorithm>
#include <cmath>

TaskBox::TaskBox(TaskPtr task, qsizetype row)
    : m_task(std::move(task))
    , m_row(row)
{ }

void TaskBox::dragTo(double centreX)
{
    m_isDragging = true;
    m_dragPosition = centreX;
}

double TaskBox::restingCentreX(const ChartGeometry &geometry) const
{
    return geometry.boxCentreX(m_task->start(), m_task->duration());
}

double TaskBox::width(const ChartGeometry &geometry) const
{
    return geometry.boxWidth(m_task->duration());
}

QRectF TaskBox::rect(const ChartGeometry &geometry) const
{
    const double centreX = m_isDragging ? m_dragPosition : restingCentreX(geometry);
    return ChartGeometry::boxRect(m_row, centreX, width(geometry));
}

void TaskBox::paint(QPainter &painter, const ChartGeometry &geometry, const QPalette &palette, double chartLeft,
    double chartRight, bool selected, bool critical, bool wholeLabels) const
{
    constexpr double border = ChartGeometry::borderWidth;
    const QColor green = critical ? criticalColor(palette) : borderColor(palette);
    const QColor fill = selected ? palette.color(QPalette::Highlight) : palette.color(QPalette::Base);
    const QRectF box = rect(geometry).normalized();
    const bool milestone = geometry.isMilestone(m_task->duration());
    QRectF drawn = box;
    if (milestone) {
        drawn = ChartGeometry::milestoneRect(box);
        const QPointF centre = drawn.center();
        const QPointF corners[] = { { centre.x(), drawn.top() }, { drawn.right(), centre.y() },
            { centre.x(), drawn.bottom() }, { drawn.left(), centre.y() } };
        painter.setPen(selected ? QPen(green, border) : QPen(Qt::NoPen));
        painter.setBrush(selected ? fill : green);
        painter.drawConvexPolygon(corners, 4);
    } else if (box.width() > border) {
        // Two fills rather than a stroke: the same pixels, without the stroker's cost per box.
        painter.fillRect(box, green);
        if (box.width() > 2.0 * border)
            painter.fillRect(box.adjusted(border, border, -border, -border), fill);
    } else {
        // Too narrow for an outline around anything: the border is all there is, and never
        // thinner than a pixel, so that short tasks stay in sight.
        const double grow = std::max(0.0, 1.0 - box.width()) * 0.5;
        drawn = box.adjusted(-grow, 0.0, grow, 0.0);
        painter.fillRect(drawn, selected ? fill : green);
    }

    const QFontMetricsF metrics(painter.font());
    const QString duration = durationLabel(m_task->duration());
    const QSizeF durationSize(metrics.horizontalAdvance(duration), metrics.height());
    const ExclusionGroup &group = m_task->exclusionGroup();
    const QSizeF groupSize = group ? QSizeF(metrics.horizontalAdvance(*group), metrics.height()) : QSizeF();
    std::optional<ChartGeometry::Labels> labels;
    if (!milestone)
        labels = ChartGeometry::labelsInside(drawn, groupSize, durationSize);
    const bool inside = labels.has_value();
    if (!labels)
        labels = ChartGeometry::labelsBeside(drawn, groupSize, durationSize, chartLeft, chartRight);

    // Centred in their places and never clipped, as a label measured a hair too narrow would be.
    // Labels outside the range are not drawn: on paper a page's clip would hide them but leave
    // their text in the page, out of place for readers and search.
    constexpr int flags = Qt::AlignCenter | Qt::TextDontClip | Qt::TextSingleLine;
    const auto shown = [chartLeft, chartRight, wholeLabels](const QRectF &place) {
        return wholeLabels ? place.left() >= chartLeft && place.right() <= chartRight
                           : place.right() >= chartLeft && place.left() <= chartRight;
    };
    painter.setPen(palette.color(selected && inside ? QPalette::HighlightedText : QPalette::Text));
    if (group && shown(labels->group))
        painter.drawText(labels->group, flags, *group);
    if (shown(labels->duration))
        painter.drawText(labels->duration, flags, duration);
}

QString TaskBox::durationLabel(double seconds)
{
    const double minutes = seconds / ChartGeometry::secondsPerMinute;
    if (std::isnan(minutes))
        return QStringLiteral("?");
    if (std::isinf(minutes))
        return minutes > 0 ? QStringLiteral("\u221e") : QStringLiteral("\u2212\u221e");
    // 2^63 is exact as a double; llround has no result from there on.
    constexpr double limit = 9223372036854775808.0;
    const double rounded = std::round(minutes);
    if (rounded >= -limit && rounded < limit)
        return QString::number(static_cast<qlonglong>(std::llround(minutes)));
    return QString::number(rounded, 'g', 6);
}

QColor TaskBox::criticalColor(const QPalette &palette)
{
    const bool darkBase = palette.color(QPalette::Base).lightnessF() < 0.5;
    return darkBase ? QColor(0xff, 0x6b, 0x5e) : QColor(0xd0, 0x21, 0x1c);
}

QColor TaskBox::borderColor(const QPalette &palette)
{
    const bool darkBase = palette.color(QPalette::Base).lightnessF() < 0.5;
    return darkBase ? QColor(0x3d, 0xd1, 0x5f) : QColor(0x1e, 0x9e, 0x3c);
}
