#pragma once

#include "ChartGeometry.h"

#include <QDateTime>
#include <QFont>
#include <QLocale>
#include <QString>
#include <QTimeZone>
#include <optional>

class Project;

// Dates and times as the panels, the chart and its files write them, in the user's locale.
namespace CalendarText {

// "Mon 14 Dec 2026 08:00" in English, "Mo., 14. Dez. 2026 08:00" in German.
[[nodiscard]] QString dateTime(const QDateTime &at, const QLocale &locale = QLocale());
// "08:00", or "8:00 AM" where the locale writes that: the time of day to the minute.
[[nodiscard]] QString time(const QTime &at, const QLocale &locale = QLocale());
// "Mon 14 Dec"; "14 Dec"; "Dec 2026": the patterns of the scale's labels for a locale.
[[nodiscard]] QString weekdayDayMonth(const QLocale &locale);
[[nodiscard]] QString dayMonth(const QLocale &locale);
[[nodiscard]] QString monthYear(const QLocale &locale);
[[nodiscard]] QString year(const QLocale &locale);
// "2 d 5 h", or whole minutes under an hour: slack and other lengths once a plan has dates.
[[nodiscard]] QString daysAndHours(double seconds);

} // namespace CalendarText

// The time axis of a plan with a start date: ticks where the local calendar turns (whole minutes
// and hours of the clock, midnights, Mondays, the first of a month or a year), labelled with
// dates. Times on the axis stay elapsed seconds, so a day across a change of the clock is 23 or
// 25 hours wide. Offsets are from the project's start, as the chart's geometry counts them.
class CalendarScale {
public:
    enum class Unit : quint8 { Minute, Hour, Day, Week, Month, Year };
    struct Step {
        Unit unit = Unit::Minute;
        int count = 0;
        friend bool operator==(const Step &, const Step &) = default;
    };

    // atStart: the local date and time of the project's start. labelWidth(text) measures a label.
    template<typename Measure>
    CalendarScale(const ChartGeometry &geometry, const QDateTime &atStart, const QLocale &locale, Measure labelWidth);

    // The scale of a project with dates, measured in the font; none without a start date or with a
    // start beyond the dates QDateTime keeps.
    [[nodiscard]] static std::optional<CalendarScale> forProject(
        const Project &project, const ChartGeometry &geometry, const QFont &font, const QLocale &locale = QLocale());

    [[nodiscard]] bool isValid() const { return m_minor.count > 0; }
    [[nodiscard]] Step minorStep() const { return m_minor; }
    [[nodiscard]] Step majorStep() const { return m_major; }
    [[nodiscard]] static double approximateSeconds(Step step);

    // The ticks of a step from one offset to another, each with its local date and time; at most
    // a frame's worth.
    template<typename Visit> void forEachTick(Step step, double from, double to, Visit visit) const;
    // Saturdays and Sundays that reach into the range, as ranges of offsets.
    template<typename Visit> void forEachWeekend(double from, double to, Visit visit) const;

    // A major tick's label: the date where a day begins, the time within a day, the date and
    // time for the first label on screen.
    [[nodiscard]] QString label(const QDateTime &at, bool first) const;
    // The widest label the major step draws.
    [[nodiscard]] QString widestLabel() const { return widestLabel(m_major); }

    [[nodiscard]] double offsetOf(const QDateTime &at) const;
    [[nodiscard]] QDateTime dateTimeAt(double offset) const;

private:
    [[nodiscard]] QString widestLabel(Step step) const;
    [[nodiscard]] QString label(const QDateTime &at, Step step, bool first) const;
    // The first tick of a step at or before a local date and time.
    [[nodiscard]] QDateTime tickAtOrBefore(Step step, const QDateTime &at) const;
    [[nodiscard]] QDateTime tickAfter(Step step, const QDateTime &tick) const;
    [[nodiscard]] static QDateTime earliest(const QDateTime &at);

    // The local zone's rules, read once: a frame converts hundreds of ticks, and the C library's
    // local time looks the zone up again on every call.
    QTimeZone m_zone;
    qint64 m_startMsecs = 0;
    QLocale m_locale;
    Step m_minor;
    Step m_major;
};

namespace CalendarLadder {
inline constexpr CalendarScale::Step steps[] = {
    { CalendarScale::Unit::Minute, 1 },
    { CalendarScale::Unit::Minute, 2 },
    { CalendarScale::Unit::Minute, 5 },
    { CalendarScale::Unit::Minute, 10 },
    { CalendarScale::Unit::Minute, 15 },
    { CalendarScale::Unit::Minute, 30 },
    { CalendarScale::Unit::Hour, 1 },
    { CalendarScale::Unit::Hour, 2 },
    { CalendarScale::Unit::Hour, 3 },
    { CalendarScale::Unit::Hour, 6 },
    { CalendarScale::Unit::Hour, 12 },
    { CalendarScale::Unit::Day, 1 },
    { CalendarScale::Unit::Day, 2 },
    { CalendarScale::Unit::Week, 1 },
    { CalendarScale::Unit::Week, 2 },
    { CalendarScale::Unit::Month, 1 },
    { CalendarScale::Unit::Month, 3 },
    { CalendarScale::Unit::Month, 6 },
    { CalendarScale::Unit::Year, 1 },
    { CalendarScale::Unit::Year, 2 },
    { CalendarScale::Unit::Year, 5 },
    { CalendarScale::Unit::Year, 10 },
    { CalendarScale::Unit::Year, 20 },
    { CalendarScale::Unit::Year, 50 },
    { CalendarScale::Unit::Year, 100 },
    { CalendarScale::Unit::Year, 1000 },
};
// Whether ticks of the major step all fall on ticks of the minor one.
[[nodiscard]] bool divides(CalendarScale::Step minor, CalendarScale::Step major);
} // namespace CalendarLadder

template<typename Measure>
CalendarScale::CalendarScale(
    const ChartGeometry &geometry, const QDateTime &atStart, const QLocale &locale, Measure labelWidth)
    : m_zone(QTimeZone::systemTimeZone())
    , m_startMsecs(atStart.toMSecsSinceEpoch())
    , m_locale(locale)
{
    if (!geometry.isScalable() || !atStart.isValid())
        return;
    const double pointsPerSecond = geometry.totalWidth() / geometry.projectDuration();
    std::size_t minor = 0;
    constexpr std::size_t count = std::size(CalendarLadder::steps);
    while (minor + 1 < count && approximateSeconds(CalendarLadder::steps[minor]) * pointsPerSecond < 8.0)
        ++minor;
    std::size_t major = minor;
    for (; major + 1 < count; ++major) {
        const Step step = CalendarLadder::steps[major];
        if (!CalendarLadder::divides(CalendarLadder::steps[minor], step))
            continue;
        // A month is 28 days at its shortest.
        const double shortest = approximateSeconds(step) * (step.unit >= Unit::Month ? 28.0 / 30.44 : 1.0)
            * (step.unit <= Unit::Hour ? 1.0 : 23.0 / 24.0);
        if (shortest * pointsPerSecond >= labelWidth(widestLabel(step)) + 16.0)
            break;
    }
    m_minor = CalendarLadder::steps[minor];
    m_major = CalendarLadder::steps[major];
}

template<typename Visit> void CalendarScale::forEachTick(Step step, double from, double to, Visit visit) const
{
    if (!isValid() || !(from <= to))
        return;
    QDateTime tick = tickAtOrBefore(step, dateTimeAt(from));
    constexpr int most = 10000;
    for (int i = 0; i < most && tick.isValid(); ++i) {
        const double offset = offsetOf(tick);
        if (offset > to)
            break;
        if (offset >= from)
            visit(offset, tick);
        tick = tickAfter(step, tick);
    }
}

template<typename Visit> void CalendarScale::forEachWeekend(double from, double to, Visit visit) const
{
    if (!isValid() || !(from <= to))
        return;
    QDate day = dateTimeAt(from).date();
    constexpr int most = 5000;
    for (int i = 0; i < most && day.isValid(); ++i, day = day.addDays(1)) {
        const double start = offsetOf(day.startOfDay(m_zone));
        if (start > to)
            break;
        if (day.dayOfWeek() >= Qt::Saturday)
            visit(start, offsetOf(day.addDays(1).startOfDay(m_zone)));
    }
}
