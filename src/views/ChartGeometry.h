#pragma once

#include <QRectF>
#include <QSizeF>
#include <optional>

// The chart's mapping between project time and x, for one project span and one chart width.
// A value: views build one per paint or per pointer event from the current model.
//
// A span of 0 (or less) cannot be divided by: every box is then 1 point wide at the left edge,
// and no translation converts into time, so a drag moves nothing. A width of 0 likewise.
class ChartGeometry {
public:
    static constexpr double rowHeight = 25.0;
    static constexpr double boxHeight = 28.0;
    // Centre of a box, measured from the top of its row; boxes reach into the row below.
    static constexpr double boxCentreY = 15.0;
    // How far the last row's box reaches below its row: the room the rows' area keeps under it.
    static constexpr double overhang = boxCentreY + boxHeight * 0.5 - rowHeight;
    static constexpr double margin = 32.0;
    static constexpr double borderWidth = 2.0;
    static constexpr double labelInset = borderWidth + 8.0;
    static constexpr double dragThreshold = 10.0;
    static constexpr double secondsPerMinute = 60.0;
    // However thin a box is drawn, a press this wide about its centre takes hold of it; a task
    // without duration is drawn as a diamond just as wide.
    static constexpr double minimumHitWidth = 16.0;
    // Between a label and the border, the other label, or the box it is set beside.
    static constexpr double labelGap = 4.0;

    // Where a box's labels go: the group letter (a null rect when there is none) and the duration.
    struct Labels {
        QRectF group;
        QRectF duration;
    };

    ChartGeometry(double projectStart, double projectDuration, double totalWidth);

    // The width the whole project span occupies in a chart of the given width.
    [[nodiscard]] static double totalWidthFor(double chartWidth);

    [[nodiscard]] double projectStart() const { return m_start; }
    [[nodiscard]] double projectDuration() const { return m_duration; }
    [[nodiscard]] double totalWidth() const { return m_width; }
    // Whether points convert into seconds at all.
    [[nodiscard]] bool isScalable() const { return m_scalable; }
    // Whether a task of this duration is a point on the axis, drawn as a milestone. Without a
    // span every box is a 1-point line instead.
    [[nodiscard]] bool isMilestone(double taskDuration) const;

    [[nodiscard]] double boxWidth(double taskDuration) const;
    // The box's centre x when it is not being dragged.
    [[nodiscard]] double boxCentreX(double taskStart, double taskDuration) const;
    // A box centred at centreX in the given row, in content coordinates (row 0 at y 0).
    [[nodiscard]] static QRectF boxRect(qsizetype row, double centreX, double width);
    // The area a press takes hold of a box in: the box, widened about its centre to minimumHitWidth.
    [[nodiscard]] static QRectF hitRect(const QRectF &box);
    // A milestone's diamond, about the centre of its box.
    [[nodiscard]] static QRectF milestoneRect(const QRectF &box);

    // Labels of the given sizes inside the box: the group letter centred at (labelInset,
    // boxHeight - labelInset) of the box, the duration at its centre. None when the box is too
    // narrow to keep them off its border and apart from each other.
    [[nodiscard]] static std::optional<Labels> labelsInside(const QRectF &box, QSizeF group, QSizeF duration);
    // The labels side by side, level with the box's centre, labelGap right of the box; left of it
    // where the chart's right edge leaves no room there, unless the left has even less.
    [[nodiscard]] static Labels labelsBeside(
        const QRectF &box, QSizeF group, QSizeF duration, double chartLeft, double chartRight);

    // How far a box at centreX and width may follow a pointer that travelled dx: the task's start
    // no lower than minimumStartOffset after the project start, its end no higher than
    // maximumEndOffset. A left limit lying right of the right limit wins.
    [[nodiscard]] double clampedTranslation(double dx, double centreX, double width, double minimumStartOffset,
        std::optional<double> maximumEndOffset) const;
    // Seconds for a translation in points; always finite.
    [[nodiscard]] double timeDelta(double translation) const;
    // The x of a time given as an offset from the project start, and back; 0 without a scale.
    [[nodiscard]] double xForOffset(double offset) const;
    [[nodiscard]] double offsetForX(double x) const;

private:
    double m_start;
    double m_duration;
    double m_width;
    bool m_scalable;
};
