#pragma once

#include "ChartGeometry.h"

#include <QFont>
#include <QString>

// The ticks of the chart's time axis at one zoom: minor ticks as close as can still be told
// apart, labelled major ticks as close as their labels allow. Times are offsets from the
// project's start, in seconds; the file has no dates, so day 1 is the project's first 24 hours.
class TimeScale {
public:
    static constexpr double minute = 60.0;
    static constexpr double hour = 60.0 * minute;
    static constexpr double day = 24.0 * hour;
    // Closest two minor ticks may be, in points.
    static constexpr double minimumMinorSpacing = 8.0;
    // Room between the end of one label and the next major tick.
    static constexpr double labelSpacing = 16.0;

    // labelWidth(text) gives the width a label would be drawn with.
    template<typename Measure> TimeScale(const ChartGeometry &geometry, Measure labelWidth);

    // The scale whose labels are measured in a font, as they are drawn.
    [[nodiscard]] static TimeScale measuredIn(const ChartGeometry &geometry, const QFont &font);

    // Whether there is an axis at all: a project without span has none.
    [[nodiscard]] bool isValid() const { return m_minor > 0.0; }
    [[nodiscard]] double minorStep() const { return m_minor; }
    [[nodiscard]] double majorStep() const { return m_major; }
    // Ticks of both steps lie at origin() + k * step. Steps longer than two weeks are whole tens,
    // hundreds... of days counted as the labels count them, day 1 first: ticks begin days 100,
    // 200, 300 ("d 100"), a day before the multiples of the step from the project's start.
    [[nodiscard]] double origin() const { return m_origin; }
    // The label of the major tick at an offset: "d 3" for whole days, "d 1 06:00" where a day
    // begins or the first label on screen, "06:30" otherwise.
    [[nodiscard]] QString label(double offset, bool first) const { return label(offset, m_major, first); }
    [[nodiscard]] static QString label(double offset, double majorStep, bool first);

    // The widest label this scale draws for a project of the given span.
    [[nodiscard]] static QString widestLabel(double step, double span);
    // The smallest step of the ladder 1, 2, 5, 10, 15, 30 minutes, 1, 2, 3, 6, 12 hours, 1, 2, 7,
    // 14 days, then 1, 2 and 5 times powers of ten days, that is at least the given number of
    // seconds and, with multipleOf, a whole multiple of it.
    [[nodiscard]] static double stepAtLeast(double seconds, double multipleOf = 0.0);
    // A step of the ladder that is a multiple of the minor step; where the ladder has none near
    // (weeks against tens of days), 1, 2 or 5 times a power of ten minor steps.
    [[nodiscard]] static double majorStepAtLeast(double seconds, double minor);
    // The smallest of 1, 2 and 5 times powers of ten days that is at least the given number of
    // seconds and, with multipleOf, a whole multiple of it.
    [[nodiscard]] static double roundDaysAtLeast(double seconds, double multipleOf = 0.0);

private:
    double m_minor = 0.0;
    double m_major = 0.0;
    double m_origin = 0.0;
};

template<typename Measure> TimeScale::TimeScale(const ChartGeometry &geometry, Measure labelWidth)
{
    if (!geometry.isScalable())
        return;
    const double pointsPerSecond = geometry.totalWidth() / geometry.projectDuration();
    m_minor = stepAtLeast(minimumMinorSpacing / pointsPerSecond);
    // A label's width depends on the step it is chosen for; a step wide enough for its own
    // labels is wide enough.
    const auto labelled = [&](double minor, auto next) {
        double major = minor;
        for (int attempt = 0; attempt < 64; ++attempt) {
            const double needed
                = (labelWidth(widestLabel(major, geometry.projectDuration())) + labelSpacing) / pointsPerSecond;
            if (major >= needed)
                break;
            major = next(needed, minor);
        }
        return major;
    };
    m_major = labelled(m_minor, [](double needed, double minor) { return majorStepAtLeast(needed, minor); });
    // Past weeks, multiples of a week or a fortnight label days no one counts by ("d 141, d 281").
    if (m_major > 14.0 * day) {
        m_minor = roundDaysAtLeast(minimumMinorSpacing / pointsPerSecond);
        m_major = labelled(m_minor, [](double needed, double minor) { return roundDaysAtLeast(needed, minor); });
        m_origin = -day;
    }
}
