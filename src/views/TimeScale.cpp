#include "TimeScale.h"

#include <QFontMetricsF>

#include <array>
#include <cmath>

double TimeScale::stepAtLeast(double seconds, double multipleOf)
{
    static constexpr std::array ladder { minute, 2 * minute, 5 * minute, 10 * minute, 15 * minute, 30 * minute, hour,
        2 * hour, 3 * hour, 6 * hour, 12 * hour, day, 2 * day, 7 * day, 14 * day };
    const auto fits = [&](double step) {
        if (step < seconds)
            return false;
        if (multipleOf <= 0.0)
            return true;
        const double ratio = step / multipleOf;
        return std::abs(ratio - std::round(ratio)) < 1e-9 * ratio;
    };
    for (const double step : ladder) {
        if (fits(step))
            return step;
    }
    // Beyond two weeks: 1, 2 and 5 times powers of ten days, as far as a double reaches.
    for (double decade = 10 * day; std::isfinite(decade); decade *= 10.0) {
        for (const double factor : { 1.0, 2.0, 5.0 }) {
            if (fits(decade * factor))
                return decade * factor;
        }
    }
    return seconds;
}

double TimeScale::roundDaysAtLeast(double seconds, double multipleOf)
{
    for (double decade = day; std::isfinite(decade); decade *= 10.0) {
        for (const double factor : { 1.0, 2.0, 5.0 }) {
            const double step = decade * factor;
            const double ratio = multipleOf > 0.0 ? step / multipleOf : 1.0;
            if (step >= seconds && std::abs(ratio - std::round(ratio)) < 1e-9 * ratio)
                return step;
        }
    }
    return seconds;
}

double TimeScale::majorStepAtLeast(double seconds, double minor)
{
    const double step = stepAtLeast(seconds, minor);
    if (step >= seconds && step <= 20.0 * seconds)
        return step;
    for (double decade = 1.0; std::isfinite(decade * minor); decade *= 10.0) {
        for (const double factor : { 1.0, 2.0, 5.0 }) {
            if (decade * factor * minor >= seconds)
                return decade * factor * minor;
        }
    }
    return step;
}

QString TimeScale::widestLabel(double step, double span)
{
    const double lastDay = std::floor(std::max(0.0, span) / day) + 1.0;
    const QString dayText = QStringLiteral("d %1").arg(lastDay, 0, 'f', 0);
    return step >= day ? dayText : dayText + QStringLiteral(" 00:00");
}

QString TimeScale::label(double offset, double majorStep, bool first)
{
    const double dayIndex = std::floor(offset / day);
    const QString dayText = QStringLiteral("d %1").arg(dayIndex + 1.0, 0, 'f', 0);
    if (majorStep >= day)
        return dayText;
    const auto minutes = qint64(std::llround((offset - dayIndex * day) / minute));
    const QString clock
        = QStringLiteral("%1:%2").arg(minutes / 60, 2, 10, QChar(u'0')).arg(minutes % 60, 2, 10, QChar(u'0'));
    return first || minutes == 0 ? dayText + u' ' + clock : clock;
}

TimeScale TimeScale::measuredIn(const ChartGeometry &geometry, const QFont &font)
{
    const QFontMetricsF metrics(font);
    return TimeScale(geometry, [&metrics](const QString &text) { return metrics.horizontalAdvance(text); });
}
