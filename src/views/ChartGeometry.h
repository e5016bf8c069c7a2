#pragma once

#include <QRectF>
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
    static constexpr double margin = 32.0;
    static constexpr double borderWidth = 2.0;
    static constexpr double labelInset = borderWidth + 8.0;
    static constexpr double dragThreshold = 10.0;
    static constexpr double secondsPerMinute = 60.0;

    ChartGeometry(double projectStart, double projectDuration, double totalWidth);

    // The width the whole project span occupies in a chart of the given width.
    [[nodiscard]] static double totalWidthFor(double chartWidth);

    [[nodiscard]] double projectStart() const { return m_start; }
    [[nodiscard]] double projectDuration() const { return m_duration; }
    [[nodiscard]] double totalWidth() const { return m_width; }
    // Whether points convert into seconds at all.
    [[nodiscard]] bool isScalable() const { return m_scalable; }

    [[nodiscard]] double boxWidth(double taskDuration) const;
    // The box's centre x when it is not being dragged.
    [[nodiscard]] double boxCentreX(double taskStart, double taskDuration) const;
    // A box centred at centreX in the given row, in content coordinates (row 0 at y 0).
    [[nodiscard]] static QRectF boxRect(qsizetype row, double centreX, double width);

    // How far a box at centreX and width may follow a pointer that travelled dx: the task's start
    // no lower than minimumStartOffset after the project start, its end no higher than
    // maximumEndOffset. A left limit lying right of the right limit wins.
    [[nodiscard]] double clampedTranslation(double dx, double centreX, double width, double minimumStartOffset,
        std::optional<double> maximumEndOffset) const;
    // Seconds for a translation in points; always finite.
    [[nodiscard]] double timeDelta(double translation) const;

private:
    double m_start;
    double m_duration;
    double m_width;
    bool m_scalable;
};
