#include "ChartGeometry.h"
#include "TaskBox.h"
#include "TimeScale.h"

#include <QTest>
#include <limits>

namespace {
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
} // namespace

class TestChartGeometry : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void totalWidth_data()
    {
        QTest::addColumn<double>("chartWidth");
        QTest::addColumn<double>("expected");
        QTest::newRow("wide") << 632.0 << 600.0;
        QTest::newRow("just the margin") << 32.0 << 0.0;
        QTest::newRow("narrower than the margin") << 20.0 << 0.0;
        QTest::newRow("empty") << 0.0 << 0.0;
    }
    void totalWidth()
    {
        QFETCH(double, chartWidth);
        QFETCH(double, expected);
        QCOMPARE(ChartGeometry::totalWidthFor(chartWidth), expected);
    }

    void box_data()
    {
        QTest::addColumn<double>("projectStart");
        QTest::addColumn<double>("projectDuration");
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("taskStart");
        QTest::addColumn<double>("taskDuration");
        QTest::addColumn<double>("boxWidth");
        QTest::addColumn<double>("centreX");
        QTest::newRow("first task") << 0.0 << 6000.0 << 600.0 << 0.0 << 1000.0 << 100.0 << 50.0;
        QTest::newRow("middle") << 0.0 << 6000.0 << 600.0 << 3000.0 << 600.0 << 60.0 << 330.0;
        QTest::newRow("negative times") << -2000.0 << 4000.0 << 400.0 << -1000.0 << 1000.0 << 100.0 << 150.0;
        QTest::newRow("whole span") << 100.0 << 50.0 << 300.0 << 100.0 << 50.0 << 300.0 << 150.0;
        QTest::newRow("zero width") << 0.0 << 6000.0 << 0.0 << 3000.0 << 600.0 << 0.0 << 0.0;
        QTest::newRow("zero span") << 0.0 << 0.0 << 600.0 << 0.0 << 0.0 << 1.0 << 0.5;
        QTest::newRow("zero span, late task") << 0.0 << 0.0 << 600.0 << 500.0 << 0.0 << 1.0 << 0.5;
        QTest::newRow("negative span") << 0.0 << -300.0 << 600.0 << 0.0 << -600.0 << 1.0 << 0.5;
        QTest::newRow("zero span and width") << 0.0 << 0.0 << 0.0 << 0.0 << 0.0 << 1.0 << 0.5;
    }
    void box()
    {
        QFETCH(double, projectStart);
        QFETCH(double, projectDuration);
        QFETCH(double, width);
        QFETCH(double, taskStart);
        QFETCH(double, taskDuration);
        QFETCH(double, boxWidth);
        QFETCH(double, centreX);
        const ChartGeometry geometry(projectStart, projectDuration, width);
        QCOMPARE(geometry.boxWidth(taskDuration), boxWidth);
        QCOMPARE(geometry.boxCentreX(taskStart, taskDuration), centreX);
    }

    void boxRectReachesIntoTheNextRow()
    {
        QCOMPARE(ChartGeometry::boxRect(0, 50.0, 100.0), QRectF(0.0, 1.0, 100.0, 28.0));
        QCOMPARE(ChartGeometry::boxRect(3, 10.0, 1.0), QRectF(9.5, 76.0, 1.0, 28.0));
    }

    // Labels 16 high, the group letter 8 wide, the duration 21; they may reach from -16 to chartRight.
    void labels_data()
    {
        QTest::addColumn<QRectF>("box");
        QTest::addColumn<double>("groupWidth");
        QTest::addColumn<double>("chartRight");
        QTest::addColumn<bool>("inside");
        QTest::addColumn<QPointF>("group");
        QTest::addColumn<QPointF>("duration");
        QTest::newRow("wide box holds both")
            << QRectF(0, 1, 100, 28) << 8.0 << 616.0 << true << QPointF(6, 11) << QPointF(39.5, 7);
        QTest::newRow("just wide enough")
            << QRectF(100, 1, 57, 28) << 8.0 << 616.0 << true << QPointF(106, 11) << QPointF(118, 7);
        QTest::newRow("a point narrower")
            << QRectF(100, 1, 56, 28) << 8.0 << 616.0 << false << QPointF(160, 7) << QPointF(172, 7);
        QTest::newRow("duration wider than the box")
            << QRectF(100, 1, 20, 28) << 0.0 << 616.0 << false << QPointF() << QPointF(124, 7);
        QTest::newRow("right edge, left of the box")
            << QRectF(590, 26, 10, 28) << 8.0 << 616.0 << false << QPointF(553, 32) << QPointF(565, 32);
        QTest::newRow("no room, the roomier side")
            << QRectF(10, 1, 20, 28) << 8.0 << 50.0 << false << QPointF(-27, 7) << QPointF(-15, 7);
    }
    void labels()
    {
        QFETCH(QRectF, box);
        QFETCH(double, groupWidth);
        QFETCH(double, chartRight);
        QFETCH(bool, inside);
        QFETCH(QPointF, group);
        QFETCH(QPointF, duration);
        const QSizeF groupSize = groupWidth > 0 ? QSizeF(groupWidth, 16) : QSizeF();
        const QSizeF durationSize(21, 16);
        const auto within = ChartGeometry::labelsInside(box, groupSize, durationSize);
        QCOMPARE(within.has_value(), inside);
        const ChartGeometry::Labels labels
            = within.value_or(ChartGeometry::labelsBeside(box, groupSize, durationSize, -16.0, chartRight));
        QCOMPARE(labels.group, groupWidth > 0 ? QRectF(group, groupSize) : QRectF());
        QCOMPARE(labels.duration, QRectF(duration, durationSize));
        QVERIFY(!labels.group.intersects(labels.duration));
        QVERIFY(inside || !labels.duration.united(labels.group).intersects(box));
    }

    // Project 0 to 6000 s over 600 points (0.1 point a second); the task runs 3000 to 4000, so its
    // box is 100 wide with its centre at 350.
    void clampedTranslation_data()
    {
        QTest::addColumn<double>("projectDuration");
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("dx");
        QTest::addColumn<double>("minimumStartOffset");
        QTest::addColumn<std::optional<double>>("maximumEndOffset");
        QTest::addColumn<double>("expected");
        const std::optional<double> none;
        QTest::newRow("within limits") << 6000.0 << 600.0 << -20.0 << 2000.0 << std::optional(5000.0) << -20.0;
        QTest::newRow("left limit stops") << 6000.0 << 600.0 << -200.0 << 2000.0 << std::optional(5000.0) << -100.0;
        QTest::newRow("right limit stops") << 6000.0 << 600.0 << 200.0 << 2000.0 << std::optional(5000.0) << 100.0;
        QTest::newRow("no right limit") << 6000.0 << 600.0 << 5000.0 << 2000.0 << none << 5000.0;
        QTest::newRow("no left limit") << 6000.0 << 600.0 << -5000.0 << -inf << none << -5000.0;
        QTest::newRow("at the left limit") << 6000.0 << 600.0 << -100.0 << 2000.0 << std::optional(5000.0) << -100.0;
        // Left limit 3500 lies right of the right limit 3800 (end), i.e. start 2800.
        QTest::newRow("crossed limits, pointer left")
            << 6000.0 << 600.0 << -300.0 << 3500.0 << std::optional(3800.0) << 50.0;
        QTest::newRow("crossed limits, pointer between")
            << 6000.0 << 600.0 << 0.0 << 3500.0 << std::optional(3800.0) << 50.0;
        QTest::newRow("crossed limits, pointer right")
            << 6000.0 << 600.0 << 300.0 << 3500.0 << std::optional(3800.0) << -20.0;
        QTest::newRow("zero span") << 0.0 << 600.0 << 200.0 << 0.0 << std::optional(0.0) << 0.0;
        QTest::newRow("negative span") << -60.0 << 600.0 << 200.0 << 0.0 << none << 0.0;
        QTest::newRow("zero width") << 6000.0 << 0.0 << 200.0 << -inf << none << 0.0;
        QTest::newRow("limit beyond the axis") << 60.0 << 600.0 << 10.0 << 1e308 << none << 0.0;
    }
    void clampedTranslation()
    {
        QFETCH(double, projectDuration);
        QFETCH(double, width);
        QFETCH(double, dx);
        QFETCH(double, minimumStartOffset);
        QFETCH(std::optional<double>, maximumEndOffset);
        QFETCH(double, expected);
        const ChartGeometry geometry(0.0, projectDuration, width);
        const double boxWidth = geometry.boxWidth(1000.0);
        const double centreX = geometry.boxCentreX(3000.0, 1000.0);
        QCOMPARE(geometry.clampedTranslation(dx, centreX, boxWidth, minimumStartOffset, maximumEndOffset), expected);
    }

    void timeDelta_data()
    {
        QTest::addColumn<double>("projectDuration");
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("translation");
        QTest::addColumn<double>("expected");
        QTest::newRow("right") << 6000.0 << 600.0 << 30.0 << 300.0;
        QTest::newRow("left") << 6000.0 << 600.0 << -45.0 << -450.0;
        QTest::newRow("none") << 6000.0 << 600.0 << 0.0 << 0.0;
        QTest::newRow("zero span") << 0.0 << 600.0 << 30.0 << 0.0;
        QTest::newRow("negative span") << -100.0 << 600.0 << 30.0 << 0.0;
        QTest::newRow("zero width") << 6000.0 << 0.0 << 30.0 << 0.0;
        QTest::newRow("zero span and width") << 0.0 << 0.0 << 0.0 << 0.0;
        QTest::newRow("overflowing") << 1e300 << 1e-300 << 1e10 << 0.0;
    }
    void timeDelta()
    {
        QFETCH(double, projectDuration);
        QFETCH(double, width);
        QFETCH(double, translation);
        QFETCH(double, expected);
        QCOMPARE(ChartGeometry(0.0, projectDuration, width).timeDelta(translation), expected);
    }

    // A drag stopped by a left limit must land the task on that limit, not a rounding step off.
    void stopAtLeftLimitConvertsBackToTheLimit()
    {
        const ChartGeometry geometry(-1234.5, 98765.4, 777.0);
        const double start = 40000.1;
        const double duration = 321.7;
        const double limit = 30000.3;
        const double translation = geometry.clampedTranslation(-1e6, geometry.boxCentreX(start, duration),
            geometry.boxWidth(duration), limit - geometry.projectStart(), std::nullopt);
        QVERIFY(qAbs(start + geometry.timeDelta(translation) - limit) < 1e-6);
    }

    void durationLabel_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("expected");
        QTest::newRow("zero") << 0.0 << QStringLiteral("0");
        QTest::newRow("five minutes") << 300.0 << QStringLiteral("5");
        QTest::newRow("just under half") << 29.99 << QStringLiteral("0");
        QTest::newRow("half rounds up") << 30.0 << QStringLiteral("1");
        QTest::newRow("negative half rounds down") << -30.0 << QStringLiteral("-1");
        QTest::newRow("two and a half") << 150.0 << QStringLiteral("3");
        QTest::newRow("minus two and a half") << -150.0 << QStringLiteral("-3");
        QTest::newRow("largest") << 9223372036854774784.0 * 60.0 << QStringLiteral("9223372036854774784");
        QTest::newRow("just out of range") << 9223372036854775808.0 * 60.0 << QStringLiteral("9.22337e+18");
        QTest::newRow("lowest") << -9223372036854775808.0 * 60.0 << QStringLiteral("-9223372036854775808");
        QTest::newRow("far out of range") << -1e300 << QStringLiteral("-1.66667e+298");
        QTest::newRow("infinite") << inf << QStringLiteral("\u221e");
        QTest::newRow("minus infinite") << -inf << QStringLiteral("\u2212\u221e");
        QTest::newRow("not a number") << notANumber << QStringLiteral("?");
    }
    void durationLabel()
    {
        QFETCH(double, seconds);
        QFETCH(QString, expected);
        QCOMPARE(TaskBox::durationLabel(seconds), expected);
    }
    // Ticks by zoom, with labels measured at 7 points a character: minor ticks no closer than
    // 8 points, labelled ticks no closer than their labels, both on the ladder, the labelled
    // ones whole multiples of the minor ones.
    void timeScaleSteps_data()
    {
        QTest::addColumn<double>("span");
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("minor");
        QTest::addColumn<double>("major");
        constexpr double minute = TimeScale::minute;
        constexpr double hour = TimeScale::hour;
        constexpr double day = TimeScale::day;
        // "d 1 00:00" is 63 points, plus 16 of room.
        QTest::newRow("100 minutes on 600 points") << 100 * minute << 600.0 << 2 * minute << 30 * minute;
        QTest::newRow("zoomed to 20 points a minute") << 100 * minute << 2000.0 << minute << 5 * minute;
        // Labelled in whole days, "d 5": 21 points.
        QTest::newRow("four days at fit") << 4 * day << 600.0 << 2 * hour << day;
        // "d 201" is 35 points, plus 16: 17 days, and no step of the ladder a multiple of weeks:
        // labels on days 20, 40, 60 rather than 36, 71.
        QTest::newRow("two hundred days") << 200 * day << 600.0 << 5 * day << 20 * day;
        QTest::newRow("a century") << 36500 * day << 600.0 << 500 * day << 5000 * day;
    }
    void timeScaleSteps()
    {
        QFETCH(double, span);
        QFETCH(double, width);
        QFETCH(double, minor);
        QFETCH(double, major);
        const TimeScale scale(ChartGeometry(0.0, span, width), [](const QString &text) { return 7.0 * text.size(); });
        QVERIFY(scale.isValid());
        QCOMPARE(scale.minorStep(), minor);
        QCOMPARE(scale.majorStep(), major);
    }

    void timeScaleLabels_data()
    {
        QTest::addColumn<double>("major");
        QTest::addColumn<double>("offset");
        QTest::addColumn<bool>("first");
        QTest::addColumn<QString>("label");
        constexpr double hour = TimeScale::hour;
        constexpr double day = TimeScale::day;
        QTest::newRow("the start") << hour << 0.0 << false << "d 1 00:00";
        QTest::newRow("within the day") << 0.25 * hour << 5.5 * hour << false << "05:30";
        QTest::newRow("first on screen names its day") << hour << 30 * hour << true << "d 2 06:00";
        QTest::newRow("a new day") << 6 * hour << 2 * day << false << "d 3 00:00";
        QTest::newRow("whole days") << day << 9 * day << false << "d 10";
        QTest::newRow("whole days, first") << 7 * day << 14 * day << true << "d 15";
    }
    void timeScaleLabels()
    {
        QFETCH(double, major);
        QFETCH(double, offset);
        QFETCH(bool, first);
        QFETCH(QString, label);
        QCOMPARE(TimeScale::label(offset, major, first), label);
    }

    void timeScaleWithoutSpan()
    {
        const auto measure = [](const QString &) { return 10.0; };
        QVERIFY(!TimeScale(ChartGeometry(0.0, 0.0, 600.0), measure).isValid());
        QVERIFY(!TimeScale(ChartGeometry(0.0, qInf(), 600.0), measure).isValid());
        QVERIFY(!TimeScale(ChartGeometry(0.0, 600.0, 0.0), measure).isValid());
        // As long as a double reaches, a step is found.
        QVERIFY(TimeScale::stepAtLeast(1e300) >= 1e300);
    }
};

QTEST_APPLESS_MAIN(TestChartGeometry)
#include "tst_chartgeometry.moc"
