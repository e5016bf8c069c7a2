#include "CalendarScale.h"

#include <QTest>

#include <cmath>

namespace {

// Labels measured as seven points a character, so that the steps chosen do not follow the fonts installed.
double measure(const QString &text)
{
    return 7.0 * double(text.size());
}

QDateTime local(int year, int month, int day, int hour)
{
    return QDateTime(QDate(year, month, day), QTime(hour, 0), Qt::LocalTime);
}

// Each major tick as "label@hours from the start".
QString majorTicks(const CalendarScale &scale, double span)
{
    QStringList ticks;
    bool first = true;
    scale.forEachTick(scale.majorStep(), 0.0, span, [&](double offset, const QDateTime &at) {
        ticks << scale.label(at, first) + u'@' + QString::number(std::lround(offset / 3600.0));
        first = false;
    });
    return ticks.join(u' ');
}

} // namespace

class TestCalendarScale : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // The clock goes back from 03:00 to 02:00 on Sunday 25 October 2026 here.
        qputenv("TZ", "Europe/Berlin");
        tzset();
        QCOMPARE(local(2026, 10, 24, 8).secsTo(local(2026, 10, 26, 0)), 41 * 3600);
    }

    void labels_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QDateTime>("start");
        QTest::addColumn<double>("days");
        QTest::addColumn<double>("width");
        QTest::addColumn<QString>("ticks");

        const QDateTime saturday = local(2026, 10, 24, 8);
        const QDateTime sunday = local(2026, 10, 25, 0);
        // Days: the day of the change is 25 hours long.
        QTest::newRow("English days") << "en_GB" << saturday << 4.0 << 800.0
                                      << "Sun 25 Oct@16 Mon 26 Oct@41 Tue 27 Oct@65 Wed 28 Oct@89";
        QTest::newRow("German days") << "de_DE" << saturday << 4.0 << 800.0
                                     << "So., 25. Okt.@16 Mo., 26. Okt.@41 Di., 27. Okt.@65 Mi., 28. Okt.@89";
        QTest::newRow("Japanese days") << "ja_JP" << saturday << 4.0 << 800.0
                                       << "10月25日(日)@16 10月26日(月)@41 10月27日(火)@65 10月28日(水)@89";
        // Hours of the clock: 02:00 comes twice, and 04:00 is five hours after midnight.
        QTest::newRow("English hours") << "en_GB" << sunday << 0.25 << 600.0 << "25 Oct 00:00@0 02:00@2 04:00@5";
        QTest::newRow("German hours") << "de_DE" << sunday << 0.25 << 600.0 << "25. Okt. 00:00@0 02:00@2 04:00@5";
        QTest::newRow("Japanese hours") << "ja_JP" << sunday << 0.25 << 600.0 << "10月25日 0:00@0 2:00@2 4:00@5";
        QTest::newRow("English midnight") << "en_GB" << saturday << 1.5 << 900.0
                                          << "24 Oct 12:00@4 18:00@10 Sun 25 Oct@16 06:00@23 12:00@29 18:00@35";
        // Months over the next spring's change too.
        QTest::newRow("English months") << "en_GB" << saturday << 400.0 << 800.0
                                        << "Jan 2027@1649 Apr 2027@3808 Jul 2027@5992 Oct 2027@8200";
        QTest::newRow("Japanese months") << "ja_JP" << saturday << 400.0 << 800.0
                                         << "2027年1月@1649 2027年4月@3808 2027年7月@5992 2027年10月@8200";
        QTest::newRow("English years") << "en_GB" << saturday << 3650.0 << 500.0
                                       << "2028@10409 2030@27953 2032@45473 2034@63017 2036@80537";
    }

    void labels()
    {
        QFETCH(QString, locale);
        QFETCH(QDateTime, start);
        QFETCH(double, days);
        QFETCH(double, width);
        QFETCH(QString, ticks);
        const double span = days * 86400.0;
        const CalendarScale scale(ChartGeometry(0.0, span, width), start, QLocale(locale), measure);
        QVERIFY(scale.isValid());
        QCOMPARE(majorTicks(scale, span), ticks);

        // Whatever the zoom: ticks only go forward, minor ones lie no closer than can be told
        // apart, and labels never run into the next one.
        const double pointsPerSecond = width / span;
        double previous = -1.0;
        int minors = 0;
        scale.forEachTick(scale.minorStep(), 0.0, span, [&](double offset, const QDateTime &) {
            QVERIFY(offset > previous);
            if (previous >= 0.0 && scale.minorStep().unit > CalendarScale::Unit::Hour)
                QVERIFY((offset - previous) * pointsPerSecond >= 8.0 * 23.0 / 24.0 * 28.0 / 31.0);
            previous = offset;
            ++minors;
        });
        QVERIFY(minors > 0);
        double lastEnd = -1e300;
        scale.forEachTick(scale.majorStep(), 0.0, span, [&](double offset, const QDateTime &at) {
            const double x = offset * pointsPerSecond;
            QVERIFY2(x >= lastEnd, qPrintable(scale.label(at, false)));
            lastEnd = x + measure(scale.label(at, true));
        });
    }

    // Weekends as the local calendar has them: Sunday of the change lasts 25 hours.
    void weekends()
    {
        const CalendarScale scale(ChartGeometry(0.0, 10 * 86400.0, 1000.0), local(2026, 10, 24, 8),
            QLocale(QStringLiteral("en_GB")), measure);
        QStringList found;
        scale.forEachWeekend(0.0, 9 * 86400.0, [&](double from, double to) {
            found << QStringLiteral("%1-%2").arg(std::lround(from / 3600.0)).arg(std::lround(to / 3600.0));
        });
        QCOMPARE(found.join(u' '), QStringLiteral("-8-16 16-41 161-185 185-209"));
    }

    void texts_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("dateTime");
        QTest::newRow("English") << "en_GB"
                                 << "Mon 14 Dec 2026 08:00";
        QTest::newRow("German") << "de_DE"
                                << "Mo., 14. Dez. 2026 08:00";
        QTest::newRow("Japanese") << "ja_JP"
                                  << "2026年12月14日(月) 8:00";
        QTest::newRow("American") << "en_US"
                                  << "Mon 14 Dec 2026 8:00 AM";
    }

    void texts()
    {
        QFETCH(QString, locale);
        QFETCH(QString, dateTime);
        QCOMPARE(CalendarText::dateTime(local(2026, 12, 14, 8), QLocale(locale)), dateTime);
    }

    void lengths_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << "0 min";
        QTest::newRow("minutes") << 59.0 * 60.0 << "59 min";
        QTest::newRow("hours") << 5.4 * 3600.0 << "5 h";
        QTest::newRow("days") << (2 * 24 + 5) * 3600.0 << "2 d 5 h";
        QTest::newRow("rounded to a day") << (24 * 3600.0 - 60.0) << "1 d 0 h";
    }

    void lengths()
    {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(CalendarText::daysAndHours(seconds), text);
    }
};

QTEST_MAIN(TestCalendarScale)
#include "tst_calendarscale.moc"
