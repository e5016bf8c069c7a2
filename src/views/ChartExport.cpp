#include "ChartExport.h"

#include "CalendarScale.h"

#include "ChartPainter.h"
#include "Exception.h"
#include "PlanExchange.h"
#include "Project.h"
#include "ProjectCsv.h"
#include "ProjectFile.h"
#include "ShownText.h"
#include "SystemError.h"
#include "TaskBox.h"

#include <QFileInfo>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QLocale>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QSvgGenerator>
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace ChartExport {

namespace {

constexpr double unitsPerInch = 96.0;
// Room between the names and the chart, and around the names.
constexpr double namePadding = 6.0;
// Left of the chart, half the margin its width leaves: labels beside a box at the project's
// start have room there, as in the window.
constexpr double chartInset = ChartGeometry::margin * 0.5;
constexpr double footerGap = 6.0;
constexpr QMarginsF pageMargins(10.0, 10.0, 10.0, 10.0);

// The part of the last row's box that reaches into the row below it.

QFont unitFont(const QFont &font)
{
    QFont fixed(font);
    if (font.pixelSize() <= 0)
        fixed.setPixelSize(std::max(1, QFontInfo(font).pixelSize()));
    return fixed;
}

// One drawing's parts, from the project and the chart's width; painter coordinates in units.
class Sheet {
public:
    // A progress is told of the rows painted, chart and names, when one drawing holds them all.
    Sheet(const Project &project, double totalWidth, const Appearance &appearance, Progress progress = {})
        : m_project(project)
        , m_font(unitFont(appearance.font))
        , m_metrics(m_font)
        , m_palette(appearance.palette)
        , m_totalWidth(std::max(0.0, totalWidth))
        , m_progress(std::move(progress))
        , m_chart(project, ChartGeometry(project.start(), project.duration(), m_totalWidth), m_palette, m_font,
              options(appearance, m_progress, project.tasks().size()))
        , m_scaleHeight(ChartPainter::scaleHeight(m_font))
    { }

    [[nodiscard]] double scaleHeight() const { return m_scaleHeight; }
    [[nodiscard]] double chartWidth() const { return m_totalWidth + ChartGeometry::margin; }
    [[nodiscard]] double width() const { return namesWidth + chartWidth(); }
    [[nodiscard]] const QFont &font() const { return m_font; }
    [[nodiscard]] const QFontMetricsF &metrics() const { return m_metrics; }
    [[nodiscard]] const QPalette &palette() const { return m_palette; }

    [[nodiscard]] double left() const { return -chartInset; }
    [[nodiscard]] double right() const { return chartWidth() - chartInset; }

    // The scale across the top of the chart from content x left to right (the project's start at
    // 0), the band above the names left blank.
    void paintScale(QPainter &painter) const { paintScale(painter, left(), right()); }
    void paintScale(QPainter &painter, double left, double right) const
    {
        painter.fillRect(QRectF(0.0, 0.0, namesWidth, m_scaleHeight), m_palette.color(QPalette::Window));
        painter.save();
        painter.setClipRect(QRectF(namesWidth, 0.0, right - left, m_scaleHeight));
        painter.translate(namesWidth - left, 0.0);
        m_chart.paintScale(painter, left, right);
        painter.restore();
    }

    // Rows first to last with their names, row first at y top, the chart from content x left to
    // right. Returns false when the progress stopped it.
    bool paintRows(QPainter &painter, qsizetype first, qsizetype last, double top, double bottom) const
    {
        return paintRows(painter, first, last, top, bottom, left(), right());
    }
    bool paintRows(
        QPainter &painter, qsizetype first, qsizetype last, double top, double bottom, double left, double right) const
    {
        painter.save();
        painter.setClipRect(QRectF(namesWidth, top, right - left, bottom - top));
        painter.translate(namesWidth - left, top - double(first) * ChartGeometry::rowHeight);
        const bool painted = m_chart.paintRows(painter, first, last, left, right);
        painter.restore();
        if (!painted)
            return false;

        painter.save();
        painter.setFont(m_font);
        painter.setPen(m_palette.color(QPalette::Text));
        const double textWidth = namesWidth - 2.0 * namePadding;
        const TaskList &tasks = m_project.tasks();
        for (qsizetype row = first; row <= last && row < tasks.size(); ++row) {
            const double centre = top + double(row - first) * ChartGeometry::rowHeight + ChartGeometry::boxCentreY;
            const QString name = m_metrics.elidedText(
                corvane::ShownText::cut(tasks.at(row)->name()), Qt::ElideRight, textWidth, Qt::TextSingleLine);
            const QRectF line(namePadding, centre - m_metrics.height() * 0.5, textWidth, m_metrics.height());
            painter.drawText(line, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, name);
            const qsizetype done = row - first + 1;
            if (m_progress && done % 2048 == 0
                && !m_progress(int(m_chart.progressSteps(tasks.size()) + done), steps())) {
                painter.restore();
                return false;
            }
        }
        painter.restore();
        return true;
    }

private:
    // The chart's steps, then one a name.
    [[nodiscard]] int steps() const
    {
        const qsizetype rows = m_project.tasks().size();
        return int(m_chart.progressSteps(rows) + rows);
    }

    static ChartPainter::Options options(const Appearance &appearance, const Progress &progress, qsizetype rows)
    {
        ChartPainter::Options options;
        options.dependencies = appearance.dependencies;
        options.cosmeticLines = false;
        options.wholeLabels = true;
        if (progress) {
            options.progress
                = [progress, rows](qsizetype done, qsizetype total) { return progress(int(done), int(total + rows)); };
        }
        return options;
    }

    const Project &m_project;
    QFont m_font;
    QFontMetricsF m_metrics;
    QPalette m_palette;
    double m_totalWidth;
    Progress m_progress;
    ChartPainter m_chart;
    double m_scaleHeight;
};

double rowsHeight(const Project &project)
{
    const qsizetype rows = project.tasks().size();
    return rows > 0 ? double(rows) * ChartGeometry::rowHeight + ChartGeometry::overhang : 0.0;
}

double footerHeight(const QFontMetricsF &metrics)
{
    return std::ceil(metrics.height()) + footerGap;
}

// "Mon 14 Dec 2026 08:00 – Fri 18 Dec 2026 17:00" for a plan with dates.
std::optional<QString> dateRange(const Project &project)
{
    const std::optional<QDateTime> from = project.dateTimeAt(project.start());
    const std::optional<QDateTime> to = project.dateTimeAt(project.end());
    if (!from || !to || project.tasks().isEmpty())
        return std::nullopt;
    return CalendarText::dateTime(*from) + QStringLiteral(" \u2013 ") + CalendarText::dateTime(*to);
}

// A whole drawing of a plan with dates has its range in a line under the rows.
double wholeFooterHeight(const Project &project, const QFont &font)
{
    return dateRange(project) ? footerHeight(QFontMetricsF(font)) : 0.0;
}

void commit(QSaveFile &file)
{
    if (!file.commit())
        throw corvane::SystemError::fromFile(corvane::SystemError::FileOperation::Write, file);
}

void openForWriting(QSaveFile &file)
{
    if (!file.open(QIODevice::WriteOnly))
        throw corvane::SystemError::fromFile(corvane::SystemError::FileOperation::Write, file);
}

// A painter that could not begin has nothing to say why; the device it wrote to has.
[[noreturn]] void fail(QSaveFile &file)
{
    const QString reason
        = file.error() != QFileDevice::NoError ? file.errorString() : QStringLiteral("The drawing could not be made.");
    file.cancelWriting();
    throw corvane::SystemError::fromFile(corvane::SystemError::FileOperation::Write, file.fileName(), reason);
}

// How many whole rows fit in a height below the scale and above the footer.
qsizetype rowsPerPage(double height, const QFont &font)
{
    const QFont fixed = unitFont(font);
    const double rowsArea = height - ChartPainter::scaleHeight(fixed) - footerHeight(QFontMetricsF(fixed));
    return std::max<qsizetype>(
        1, qsizetype(std::floor((rowsArea - ChartGeometry::overhang) / ChartGeometry::rowHeight)));
}

QFont headingFont(const QFont &font)
{
    QFont heading = unitFont(font);
    heading.setPixelSize(std::max(1, int(std::lround(heading.pixelSize() * 1.5))));
    heading.setBold(true);
    return heading;
}

// How the pages divide the chart: bands of rows down, columns of the one time scale across, and
// the pages that have anything on them, band by band and left to right.
struct Paging {
    struct Page {
        qsizetype first = 0;
        qsizetype last = -1;
        int column = 0;
    };
    double totalWidth = 0.0;
    double columnWidth = 0.0;
    int columns = 1;
    // The first band's rows stand below the heading.
    double headingHeight = 0.0;
    qsizetype firstBandRows = 0;
    qsizetype bandRows = 0;
    std::vector<Page> pages;
};

// Where a band's ink lies: times as offsets from the project's start, and room in units beyond
// them for arrows, milestones and labels set beside boxes.
struct Reach {
    qsizetype first = 0;
    qsizetype last = -1;
    double from = std::numeric_limits<double>::infinity();
    double to = -std::numeric_limits<double>::infinity();
    double roomRight = 0.0;
};

constexpr double roomLeft = ChartGeometry::minimumHitWidth * 0.5 + 12.0;

std::vector<Reach> reaches(const Project &project, qsizetype firstBandRows, qsizetype bandRows, const QFont &font)
{
    const QFontMetricsF metrics(unitFont(font));
    const TaskList &tasks = project.tasks();
    const double start = project.start();
    std::vector<Reach> bands;
    const auto within = [start](double time) { return std::isfinite(time) ? time - start : 0.0; };
    for (qsizetype first = 0; first < tasks.size();) {
        Reach reach;
        reach.first = first;
        reach.last = std::min(tasks.size(), first + (bands.empty() ? firstBandRows : bandRows)) - 1;
        for (qsizetype row = first; row <= reach.last; ++row) {
            const Task &task = *tasks.at(row);
            const double begins = within(std::min(task.start(), task.end()));
            const double ends = within(std::max(task.start(), task.end()));
            reach.from = std::min(reach.from, begins);
            reach.to = std::max(reach.to, ends);
            // Arrows from rows elsewhere come into the band at their predecessor's end.
            for (const TaskPtr &predecessor : task.predecessors())
                reach.to = std::max(reach.to, within(predecessor->end()));
            for (const TaskPtr &successor : task.successors())
                reach.from = std::min(reach.from, within(successor->start()));
            const ExclusionGroup &group = task.exclusionGroup();
            const double labels = metrics.horizontalAdvance(TaskBox::durationLabel(task.duration()))
                + (group ? metrics.horizontalAdvance(*group) + ChartGeometry::labelGap : 0.0);
            reach.roomRight = std::max(reach.roomRight, labels + 2.0 * ChartGeometry::labelGap);
        }
        reach.roomRight = std::max(reach.roomRight, ChartGeometry::minimumHitWidth) + 12.0;
        bands.push_back(reach);
        first = reach.last + 1;
    }
    return bands;
}

int columnsFor(double totalWidth, double columnWidth)
{
    const double columns = std::ceil((totalWidth + ChartGeometry::margin) / columnWidth - 1e-9);
    return int(std::clamp(columns, 1.0, 1e9));
}

// The pages of a scale this wide, or none once they would be more than mostPages.
std::vector<Paging::Page> pagesFor(
    const Project &project, const std::vector<Reach> &bands, double totalWidth, double columnWidth)
{
    const ChartGeometry geometry(project.start(), project.duration(), totalWidth);
    const int columns = columnsFor(totalWidth, columnWidth);
    const auto column = [&](double x) {
        const double index = std::floor((x + chartInset) / columnWidth);
        return int(std::clamp(std::isfinite(index) ? index : 0.0, 0.0, double(columns - 1)));
    };
    std::vector<Paging::Page> pages;
    for (const Reach &band : bands) {
        const int from = column(geometry.xForOffset(band.from) - roomLeft);
        const int to = column(geometry.xForOffset(band.to) + band.roomRight);
        if (qsizetype(pages.size()) + (to - from + 1) > mostPages)
            return {};
        for (int index = from; index <= to; ++index)
            pages.push_back({ band.first, band.last, index });
    }
    return pages;
}

// The scale's width: the window's when zoomed in, else a page across, and wide enough that a task
// of the median length is readableBoxWidth; halved while the pages would be too many.
Paging layOut(const Project &project, QSizeF page, const Appearance &appearance)
{
    Paging paging;
    paging.columnWidth = std::max(ChartGeometry::margin + 1.0, page.width() - namesWidth);
    const QString title = corvane::ShownText::cut(project.name(), corvane::ShownText::titleLimit);
    if (!title.isEmpty())
        paging.headingHeight = std::ceil(QFontMetricsF(headingFont(appearance.font)).height()) + footerGap;
    paging.firstBandRows = rowsPerPage(page.height() - paging.headingHeight, appearance.font);
    paging.bandRows = rowsPerPage(page.height(), appearance.font);

    const double fit = ChartGeometry::totalWidthFor(paging.columnWidth);
    double width = std::max(fit, appearance.zoomedWidth.value_or(0.0));
    std::vector<double> durations;
    for (const TaskPtr &task : project.tasks()) {
        if (task->duration() > 0.0 && std::isfinite(task->duration()))
            durations.push_back(task->duration());
    }
    const double span = project.duration();
    if (!durations.empty() && span > 0.0 && std::isfinite(span)) {
        const auto middle = durations.begin() + qsizetype(durations.size() / 2);
        std::nth_element(durations.begin(), middle, durations.end());
        width = std::max(width, readableBoxWidth * span / *middle);
    }
    // Far beyond any printer, and coordinates a page description keeps exactly.
    constexpr int mostColumns = 10000;
    width = std::min(width, std::max(fit, mostColumns * paging.columnWidth - ChartGeometry::margin));
    if (!std::isfinite(width))
        width = fit;

    const std::vector<Reach> bands = reaches(project, paging.firstBandRows, paging.bandRows, appearance.font);
    for (;;) {
        paging.pages = pagesFor(project, bands, width, paging.columnWidth);
        if (!paging.pages.empty() || width <= fit)
            break;
        width = std::max(fit, width * 0.5);
    }
    if (paging.pages.empty())
        paging.pages.push_back({});
    paging.totalWidth = width;
    paging.columns = columnsFor(width, paging.columnWidth);
    return paging;
}

} // namespace

std::optional<Format> formatForPath(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("pdf"))
        return Format::Pdf;
    if (suffix == QLatin1String("svg"))
        return Format::Svg;
    if (suffix == QLatin1String("png"))
        return Format::Png;
    if (suffix == QLatin1String("csv"))
        return Format::Csv;
    if (suffix == QLatin1String("xml"))
        return Format::Mspdi;
    if (suffix == QLatin1String("planner"))
        return Format::Planner;
    return std::nullopt;
}

QPageSize defaultPageSize()
{
    return QLocale().measurementSystem() == QLocale::ImperialUSSystem ? QPageSize(QPageSize::Letter)
                                                                      : QPageSize(QPageSize::A4);
}

QPalette paperPalette()
{
    QPalette palette;
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    palette.setColor(QPalette::Window, QColor(0xf2, 0xf2, 0xf2));
    palette.setColor(QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::Highlight, QColor(0x30, 0x8c, 0xc6));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    return palette;
}

QSizeF wholeSize(const Project &project, double totalWidth, const Appearance &appearance)
{
    const Sheet sheet(project, totalWidth, appearance);
    return { sheet.width(), sheet.scaleHeight() + rowsHeight(project) + wholeFooterHeight(project, sheet.font()) };
}

void paintWhole(QPainter &painter, const Project &project, double totalWidth, const Appearance &appearance,
    const Progress &progress)
{
    const Sheet sheet(project, totalWidth, appearance, progress);
    const double height = sheet.scaleHeight() + rowsHeight(project);
    painter.fillRect(QRectF(0.0, 0.0, sheet.width(), height), sheet.palette().color(QPalette::Base));
    if (!sheet.paintRows(painter, 0, project.tasks().size() - 1, sheet.scaleHeight(), height))
        throw Cancelled();
    sheet.paintScale(painter);
    if (const std::optional<QString> range = dateRange(project)) {
        const double footer = wholeFooterHeight(project, sheet.font());
        painter.fillRect(QRectF(0.0, height, sheet.width(), footer), sheet.palette().color(QPalette::Base));
        painter.setFont(sheet.font());
        painter.setPen(sheet.palette().color(QPalette::Text));
        painter.drawText(QRectF(footerGap, height + footerGap, sheet.width() - footerGap, sheet.metrics().height()),
            Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, *range);
    }
}

QSize imagePixelSize(const Project &project, double totalWidth, const Appearance &appearance, double devicePixelRatio)
{
    const QSizeF units = wholeSize(project, totalWidth, appearance) * devicePixelRatio;
    // Saturated rather than wrapped: a size past int is refused like any other too large.
    const auto pixels = [](double extent) {
        return std::isfinite(extent) ? int(std::min(std::ceil(extent), 2147483647.0)) : 2147483647;
    };
    return { pixels(units.width()), pixels(units.height()) };
}

std::optional<QString> imageRefusal(QSize pixels)
{
    const qint64 bytes = qint64(pixels.width()) * qint64(pixels.height()) * 4;
    if (pixels.width() <= largestImageSide && pixels.height() <= largestImageSide && bytes <= largestImageBytes)
        return std::nullopt;
    return QStringLiteral("The image would be %1 \u00d7 %2 pixels, more than a PNG file can hold here. "
                          "Export the chart as PDF or SVG instead, which keep it sharp at any size.")
        .arg(pixels.width())
        .arg(pixels.height());
}

int paintPages(QPainter &painter, QPagedPaintDevice &device, const Project &project, const Appearance &appearance,
    const Progress &progress)
{
    // The device's resolution to units, whatever the printer's or the writer's dots per inch.
    const double scale = double(device.logicalDpiX()) / unitsPerInch;
    const QSizeF page(double(device.width()) / scale, double(device.height()) / scale);
    const Paging paging = layOut(project, page, appearance);
    const Sheet sheet(project, paging.totalWidth, appearance);
    const int pages = int(paging.pages.size());
    const double rowsTop = sheet.scaleHeight();
    // Titles of any length: cut before they are measured, then elided to what the footer holds.
    const QString title = corvane::ShownText::cut(project.name(), corvane::ShownText::titleLimit);
    const QFont heading = headingFont(appearance.font);

    painter.setRenderHint(QPainter::Antialiasing);
    for (int index = 0; index < pages; ++index) {
        if (index > 0 && !device.newPage())
            break;
        const Paging::Page &at = paging.pages.at(std::size_t(index));
        painter.save();
        painter.scale(scale, scale);
        // The first band's pages all leave the heading's room, so that they line up side by side.
        const bool firstBand = at.first == 0;
        const double top = firstBand ? paging.headingHeight : 0.0;
        if (index == 0 && !title.isEmpty()) {
            painter.setFont(heading);
            painter.setPen(sheet.palette().color(QPalette::Text));
            const QFontMetricsF metrics(heading);
            painter.drawText(QRectF(0.0, 0.0, page.width(), metrics.height()),
                Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                metrics.elidedText(title, Qt::ElideRight, page.width(), Qt::TextSingleLine));
        }
        painter.save();
        painter.translate(0.0, top);
        const double left = sheet.left() + double(at.column) * paging.columnWidth;
        const double right = left + paging.columnWidth;
        const qsizetype bandRows = firstBand ? paging.firstBandRows : paging.bandRows;
        const double rowsBottom = rowsTop + double(bandRows) * ChartGeometry::rowHeight + ChartGeometry::overhang;
        if (at.first <= at.last)
            sheet.paintRows(painter, at.first, at.last, rowsTop, rowsBottom, left, right);
        sheet.paintScale(painter, left, right);
        painter.restore();

        painter.setFont(sheet.font());
        painter.setPen(sheet.palette().color(QPalette::Text));
        QString number = QStringLiteral("page %1 of %2").arg(index + 1).arg(pages);
        if (at.first <= at.last)
            number += QStringLiteral(", rows %1-%2").arg(at.first + 1).arg(at.last + 1);
        if (paging.columns > 1)
            number += QStringLiteral(", across %1 of %2").arg(at.column + 1).arg(paging.columns);
        const double numberWidth = sheet.metrics().horizontalAdvance(number) + 1.0;
        const QRectF line(0.0, page.height() - sheet.metrics().height(), page.width(), sheet.metrics().height());
        painter.drawText(line, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, number);
        const double titleWidth = std::max(0.0, page.width() - numberWidth - 4.0 * footerGap);
        // The dates stay whole; a long title gives way to them.
        const QString range = dateRange(project).value_or(QString());
        const QString joined = range.isEmpty() ? QString() : QStringLiteral(" \u2014 ") + range;
        const double nameWidth = std::max(0.0, titleWidth - sheet.metrics().horizontalAdvance(joined) - 1.0);
        painter.drawText(line.adjusted(0.0, 0.0, -(page.width() - titleWidth), 0.0),
            Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
            sheet.metrics().elidedText(title, Qt::ElideRight, nameWidth, Qt::TextSingleLine) + joined);
        painter.restore();
        if (progress && !progress(index + 1, pages))
            throw Cancelled();
    }
    return pages;
}

void writePdf(const QString &path, const Project &project, const QPageSize &paper, const Appearance &appearance,
    const Progress &progress)
{
    QSaveFile file(path);
    openForWriting(file);
    {
        QPdfWriter writer(&file);
        writer.setPageLayout(QPageLayout(paper, QPageLayout::Landscape, pageMargins, QPageLayout::Millimeter));
        writer.setTitle(corvane::ShownText::cut(project.name(), corvane::ShownText::titleLimit));
        writer.setCreator(QStringLiteral("Quillfern"));
        QPainter painter;
        if (!painter.begin(&writer))
            fail(file);
        // A cancel unwinds from here, and the file, never committed, is discarded.
        paintPages(painter, writer, project, appearance, progress);
        if (!painter.end())
            fail(file);
    }
    commit(file);
}

void writeSvg(const QString &path, const Project &project, double totalWidth, const Appearance &appearance,
    const Progress &progress)
{
    const QSizeF size = wholeSize(project, totalWidth, appearance);
    QSaveFile file(path);
    openForWriting(file);
    {
        QSvgGenerator generator;
        generator.setOutputDevice(&file);
        generator.setResolution(int(unitsPerInch));
        generator.setSize(size.toSize());
        generator.setViewBox(QRectF(QPointF(0.0, 0.0), size));
        generator.setTitle(corvane::ShownText::cut(project.name(), corvane::ShownText::titleLimit));
        QPainter painter;
        if (!painter.begin(&generator))
            fail(file);
        painter.setRenderHint(QPainter::Antialiasing);
        // A cancel unwinds from here, and the file, never committed, is discarded.
        paintWhole(painter, project, totalWidth, appearance, progress);
        if (!painter.end())
            fail(file);
    }
    if (file.error() != QFileDevice::NoError)
        fail(file);
    commit(file);
}

void writePng(const QString &path, const Project &project, double totalWidth, double devicePixelRatio,
    const Appearance &appearance, const Progress &progress)
{
    if (!(devicePixelRatio > 0.0) || !std::isfinite(devicePixelRatio))
        devicePixelRatio = 1.0;
    const QSize pixels = imagePixelSize(project, totalWidth, appearance, devicePixelRatio);
    if (const std::optional<QString> refusal = imageRefusal(pixels))
        throw corvane::Exception(QStringLiteral("The chart is too large for a PNG image."), *refusal);
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        throw corvane::Exception(QStringLiteral("The chart is too large for a PNG image."),
            QStringLiteral("There is not enough memory for it. Export the chart as PDF or SVG instead."));
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(appearance.palette.color(QPalette::Base));
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        paintWhole(painter, project, totalWidth, appearance, progress);
    }
    QSaveFile file(path);
    openForWriting(file);
    if (!image.save(&file, "PNG"))
        fail(file);
    commit(file);
}

void writeCsv(const QString &path, const Project &project)
{
    const QByteArray bytes = writeProjectCsv(project);
    QSaveFile file(path);
    openForWriting(file);
    if (file.write(bytes) != bytes.size())
        fail(file);
    commit(file);
}

void writePlan(const QString &path, const Project &project, Format format)
{
    QByteArray bytes;
    try {
        bytes = PlanExchange::exportPlan(project,
            format == Format::Mspdi ? PlanExchange::Format::Mspdi : PlanExchange::Format::Planner,
            PlanExchange::defaultOrigin());
    } catch (const ProjectFileError &error) {
        throw corvane::Exception(error.message());
    }
    QSaveFile file(path);
    openForWriting(file);
    if (file.write(bytes) != bytes.size())
        fail(file);
    commit(file);
}

void write(const QString &path, const Project &project, const Request &request)
{
    switch (request.format) {
    case Format::Pdf:
        writePdf(path, project, request.paper, request.appearance, request.progress);
        break;
    case Format::Svg:
        writeSvg(path, project, request.totalWidth, request.appearance, request.progress);
        break;
    case Format::Png:
        writePng(path, project, request.totalWidth, request.devicePixelRatio, request.appearance, request.progress);
        break;
    case Format::Csv:
        writeCsv(path, project);
        break;
    case Format::Mspdi:
    case Format::Planner:
        writePlan(path, project, request.format);
        break;
    }
}

} // namespace ChartExport
