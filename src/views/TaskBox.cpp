#include "TaskBox.h"

#include <QPainter>
#include <QPalette>
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

void TaskBox::paint(QPainter &painter, const ChartGeometry &geometry, const QPalette &palette) const
{
    paint(painter, rect(geometry), *m_task, palette);
}

void TaskBox::paint(QPainter &painter, const QRectF &box, const Task &task, const QPalette &palette)
{
    constexpr double border = ChartGeometry::borderWidth;
    const QColor green = borderColor(palette);
    painter.fillRect(box, palette.color(QPalette::Base));
    if (box.width() > border) {
        QPen pen(green, border, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
        pen.setMiterLimit(10.0);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        // The stroke straddles its path, so the path runs half a line inside the edge.
        painter.drawRect(box.adjusted(border * 0.5, border * 0.5, -border * 0.5, -border * 0.5));
    } else {
        // Too narrow for an outline around anything: the border is all there is.
        painter.fillRect(box, green);
    }

    // Text is centred on a point by centring it in a generous rectangle around that point and
    // not clipping it, so labels wider than a narrow box still show whole.
    constexpr double reach = 1000.0;
    const auto centredAt
        = [](QPointF point) { return QRectF(point.x() - reach, point.y() - reach, 2 * reach, 2 * reach); };
    constexpr int flags = Qt::AlignCenter | Qt::TextDontClip | Qt::TextSingleLine;
    painter.setPen(palette.color(QPalette::Text));
    if (const ExclusionGroup &group = task.exclusionGroup()) {
        constexpr double inset = ChartGeometry::labelInset;
        painter.drawText(centredAt(box.topLeft() + QPointF(inset, ChartGeometry::boxHeight - inset)), flags, *group);
    }
    painter.drawText(centredAt(box.center()), flags, durationLabel(task.duration()));
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

QColor TaskBox::borderColor(const QPalette &palette)
{
    const bool darkBase = palette.color(QPalette::Base).lightnessF() < 0.5;
    return darkBase ? QColor(0x3d, 0xd1, 0x5f) : QColor(0x1e, 0x9e, 0x3c);
}
