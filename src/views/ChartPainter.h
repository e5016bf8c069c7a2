#pragma once

#include "ChartGeometry.h"
#include "Task.h"

#include <QFont>
#include <QPalette>
#include <functional>
#include <optional>

class CalendarScale;
class Project;
class SlackTracker;
class QFontMetricsF;
class QPainter;
class TaskBox;

// Paints the chart onto any painter: the window, a printer, a file. Works in content coordinates:
// row 0 at y 0 and the project's start at x 0, with the caller's transform placing them. Only the
// given rows and the given range of x are visited, so a frame costs what is on it, however long
// the project is and however far it is zoomed.
class ChartPainter {
public:
    struct Options {
        bool dependencies = true;
        bool grid = true;
        std::optional<qint64> selectedId;
        // The selected task's dependencies drawn in the highlight colour, the others dimmed.
        bool followSelection = false;
        // Critical tasks with red borders and the dependencies between them in red; none: no highlight.
        const SlackTracker *critical = nullptr;
        // Hairlines one device pixel wide, which a screen strokes fastest; a printer's pixel is
        // too fine for that, so paged output draws them a point wide.
        bool cosmeticLines = true;
        // A box being dragged, drawn where the pointer holds it rather than where its task is.
        const TaskBox *dragged = nullptr;
        // Paper cannot scroll: a label of the scale or of a box that the range's ends would cut is
        // left out.
        bool wholeLabels = false;
        // Told every few thousand rows how many of how many steps are done; returning false
        // stops the painting there.
        std::function<bool(qsizetype done, qsizetype total)> progress;
    };

    // The height of the time scale drawn with a font.
    [[nodiscard]] static double scaleHeight(const QFont &font);

    ChartPainter(const Project &project, const ChartGeometry &geometry, const QPalette &palette, const QFont &font,
        Options options);

    // Grid lines, then the dependencies of the rows, then their boxes. Labels set beside boxes keep
    // within [left, right]. Returns false when the progress stopped it.
    bool paintRows(QPainter &painter, qsizetype first, qsizetype last, double left, double right) const;
    // The steps paintRows tells its progress in for that many rows.
    [[nodiscard]] qsizetype progressSteps(qsizetype rows) const { return rows * (m_options.dependencies ? 2 : 1); }
    // The time scale across [left, right], in a band of scaleHeight() from y 0.
    void paintScale(QPainter &painter, double left, double right) const;

    // The rows whose boxes reach into the band of content y from top to bottom.
    [[nodiscard]] static qsizetype firstRowReaching(double top);
    [[nodiscard]] static qsizetype lastRowReaching(double bottom, qsizetype rowCount);

private:
    void paintGrid(QPainter &painter, double top, double bottom, double left, double right) const;
    // With a start date: weekends shaded, lines where the calendar's major steps begin.
    void paintCalendarGrid(
        QPainter &painter, const CalendarScale &calendar, double top, double bottom, double left, double right) const;
    void paintMajorTick(
        QPainter &painter, const QFontMetricsF &metrics, double x, double right, const QString &label) const;
    void paintCalendarScale(QPainter &painter, const CalendarScale &calendar, double left, double right) const;
    // The rows being drawn, and the band of y their boxes cover.
    struct Band {
        qsizetype first;
        qsizetype last;
        double top;
        double bottom;
    };
    bool paintDependencies(QPainter &painter, qsizetype first, qsizetype last) const;
    // How one dependency is drawn; each kind in a pass of its own, the stronger over the weaker.
    enum class Link : quint8 { Plain, Dimmed, Critical, Selected };
    [[nodiscard]] Link linkOf(const Task &predecessor, const Task &successor) const;
    bool paintLinks(QPainter &painter, qsizetype first, qsizetype last, Link kind, bool report) const;
    // Whether painting goes on after this many of the rows' steps.
    [[nodiscard]] bool goOn(qsizetype done, qsizetype rows) const;
    void paintDependency(QPainter &painter, const Task &predecessor, qsizetype predecessorRow, const Task &successor,
        qsizetype successorRow, const Band &band) const;
    [[nodiscard]] QRectF boxOf(const Task &task, qsizetype row) const;
    [[nodiscard]] bool isDragged(const Task &task) const;
    [[nodiscard]] double boxCentreXOf(const Task &task) const;
    // boxOf(task, row).right(), without making the rectangle.
    [[nodiscard]] double boxRightOf(const Task &task) const;

    const Project &m_project;
    ChartGeometry m_geometry;
    const QPalette &m_palette;
    QFont m_font;
    Options m_options;
};
