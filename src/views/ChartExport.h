#pragma once

#include <QFont>
#include <QPageSize>
#include <QPalette>
#include <QSize>
#include <QString>

#include <exception>
#include <functional>
#include <optional>

class Project;
class QPagedPaintDevice;
class QPainter;

// The chart as files and paper: the names column beside the chart, the time scale above it, all
// painted by ChartPainter as the window paints it. Needs a QGuiApplication for fonts, no widgets.
//
// Everything is laid out in the window's units, 96 to the inch, with the font fixed in pixels of
// those units, so that what is measured is what is drawn on any device's resolution.
namespace ChartExport {

enum class Format { Pdf, Svg, Png, Csv, Mspdi, Planner };

// The format a file name asks for by its extension, in any case; none for any other.
[[nodiscard]] std::optional<Format> formatForPath(const QString &path);

// The paper the locale uses: Letter where it measures in inches the US way, else A4.
[[nodiscard]] QPageSize defaultPageSize();

// Ink on white, whatever the desktop's colours: what paper and shared documents want.
[[nodiscard]] QPalette paperPalette();

struct Appearance {
    QPalette palette = paperPalette();
    // As the window shows it; the export uses its pixel size at the screen's resolution.
    QFont font;
    bool dependencies = true;
    // The window's span width when zoomed in; none at fit. Paper is never narrower per hour.
    std::optional<double> zoomedWidth;
};

// Told as the work goes how many of how many steps are done; returning false stops the work, which
// then throws Cancelled.
using Progress = std::function<bool(int done, int total)>;
class Cancelled : public std::exception {
public:
    [[nodiscard]] const char *what() const noexcept override { return "the export was cancelled"; }
};

// The chart's width without a window: the span of the project at zoom 1 in a chart this wide.
inline constexpr double defaultChartWidth = 1000.0;
inline constexpr double namesWidth = 200.0;
// On paper a task of the plan's median length is drawn at least this wide, a quarter inch.
inline constexpr double readableBoxWidth = 24.0;
// However the scale is asked for, a document stops at this many pages.
inline constexpr int mostPages = 10000;

// The pixel size of an image of the whole chart, and why it may not be made; limits of the PNG
// writer and of memory, checked before anything is allocated.
inline constexpr qint64 largestImageSide = 32767;
inline constexpr qint64 largestImageBytes = qint64(1) << 30;
[[nodiscard]] QSize imagePixelSize(
    const Project &project, double totalWidth, const Appearance &appearance, double devicePixelRatio);
[[nodiscard]] std::optional<QString> imageRefusal(QSize pixels);

// The whole chart at a chart width (totalWidth as the window's zoom gives it), with the names
// column and the scale, in one drawing; wholeSize is its extent in units.
[[nodiscard]] QSizeF wholeSize(const Project &project, double totalWidth, const Appearance &appearance);
void paintWhole(QPainter &painter, const Project &project, double totalWidth, const Appearance &appearance,
    const Progress &progress = {});

// Pages on a paged device (a PDF writer or a printer) already open on painter, one after the
// other. One time scale for the whole document, wide enough that a typical box is readable and no
// narrower per hour than the window's zoom: where it is wider than a page the chart goes over pages
// across time as well as down the rows, pages without anything drawn on them left out. Each page
// has the names of its rows, its part of the scale and the footer with the title and "page 2 of 12,
// rows 27-52, across 1 of 3"; the first has the project's name as a heading. Returns the number of
// pages.
int paintPages(QPainter &painter, QPagedPaintDevice &device, const Project &project, const Appearance &appearance,
    const Progress &progress = {});

// Each writes the file atomically and throws corvane::SystemError when it cannot be written, or
// corvane::Exception when the image would be too large. A cancelled one leaves no file.
void writePdf(const QString &path, const Project &project, const QPageSize &paper, const Appearance &appearance,
    const Progress &progress = {});
void writeSvg(const QString &path, const Project &project, double totalWidth, const Appearance &appearance,
    const Progress &progress = {});
void writePng(const QString &path, const Project &project, double totalWidth, double devicePixelRatio,
    const Appearance &appearance, const Progress &progress = {});
void writeCsv(const QString &path, const Project &project);
// MS Project XML or a GNOME Planner plan; a plan without a start date from PlanExchange::defaultOrigin().
void writePlan(const QString &path, const Project &project, Format format);

struct Request {
    Format format = Format::Pdf;
    // The window's chart width at its zoom, for SVG and PNG.
    double totalWidth = defaultChartWidth;
    double devicePixelRatio = 1.0;
    QPageSize paper = defaultPageSize();
    Appearance appearance;
    // Page by page for a PDF, a few thousand rows at a time for a drawing of the whole chart.
    Progress progress;
};
void write(const QString &path, const Project &project, const Request &request);

} // namespace ChartExport
