#include "ChartExport.h"
#include "ChartGeometry.h"
#include "ChartPainter.h"
#include "Exception.h"
#include "Project.h"
#include "SystemError.h"
#include "TaskBox.h"

#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

namespace {

// Tasks "Task 000", "Task 001", ... of 10 minutes, one after the other, each depending on the one
// before.
std::unique_ptr<Project> chain(int count, const QString &title = QStringLiteral("Chain"))
{
    TaskList tasks;
    QList<IntPair> dependencies;
    for (int i = 0; i < count; ++i) {
        tasks.append(Task::createStartingAt(i + 1, nullptr, QStringLiteral("Task %1").arg(i, 3, 10, QLatin1Char('0')),
            i * 600.0, 600.0, i % 3 == 0 ? ExclusionGroup(QStringLiteral("G")) : ExclusionGroup()));
        if (i > 0)
            dependencies.append({ i, i + 1 });
    }
    return Project::load(title, tasks, dependencies);
}

QString run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The text of every page, or of the names column alone (text drawn there, at 72 points an inch),
// one string a page.
QStringList pageTexts(const QString &path, bool namesOnly = false)
{
    QStringList arguments;
    if (namesOnly) {
        // The page's margin and the names column, less its padding.
        const double right = 28.35 + ChartExport::namesWidth * 0.75 - 2.0;
        arguments << QStringLiteral("-x") << QStringLiteral("0") << QStringLiteral("-y") << QStringLiteral("0")
                  << QStringLiteral("-W") << QString::number(int(right)) << QStringLiteral("-H")
                  << QStringLiteral("2000");
    }
    QStringList pages = run(QStringLiteral("pdftotext"), arguments << path << QStringLiteral("-")).split(u'\f');
    if (!pages.isEmpty() && pages.last().trimmed().isEmpty())
        pages.removeLast();
    return pages;
}

ChartExport::Appearance appearance()
{
    ChartExport::Appearance appearance;
    appearance.font.setPixelSize(12);
    return appearance;
}

} // namespace

class TestChartExport : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext and pdfinfo (poppler-utils) are needed");
        QVERIFY(m_dir.isValid());
    }

    void pdfPages_data()
    {
        QTest::addColumn<int>("tasks");
        QTest::addColumn<int>("paper");
        QTest::addColumn<QString>("pageSize");
        QTest::addColumn<QString>("title");
        const QString chain = QStringLiteral("Chain");
        QTest::newRow("one page, A4") << 15 << int(QPageSize::A4) << QStringLiteral("842 x 595 pts") << chain;
        QTest::newRow("several pages, A4") << 200 << int(QPageSize::A4) << QStringLiteral("842 x 595 pts") << chain;
        QTest::newRow("several pages, Letter")
            << 200 << int(QPageSize::Letter) << QStringLiteral("792 x 612 pts") << chain;
        // Cut for the footer: the document stays small.
        QTest::newRow("a title of a million characters")
            << 3 << int(QPageSize::A4) << QStringLiteral("842 x 595 pts") << QString(1000000, u'T');
    }

    // Each page's names are the rows its footer gives, the bands of rows in order and every name
    // in one band; pages across time repeat their band's names.
    void pdfPages()
    {
        QFETCH(int, tasks);
        QFETCH(int, paper);
        QFETCH(QString, pageSize);
        QFETCH(QString, title);
        const std::unique_ptr<Project> project = chain(tasks, title);
        const QString path = m_dir.filePath(QStringLiteral("chart.pdf"));
        ChartExport::writePdf(path, *project, QPageSize(QPageSize::PageSizeId(paper)), appearance());

        const QString info = run(QStringLiteral("pdfinfo"), { path });
        QVERIFY2(info.contains(pageSize), qPrintable(info));
        QVERIFY(QFileInfo(path).size() < 200000 + tasks * 1000);
        const int pages = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info).captured(1).toInt();
        QCOMPARE(pages > 1, tasks > 30);
        const QRegularExpression name(QStringLiteral("Task (\\d{3})"));
        const QRegularExpression footer(QStringLiteral("page (\\d+) of (\\d+), rows (\\d+)-(\\d+)"));
        int next = 0;
        int bandFirst = 0;
        const QStringList texts = pageTexts(path);
        const QStringList names = pageTexts(path, true);
        QCOMPARE(texts.size(), pages);
        QCOMPARE(names.size(), pages);
        for (int page = 1; page <= pages; ++page) {
            const QString &text = texts.at(page - 1);
            const QRegularExpressionMatch rows = footer.match(text);
            QVERIFY2(rows.hasMatch(), qPrintable(text));
            QCOMPARE(rows.captured(1).toInt(), page);
            QCOMPARE(rows.captured(2).toInt(), pages);
            QVERIFY(text.contains(title.left(5)));
            const int first = rows.captured(3).toInt() - 1;
            if (first != next)
                QCOMPARE(first, bandFirst);
            bandFirst = first;
            int row = first;
            for (auto found = name.globalMatch(names.at(page - 1)); found.hasNext();)
                QCOMPARE(found.next().captured(1).toInt(), row++);
            QCOMPARE(row, rows.captured(4).toInt());
            next = row;
        }
        QCOMPARE(next, tasks);
    }

    // A long plan on paper: boxes a readable width on one scale for the whole document, split
    // across time as well as down the rows, pages with nothing on them left out, and each page's
    // place in the footer. Read back from the pages as a reader sees them.
    void longPlanAcrossPages()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty())
            QSKIP("pdftoppm (poppler-utils) is needed");
        constexpr int tasks = 2000;
        const std::unique_ptr<Project> project = chain(tasks, QStringLiteral("Long chain"));
        const QString path = m_dir.filePath(QStringLiteral("long.pdf"));
        ChartExport::writePdf(path, *project, QPageSize(QPageSize::A4), appearance());
        const int pages = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)"))
                              .match(run(QStringLiteral("pdfinfo"), { path }))
                              .captured(1)
                              .toInt();
        const QStringList texts = pageTexts(path);
        const QStringList names = pageTexts(path, true);
        QCOMPARE(texts.size(), pages);
        QCOMPARE(names.size(), pages);
        QCOMPARE(texts.first().trimmed().section(u'\n', 0, 0).trimmed(), QStringLiteral("Long chain"));
        QVERIFY(!texts.at(1).trimmed().startsWith(QStringLiteral("Long chain")));

        const QRegularExpression footer(
            QStringLiteral("page (\\d+) of (\\d+), rows (\\d+)-(\\d+), across (\\d+) of (\\d+)"));
        const QRegularExpression name(QStringLiteral("Task (\\d+)"));
        int across = 0;
        int rowsSeen = 0;
        // Each band's pages, first to last, and its rows.
        QList<std::pair<int, int>> bandPages;
        QList<int> bandRows;
        int lastColumn = 0;
        for (int page = 1; page <= pages; ++page) {
            const QString &text = texts.at(page - 1);
            const QRegularExpressionMatch place = footer.match(text);
            QVERIFY2(place.hasMatch(), qPrintable(text));
            QCOMPARE(place.captured(1).toInt(), page);
            QCOMPARE(place.captured(2).toInt(), pages);
            const int first = place.captured(3).toInt();
            const int last = place.captured(4).toInt();
            const int column = place.captured(5).toInt();
            if (across == 0)
                across = place.captured(6).toInt();
            QCOMPARE(place.captured(6).toInt(), across);
            QVERIFY(column >= 1 && column <= across);
            if (first == rowsSeen + 1) {
                rowsSeen = last;
                bandPages.append({ page, page });
                bandRows.append(last - first + 1);
            } else {
                // Another page of the same band, further right.
                QCOMPARE(last, rowsSeen);
                QVERIFY(column > lastColumn);
                bandPages.last().second = page;
            }
            lastColumn = column;
            int row = first - 1;
            for (auto found = name.globalMatch(names.at(page - 1)); found.hasNext();)
                QCOMPARE(found.next().captured(1).toInt(), row++);
            QCOMPARE(row, last);
        }
        QCOMPARE(rowsSeen, tasks);
        // Across time: a page holds a few hours of ten-minute boxes, not the whole plan, and a
        // band of the chain only the pages its boxes reach.
        QVERIFY2(across > 10, qPrintable(QString::number(across)));
        QVERIFY2(pages < 3 * bandPages.size(), qPrintable(QString::number(pages)));

        // Green runs along scanlines at 72 dpi, a pixel a point: the borders of boxes, top and
        // bottom. The first band, one in the middle and the last.
        constexpr double pointsPerUnit = 72.0 / 96.0;
        const int readable = int(ChartExport::readableBoxWidth * pointsPerUnit) - 2;
        for (const qsizetype band : { qsizetype(0), bandPages.size() / 2, bandPages.size() - 1 }) {
            const auto [from, to] = bandPages.at(band);
            const QString prefix = m_dir.filePath(QStringLiteral("band%1").arg(band));
            run(QStringLiteral("pdftoppm"),
                { QStringLiteral("-r"), QStringLiteral("72"), QStringLiteral("-f"), QString::number(from),
                    QStringLiteral("-l"), QString::number(to), QStringLiteral("-png"), path, prefix });
            QSet<int> lines;
            for (int page = from; page <= to; ++page) {
                const QString file
                    = prefix + QStringLiteral("-%1.png").arg(page, QString::number(pages).size(), 10, QLatin1Char('0'));
                const QImage image(file);
                QVERIFY2(!image.isNull(), qPrintable(file));
                // The chart's column, inside the page's margins.
                const int left = int(std::ceil(ChartExport::namesWidth * pointsPerUnit + 28.35)) + 1;
                const int right = image.width() - 29;
                int widest = 0;
                for (int y = 0; y < image.height() - 20; ++y) {
                    int runStart = -1;
                    for (int x = left; x <= right; ++x) {
                        const QColor pixel = image.pixelColor(x, y);
                        const bool green
                            = x < right && pixel.green() > pixel.red() + 60 && pixel.green() > pixel.blue() + 60;
                        if (green && runStart < 0)
                            runStart = x;
                        if (green || runStart < 0)
                            continue;
                        const int length = x - runStart;
                        // Longer than a box's side is thick: a border. Whole ones are readable.
                        if (length >= 4) {
                            lines.insert(y);
                            if (runStart > left && x < right)
                                QVERIFY2(length >= readable,
                                    qPrintable(
                                        QStringLiteral("page %1, y %2: %3 points").arg(page).arg(y).arg(length)));
                        }
                        widest = std::max(widest, length);
                        runStart = -1;
                    }
                }
                QVERIFY2(widest >= readable, qPrintable(QString::number(page)));
            }
            // Every row of the band has its box on one of its pages: two borders a box.
            QVERIFY2(lines.size() >= 2 * bandRows.at(band),
                qPrintable(QStringLiteral("band %1: %2 lines").arg(band).arg(lines.size())));
        }
    }

    // A plan with dates: dated labels on the scale, the range in every footer and under a whole
    // drawing, which grows by that line alone.
    void datedOutput()
    {
        QLocale::setDefault(QLocale(QStringLiteral("en_GB")));
        const auto restore = qScopeGuard([] { QLocale::setDefault(QLocale::c()); });
        const std::unique_ptr<Project> project = chain(200);
        const QSizeF undated = ChartExport::wholeSize(*project, 2000.0, appearance());
        project->setOrigin(QDateTime(QDate(2026, 12, 14), QTime(8, 0), Qt::LocalTime));
        const QString range = QStringLiteral("Mon 14 Dec 2026 08:00 \u2013 Tue 15 Dec 2026 17:20");
        const QString path = m_dir.filePath(QStringLiteral("dated.pdf"));
        ChartExport::writePdf(path, *project, QPageSize(QPageSize::A4), appearance());
        for (const QString &page : { QStringLiteral("1"), QStringLiteral("7") }) {
            const QString text = run(QStringLiteral("pdftotext"),
                { QStringLiteral("-f"), page, QStringLiteral("-l"), page, path, QStringLiteral("-") });
            QVERIFY2(text.contains(QStringLiteral("Chain \u2014 ") + range), qPrintable(text));
            QVERIFY2(text.contains(QStringLiteral("Tue 15 Dec")), qPrintable(text));
            QVERIFY2(!text.contains(QStringLiteral("d 2")), qPrintable(text));
        }
        const QSizeF dated = ChartExport::wholeSize(*project, 2000.0, appearance());
        QCOMPARE(dated.width(), undated.width());
        QVERIFY(dated.height() > undated.height() && dated.height() < undated.height() + 40.0);
        const QString svg = m_dir.filePath(QStringLiteral("dated.svg"));
        ChartExport::writeSvg(svg, *project, 2000.0, appearance());
        QFile file(svg);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(file.readAll()).contains(range));
    }

    // One green rectangle per box and one text per name, as text.
    void svgBoxesAndNames()
    {
        const std::unique_ptr<Project> project = chain(40);
        const QString path = m_dir.filePath(QStringLiteral("chart.svg"));
        ChartExport::writeSvg(path, *project, 2000.0, appearance());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&file);
        const QString green = TaskBox::borderColor(ChartExport::paperPalette()).name();
        QStringList fills;
        int boxes = 0;
        QSet<QString> names;
        while (!xml.atEnd()) {
            xml.readNext();
            if (xml.isStartElement() && xml.name() == QLatin1String("g"))
                fills.append(xml.attributes().value(QLatin1String("fill")).toString());
            else if (xml.isEndElement() && xml.name() == QLatin1String("g"))
                fills.removeLast();
            else if (xml.isStartElement() && xml.name() == QLatin1String("rect") && fills.last() == green)
                ++boxes;
            else if (xml.isStartElement() && xml.name() == QLatin1String("text"))
                names.insert(xml.readElementText().trimmed());
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(boxes, 40);
        for (const TaskPtr &task : project->tasks())
            QVERIFY2(names.contains(task->name()), qPrintable(task->name()));
    }

    void pngSizeAndPixels_data()
    {
        QTest::addColumn<double>("ratio");
        QTest::newRow("1x") << 1.0;
        QTest::newRow("2x") << 2.0;
    }

    // Border and inside of boxes where the window's geometry puts them, beside the names column.
    void pngSizeAndPixels()
    {
        QFETCH(double, ratio);
        const std::unique_ptr<Project> project = chain(10);
        const QString path = m_dir.filePath(QStringLiteral("chart.png"));
        constexpr double width = 1000.0;
        ChartExport::writePng(path, *project, width, ratio, appearance());
        const QImage image(path);
        const double scale = ChartPainter::scaleHeight(appearance().font);
        QCOMPARE(image.size(),
            QSize(int(std::ceil((ChartExport::namesWidth + width + ChartGeometry::margin) * ratio)),
                int(std::ceil((scale + 10 * ChartGeometry::rowHeight + 4.0) * ratio))));
        const ChartGeometry geometry(project->start(), project->duration(), width);
        const QColor green = TaskBox::borderColor(ChartExport::paperPalette());
        for (const qsizetype row : { 0, 4, 9 }) {
            const TaskPtr &task = project->tasks().at(row);
            const QRectF box = ChartGeometry::boxRect(
                row, geometry.boxCentreX(task->start(), task->duration()), geometry.boxWidth(task->duration()))
                                   .translated(ChartExport::namesWidth + ChartGeometry::margin * 0.5, scale);
            const auto pixel = [&](double x, double y) { return image.pixelColor(QPointF(x, y * ratio).toPoint()); };
            QCOMPARE(pixel(box.left() * ratio + 1.0, box.center().y()), green);
            QCOMPARE(pixel((box.left() + 6.0) * ratio, box.top() + 5.0), QColor(Qt::white));
            QCOMPARE(pixel((box.left() - 3.0) * ratio, box.top() + 5.0), QColor(Qt::white));
        }
    }

    // Refused before any pixel is allocated, with a way out.
    void pngTooLarge()
    {
        const std::unique_ptr<Project> project = chain(10);
        const QString path = m_dir.filePath(QStringLiteral("huge.png"));
        try {
            ChartExport::writePng(path, *project, 1e7, 1.0, appearance());
            QFAIL("no refusal");
        } catch (const corvane::Exception &error) {
            QVERIFY(error.information()->contains(QStringLiteral("PDF or SVG")));
        }
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY(ChartExport::imageRefusal({ 32767, 8193 }).has_value());
        QVERIFY(!ChartExport::imageRefusal({ 32767, 8192 }).has_value());
    }

    void unwritable_data()
    {
        QTest::addColumn<QString>("name");
        for (const char *name : { "chart.pdf", "chart.svg", "chart.png", "chart.csv" })
            QTest::newRow(name) << QString::fromLatin1(name);
    }

    // The system's reason, never a silent success.
    void unwritable()
    {
        QFETCH(QString, name);
        const std::unique_ptr<Project> project = chain(3);
        ChartExport::Request request;
        request.format = *ChartExport::formatForPath(name);
        request.appearance = appearance();
        try {
            ChartExport::write(m_dir.filePath(QStringLiteral("missing/") + name), *project, request);
            QFAIL("written");
        } catch (const corvane::SystemError &error) {
            QCOMPARE(error.userInfo().last().first, QStringLiteral("Reason"));
            QVERIFY(!error.userInfo().last().second.toString().isEmpty());
        }
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestChartExport)
#include "tst_chartexport.moc"
