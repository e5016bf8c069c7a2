#include "CalendarScale.h"

#include "Project.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QHash>
#include <algorithm>
#include <cmath>

namespace CalendarText {

namespace {

bool eastAsian(const QLocale &locale)
{
    return locale.language() == QLocale::Japanese || locale.language() == QLocale::Chinese;
}

} // namespace

QString weekdayDayMonth(const QLocale &locale)
{
    if (eastAsian(locale))
        return QStringLiteral("M月d日(ddd)");
    if (locale.language() == QLocale::Korean)
        return QStringLiteral("M월 d일 (ddd)");
    if (locale.language() == QLocale::German)
        return QStringLiteral("ddd, d. MMM");
    return QStringLiteral("ddd d MMM");
}

QString dayMonth(const QLocale &locale)
{
    if (eastAsian(locale))
        return QStringLiteral("M月d日");
    if (locale.language() == QLocale::Korean)
        return QStringLiteral("M월 d일");
    if (locale.language() == QLocale::German)
        return QStringLiteral("d. MMM");
    return QStringLiteral("d MMM");
}

QString monthYear(const QLocale &locale)
{
    if (eastAsian(locale))
        return QStringLiteral("yyyy年M月");
    if (locale.language() == QLocale::Korean)
        return QStringLiteral("yyyy년 M월");
    return QStringLiteral("MMM yyyy");
}

QString year(const QLocale &locale)
{
    if (eastAsian(locale))
        return QStringLiteral("yyyy年");
    if (locale.language() == QLocale::Korean)
        return QStringLiteral("yyyy년");
    return QStringLiteral("yyyy");
}

QString time(const QTime &at, const QLocale &locale)
{
    // The locale's short form, to the minute: some locales' short form has seconds.
    QString format = locale.timeFormat(QLocale::ShortFormat);
    format.remove(QStringLiteral(":ss"));
    format.remove(QStringLiteral(".ss"));
    return locale.toString(at, format);
}

QString dateTime(const QDateTime &at, const QLocale &locale)
{
    const QString date = eastAsian(locale) || locale.language() == QLocale::Korean
        ? locale.toString(at.date(), year(locale) + weekdayDayMonth(locale))
        : locale.toString(at.date(), weekdayDayMonth(locale) + QStringLiteral(" yyyy"));
    return date + u' ' + time(at.time(), locale);
}

QString daysAndHours(double seconds)
{
    if (!std::isfinite(seconds))
        return QStringLiteral("?");
    const double minutes = std::round(seconds / 60.0);
    if (std::abs(minutes) < 60.0)
        return QCoreApplication::translate("CalendarText", "%1 min").arg(minutes, 0, 'f', 0);
    const double hours = std::round(seconds / 3600.0);
    const double days = std::trunc(hours / 24.0);
    if (days == 0.0)
        return QCoreApplication::translate("CalendarText", "%1 h").arg(hours, 0, 'f', 0);
    return QCoreApplication::translate("CalendarText", "%1 d %2 h")
        .arg(days, 0, 'f', 0)
        .arg(std::abs(hours - days * 24.0), 0, 'f', 0);
}

} // namespace CalendarText

namespace CalendarLadder {

bool divides(CalendarScale::Step minor, CalendarScale::Step major)
{
    using Unit = CalendarScale::Unit;
    const auto minutes = [](CalendarScale::Step step) { return step.count * (step.unit == Unit::Hour ? 60 : 1); };
    if (major.unit <= Unit::Hour)
        return minutes(major) % minutes(minor) == 0;
    if (minor.unit <= Unit::Hour)
        return (24 * 60) % minutes(minor) == 0;
    if (major.unit == minor.unit)
        return major.count % minor.count == 0;
    // Weeks and months begin at midnight; months do not begin on Mondays.
    if (minor.unit == Unit::Day)
        return minor.count == 1 || major.unit == Unit::Week;
    // Weeks do not fit into months; month lines fall between week ticks.
    if (minor.unit == Unit::Week)
        return major.unit >= Unit::Month;
    return minor.unit == Unit::Month && major.unit == Unit::Year && 12 % minor.count == 0;
}

} // namespace CalendarLadder

double CalendarScale::approximateSeconds(Step step)
{
    constexpr double minute = 60.0;
    switch (step.unit) {
    case Unit::Minute:
        return step.count * minute;
    case Unit::Hour:
        return step.count * 60.0 * minute;
    case Unit::Day:
        return step.count * 1440.0 * minute;
    case Unit::Week:
        return step.count * 7.0 * 1440.0 * minute;
    case Unit::Month:
        return step.count * 30.44 * 1440.0 * minute;
    case Unit::Year:
        return step.count * 365.25 * 1440.0 * minute;
    }
    return 0.0;
}

std::optional<CalendarScale> CalendarScale::forProject(
    const Project &project, const ChartGeometry &geometry, const QFont &font, const QLocale &locale)
{
    const std::optional<QDateTime> atStart = project.dateTimeAt(geometry.projectStart());
    // Beyond the dates kept, the scale counts days as it does without a date.
    if (!atStart || !project.dateTimeAt(geometry.projectStart() + geometry.projectDuration()))
        return std::nullopt;
    const QFontMetricsF metrics(font);
    CalendarScale scale(
        geometry, *atStart, locale, [&metrics](const QString &text) { return metrics.horizontalAdvance(text); });
    if (!scale.isValid())
        return std::nullopt;
    return scale;
}

double CalendarScale::offsetOf(const QDateTime &at) const
{
    return double(at.toMSecsSinceEpoch() - m_startMsecs) / 1000.0;
}

QDateTime CalendarScale::dateTimeAt(double offset) const
{
    constexpr double farthest = 2.8e11;
    if (!(std::abs(offset) < farthest))
        return {};
    return QDateTime::fromMSecsSinceEpoch(m_startMsecs + qint64(std::llround(offset * 1000.0)), m_zone);
}

QDateTime CalendarScale::earliest(const QDateTime &at)
{
    // A time the clock shows twice, as it goes back, is taken the first time it comes.
    const QDateTime hourBefore = at.addSecs(-3600);
    return hourBefore.isValid() && hourBefore.time() == at.time() ? hourBefore : at;
}

QDateTime CalendarScale::tickAtOrBefore(Step step, const QDateTime &at) const
{
    if (!at.isValid())
        return {};
    const QDate date = at.date();
    switch (step.unit) {
    case Unit::Minute:
    case Unit::Hour: {
        const int seconds = step.count * (step.unit == Unit::Hour ? 3600 : 60);
        const int into = at.time().msecsSinceStartOfDay() / 1000;
        return earliest(QDateTime(date, QTime(0, 0).addSecs(into / seconds * seconds), m_zone));
    }
    case Unit::Day: {
        const qint64 back = ((date.toJulianDay() % step.count) + step.count) % step.count;
        return date.addDays(-back).startOfDay(m_zone);
    }
    case Unit::Week: {
        // Julian day 0 was a Monday.
        const qint64 monday = date.toJulianDay() - (date.dayOfWeek() - 1);
        const qint64 week = monday / 7;
        const qint64 back = ((week % step.count) + step.count) % step.count;
        return QDate::fromJulianDay(monday - back * 7).startOfDay(m_zone);
    }
    case Unit::Month: {
        const int index = date.year() * 12 + date.month() - 1;
        const int first = index - ((index % step.count) + step.count) % step.count;
        return QDate(first / 12, first % 12 + 1, 1).startOfDay(m_zone);
    }
    case Unit::Year: {
        const int year = date.year() - ((date.year() % step.count) + step.count) % step.count;
        return QDate(std::max(1, year), 1, 1).startOfDay(m_zone);
    }
    }
    return {};
}

QDateTime CalendarScale::tickAfter(Step step, const QDateTime &tick) const
{
    const QDate date = tick.date();
    switch (step.unit) {
    case Unit::Minute:
    case Unit::Hour: {
        const int seconds = step.count * (step.unit == Unit::Hour ? 3600 : 60);
        // Times of the clock: after a change of the clock the ticks stay on whole hours. A time the
        // clock skips is left out.
        int next = tick.time().msecsSinceStartOfDay() / 1000 / seconds * seconds + seconds;
        QDate day = date;
        for (int tries = 0; tries < 4; ++tries) {
            if (next >= 24 * 3600) {
                day = day.addDays(1);
                next = 0;
            }
            const QDateTime candidate = earliest(QDateTime(day, QTime(0, 0).addSecs(next), m_zone));
            if (candidate.isValid() && candidate.time().msecsSinceStartOfDay() / 1000 == next && candidate > tick)
                return candidate;
            next += seconds;
        }
        return tick.addSecs(seconds);
    }
    case Unit::Day:
        return date.addDays(step.count).startOfDay(m_zone);
    case Unit::Week:
        return date.addDays(7 * step.count).startOfDay(m_zone);
    case Unit::Month:
        return date.addMonths(step.count).startOfDay(m_zone);
    case Unit::Year:
        return date.addYears(step.count).startOfDay(m_zone);
    }
    return {};
}

QString CalendarScale::label(const QDateTime &at, bool first) const
{
    return label(at, m_major, first);
}

QString CalendarScale::label(const QDateTime &at, Step step, bool first) const
{
    switch (step.unit) {
    case Unit::Minute:
    case Unit::Hour: {
        const bool midnight = at.time() == QTime(0, 0);
        if (midnight && !first)
            return m_locale.toString(at.date(), CalendarText::weekdayDayMonth(m_locale));
        const QString time = CalendarText::time(at.time(), m_locale);
        return first ? m_locale.toString(at.date(), CalendarText::dayMonth(m_locale)) + u' ' + time : time;
    }
    case Unit::Day:
        return m_locale.toString(at.date(), CalendarText::weekdayDayMonth(m_locale));
    case Unit::Week:
        return m_locale.toString(at.date(), CalendarText::dayMonth(m_locale));
    case Unit::Month:
        return m_locale.toString(at.date(), CalendarText::monthYear(m_locale));
    case Unit::Year:
        return m_locale.toString(at.date(), CalendarText::year(m_locale));
    }
    return {};
}

QString CalendarScale::widestLabel(Step step) const
{
    // Built once a locale and unit: every frame chooses its steps anew.
    thread_local QHash<QString, QString> known;
    const QString key = m_locale.name() + u'/' + QString::number(int(step.unit));
    if (const auto found = known.constFind(key); found != known.cend())
        return *found;
    // Names of days and months differ in width; a few long ones stand for all.
    static const QDate samples[] = { QDate(2000, 9, 27), QDate(2000, 12, 28), QDate(2000, 5, 24), QDate(2000, 2, 26),
        QDate(2000, 11, 29), QDate(2000, 8, 30), QDate(2000, 7, 31) };
    QString widest;
    for (const QDate &date : samples) {
        for (const QTime time : { QTime(23, 58), QTime(0, 0), QTime(10, 58) }) {
            const QString text = label(QDateTime(date, time, Qt::UTC), step, true);
            if (text.size() > widest.size())
                widest = text;
        }
    }
    widest += QStringLiteral("00");
    known.insert(key, widest);
    return widest;
}
