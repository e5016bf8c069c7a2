#include "ChartGeometry.h"
#include "ChartPainter.h"
#include "Project.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSvgGenerator>
#include <QTest>
#include <QXmlStreamReader>

namespace {

constexpr int chartWidth = 700;

struct Plan {
    TaskList tasks;
    QList<IntPair> edges;
};

// Tasks on rows in random order, a few without duration, and dependencies that keep to the
// times, with a hub of many successors and a sink of many predecessors.
Plan randomPlan(QRandomGenerator &random, int count)
{
    Plan plan;
    QList<double> starts;
    QList<double> ends;
    for (int i = 0; i < count; ++i) {
        // Many start together, so that runs of predecessors share a start but not an end.
        const double start = random.bounded(2) == 0 ? 60.0 * random.bounded(3) : 60.0 * random.bounded(200);
        const double duration = random.bounded(6) == 0 ? 0.0 : 60.0 * random.bounded(1, 40);
        plan.tasks.append(Task::createStartingAt(i + 1, nullptr, QStringLiteral("T%1").arg(i), start, duration));
        starts.append(start);
        ends.append(start + duration);
    }
    const int hub = random.bounded(count);
    const int sink = random.bounded(count);
    for (int k = 0; k < count * 3; ++k) {
        const int from = k % 4 == 0 ? hub : random.bounded(count);
        const int to = k % 4 == 1 ? sink : random.bounded(count);
        if (from != to && ends.at(from) <= starts.at(to))
            plan.edges.append({ from + 1, to + 1 });
    }
    return plan;
}

TaskList copyOf(const TaskList &tasks)
{
    TaskList copy;
    for (const TaskPtr &task : tasks)
        copy.append(Task::createStartingAt(task->id(), nullptr, task->name(), task->start(), task->duration()));
    return copy;
}

QImage paint(const Project &project, qsizetype first, qsizetype last)
{
    const auto height = int(double(project.tasks().size()) * ChartGeometry::rowHeight + ChartGeometry::overhang);
    QImage image(chartWidth, height, QImage::Format_ARGB32_Premultiplied);
    QPalette palette;
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    image.fill(palette.color(QPalette::Base));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const ChartPainter chart(project,
        ChartGeometry(project.start(), project.duration(), ChartGeometry::totalWidthFor(chartWidth)), palette, QFont(),
        ChartPainter::Options());
    chart.paintRows(painter, first, last, 0.0, chartWidth);
    return image;
}

} // namespace

class TestChartPainter : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void bandLooksLikeTheWholeChart_data();
    void bandLooksLikeTheWholeChart();
    void labelsOnPaperStayInTheRange();
    void scaleCountsInRoundSteps();
};

void TestChartPainter::bandLooksLikeTheWholeChart_data()
{
    QTest::addColumn<int>("seed");
    for (int seed = 1; seed <= 30; ++seed)
        QTest::newRow(qPrintable(QStringLiteral("seed %1").arg(seed))) << seed;
}

// A frame draws only its rows, the part on screen of edges that leave them, and each such part
// once however many edges share it. What it shows must be what the whole chart, drawn with every
// edge that touches those rows, shows there.
void TestChartPainter::bandLooksLikeTheWholeChart()
{
    QFETCH(int, seed);
    QRandomGenerator random { quint32(seed) };
    constexpr int count = 40;
    const Plan plan = randomPlan(random, count);
    const std::unique_ptr<Project> project = Project::load(QStringLiteral("P"), copyOf(plan.tasks), plan.edges);
    QVERIFY(project->deletedEdges().isEmpty());
    for (int round = 0; round < 4; ++round) {
        const qsizetype first = random.bounded(1, count / 2);
        const qsizetype last = first + random.bounded(3, count / 2);
        QList<IntPair> touching;
        for (const IntPair &edge : plan.edges) {
            const auto inBand = [&](qint64 id) { return id - 1 >= first && id - 1 <= last; };
            if (inBand(edge.a) || inBand(edge.b))
                touching.append(edge);
        }
        const std::unique_ptr<Project> reference = Project::load(QStringLiteral("P"), copyOf(plan.tasks), touching);
        const QImage whole = paint(*reference, 0, count - 1);
        const QImage band = paint(*project, first, last);
        // The rows wholly inside the band, clear of the boxes that reach in from outside it.
        const auto top = int(double(first + 1) * ChartGeometry::rowHeight);
        const auto bottom = int(double(last) * ChartGeometry::rowHeight);
        int differing = 0;
        QPoint where;
        for (int y = top; y < bottom; ++y) {
            for (int x = 0; x < chartWidth; ++x) {
                // Ink where the other has none; lines drawn once or several times over each other
                // shade their antialiased edges differently, which is no difference.
                const auto ink = [](QRgb pixel) { return 3 * 255 - qRed(pixel) - qGreen(pixel) - qBlue(pixel); };
                const int a = ink(whole.pixel(x, y));
                const int b = ink(band.pixel(x, y));
                if ((a > 240 && b < 24) || (b > 240 && a < 24)) {
                    where = where.isNull() ? QPoint(x, y) : where;
                    ++differing;
                }
            }
        }
        QVERIFY2(differing == 0,
            qPrintable(QStringLiteral("rows %1-%2: %3 pixels differ, the first at %4,%5")
                           .arg(first)
                           .arg(last)
                           .arg(differing)
                           .arg(where.x())
                           .arg(where.y())));
    }
}

// On paper a label cut at the page's edge cannot be scrolled into view, so none is; on screen
// one is, as the chart scrolls. Checked at many widths, so that some label falls at the edge.
void TestChartPainter::labelsOnPaperStayInTheRange()
{
    TaskList tasks;
    tasks.append(Task::createStartingAt(1, nullptr, QStringLiteral("A"), 0.0, 3 * 24 * 60.0));
    const std::unique_ptr<Project> project = Project::load(QStringLiteral("P"), std::move(tasks), {});
    QPalette palette;
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::WindowText, Qt::black);
    const QFont font;
    const auto height = int(std::ceil(ChartPainter::scaleHeight(font)));
    int cutOnScreen = 0;
    for (int right = 200; right < 700; right += 3) {
        for (const bool paper : { true, false }) {
            ChartPainter::Options options;
            options.wholeLabels = paper;
            const ChartPainter chart(*project,
                ChartGeometry(project->start(), project->duration(), ChartGeometry::totalWidthFor(right + 200.0)),
                palette, font, options);
            QImage image(right + 100, height, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::white);
            {
                QPainter painter(&image);
                chart.paintScale(painter, 0.0, right);
            }
            bool inkBeyond = false;
            for (int y = 0; y < height; ++y) {
                for (int x = right + 1; x < image.width(); ++x)
                    inkBeyond |= qGray(image.pixel(x, y)) < 128;
            }
            if (paper)
                QVERIFY2(!inkBeyond, qPrintable(QStringLiteral("a label runs past %1").arg(right)));
            else
                cutOnScreen += inkBeyond ? 1 : 0;
        }
    }
    // Else no width above put a label at the edge, and the check proved nothing.
    QVERIFY(cutOnScreen > 0);
}

// The labels of a scale as painted, from an SVG drawing of it.
QStringList scaleLabels(const Project &project, double width)
{
    QPalette palette;
    const QFont font;
    ChartPainter::Options options;
    const ChartPainter chart(
        project, ChartGeometry(project.start(), project.duration(), width), palette, font, options);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QSvgGenerator generator;
        generator.setOutputDevice(&buffer);
        QPainter painter(&generator);
        chart.paintScale(painter, 0.0, width);
    }
    QStringList labels;
    QXmlStreamReader xml(buffer.data());
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("text"))
            labels.append(xml.readElementText().trimmed());
    }
    return labels;
}

// Labelled ticks at round steps however long the plan: whole days, weeks or fortnights from day 1,
// or days 100, 200, 300 (never "d 141, d 281"); with a start date, years at round years.
void TestChartPainter::scaleCountsInRoundSteps()
{
    constexpr double day = 24 * 3600.0;
    const QRegularExpression dayLabel(QStringLiteral("^d (\\d+)$"));
    const QRegularExpression yearLabel(QStringLiteral("^(\\d{4})$"));
    const auto round = [](qint64 step) {
        qint64 decade = 1;
        while (step % (decade * 10) == 0)
            decade *= 10;
        return step == decade || step == 2 * decade || step == 5 * decade;
    };
    int checked = 0;
    for (const double days : { 3.0, 20.0, 45.0, 200.0, 700.0, 2000.0, 6944.0, 36500.0, 100000.0 }) {
        for (const double width : { 400.0, 1000.0, 1700.0, 6000.0 }) {
            TaskList tasks;
            tasks.append(Task::createStartingAt(1, nullptr, QStringLiteral("A"), 0.0, days * day));
            const std::unique_ptr<Project> project = Project::load(QStringLiteral("P"), std::move(tasks), {});
            const QString where = QStringLiteral("%1 days on %2 points").arg(days).arg(width);
            QList<qint64> numbers;
            const QStringList labels = scaleLabels(*project, width);
            for (const QString &label : labels) {
                if (const QRegularExpressionMatch found = dayLabel.match(label); found.hasMatch())
                    numbers.append(found.captured(1).toLongLong());
            }
            // Zoomed to hours, the scale counts the clock.
            if (numbers.size() < 3)
                continue;
            const qint64 step = numbers.at(1) - numbers.at(0);
            for (qsizetype i = 1; i < numbers.size(); ++i)
                QVERIFY2(numbers.at(i) - numbers.at(i - 1) == step, qPrintable(where + u' ' + labels.join(u',')));
            if (step <= 14) {
                QVERIFY2(step == 1 || step == 2 || step == 7 || step == 14, qPrintable(where));
                QCOMPARE((numbers.first() - 1) % step, 0);
            } else {
                QVERIFY2(round(step), qPrintable(where + u' ' + labels.join(u',')));
                for (const qint64 number : numbers)
                    QVERIFY2(number % step == 0, qPrintable(where + u' ' + labels.join(u',')));
            }
            ++checked;

            if (days < 2000.0)
                continue;
            project->setOrigin(QDateTime(QDate(2026, 12, 14), QTime(8, 0), Qt::LocalTime));
            QList<int> years;
            for (const QString &label : scaleLabels(*project, width)) {
                if (const QRegularExpressionMatch found = yearLabel.match(label); found.hasMatch())
                    years.append(found.captured(1).toInt());
            }
            // The first names the plan's own start year; the ticks follow.
            for (qsizetype i = 2; i < years.size(); ++i) {
                const int yearStep = years.at(i) - years.at(i - 1);
                QVERIFY2(yearStep == years.at(2) - years.at(1) && years.at(i) % yearStep == 0,
                    qPrintable(where + QStringLiteral(" with dates")));
            }
        }
    }
    QVERIFY(checked >= 30);
}

QTEST_MAIN(TestChartPainter)
#include "tst_chartpainter.moc"
