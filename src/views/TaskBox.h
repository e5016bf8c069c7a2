#pragma once

#include "ChartGeometry.h"
#include "Task.h"

#include <QColor>
#include <QRectF>
#include <QString>

class QPainter;
class QPalette;

// One row of the chart: the task's box, and the state of a drag of it. A painter class rather
// than a widget, so that the chart costs only its visible rows however long the project is.
// Holds its task, which therefore outlives a drag even when the project lets go of it.
class TaskBox {
public:
    TaskBox(TaskPtr task, qsizetype row);

    [[nodiscard]] const TaskPtr &task() const { return m_task; }
    [[nodiscard]] qsizetype row() const { return m_row; }
    void setRow(qsizetype row) { m_row = row; }

    [[nodiscard]] bool isDragging() const { return m_isDragging; }
    // The box's centre x while a drag is in progress.
    [[nodiscard]] double dragPosition() const { return m_dragPosition; }
    void dragTo(double centreX);
    void endDrag() { m_isDragging = false; }

    // The centre x the model gives the box, ignoring any drag.
    [[nodiscard]] double restingCentreX(const ChartGeometry &geometry) const;
    [[nodiscard]] double width(const ChartGeometry &geometry) const;
    // Where the box is drawn, in content coordinates.
    [[nodiscard]] QRectF rect(const ChartGeometry &geometry) const;

    // Labels that do not fit inside the box are set beside it, between chartLeft and chartRight
    // (content coordinates).
    // A selected box is filled with the palette's highlight; a critical one has a red border.
    // With wholeLabels (paper, which cannot scroll) a label that would be cut at either end is
    // left out.
    void paint(QPainter &painter, const ChartGeometry &geometry, const QPalette &palette, double chartLeft,
        double chartRight, bool selected = false, bool critical = false, bool wholeLabels = false) const;

    // The duration in whole minutes, halves away from zero. Beyond the 64-bit range the rounded
    // minutes are shown in exponent form, infinities as signed infinity signs and not-a-number as
    // a question mark: no box is left without a label, and none shows a wrapped number.
    [[nodiscard]] static QString durationLabel(double seconds);
    // A green with enough contrast against the palette's Base colour, light or dark.
    [[nodiscard]] static QColor borderColor(const QPalette &palette);
    // The red of the critical path, as readable on the palette's Base colour.
    [[nodiscard]] static QColor criticalColor(const QPalette &palette);

private:
    TaskPtr m_task;
    qsizetype m_row;
    bool m_isDragging = false;
    double m_dragPosition = 0.0;
};
