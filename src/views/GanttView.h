#pragma once

#include "ChartGeometry.h"
#include "Project.h"
#include "TaskBox.h"

#include <QAbstractScrollArea>
#include <QList>
#include <QPointF>
#include <QPointer>
#include <optional>

class IntPublisher;
class TimeScaleHeader;

// The chart: a time scale above one row per task in the project's order, each with the task's
// box on a time axis that runs from the project's start to its end across the chart's width, or
// wider when zoomed in. A click on a box selects its task; a horizontal drag moves the task within
// the limits of its dependencies, its exclusion group (lifted while Shift is held) and the project
// start (lifted while Ctrl or Alt is held: many window managers keep Alt+drag for moving windows).
// Only the end of a drag changes the model, in one moveTask call. Dependencies are drawn as arrows
// under the boxes.
//
// With the keyboard: Up, Down, Home and End select; Left and Right move the selected task by one
// minor tick of the time scale, with the limits of a drag under the same modifiers.
//
// The project and the selection must outlive the view; the view owns neither.
class GanttView : public QAbstractScrollArea {
    Q_OBJECT

public:
    // Rows are inset by half the margin on each side, so labels of boxes at the axis ends stay visible.
    static constexpr double rowInset = ChartGeometry::margin * 0.5;
    // How far one Zoom In or Zoom Out goes, and one notch of the wheel.
    static constexpr double zoomStep = 1.4142135623730951;
    // However long the project, a minute is drawn no wider than this when zoomed in.
    static constexpr double widestMinute = 240.0;

    GanttView(Project *project, IntPublisher *selection, QWidget *parent = nullptr);
    ~GanttView() override;

    [[nodiscard]] Project *project() const { return m_project; }
    // The width the project's whole span occupies: at fit, the viewport's width less the margin.
    [[nodiscard]] double totalWidth() const;
    [[nodiscard]] ChartGeometry chartGeometry() const;
    // The row whose box, or the hit area about a thin box, lies under a viewport position; the
    // lower row where two overlap; none when no box is there.
    [[nodiscard]] std::optional<qsizetype> rowAt(QPointF position) const;
    // The box drawn in a row, in viewport coordinates, following a drag in progress.
    [[nodiscard]] QRectF boxRect(qsizetype row) const;
    [[nodiscard]] bool isDragging() const { return m_box && m_box->isDragging(); }
    [[nodiscard]] QWidget *timeScale() const;

    // How many times wider than at fit the project's span is drawn: 1 fits it exactly.
    [[nodiscard]] double zoom() const { return m_zoom; }
    [[nodiscard]] double maximumZoom() const;
    // Zooms about a viewport x, which keeps showing the same time.
    void setZoom(double zoom, double anchorX);
    [[nodiscard]] bool showsDependencies() const { return m_showDependencies; }
    [[nodiscard]] bool highlightsCritical() const { return m_highlightCritical; }
    // What the tooltip and readers say of a task: its dates (or minutes without a start date),
    // its duration and its slack.
    [[nodiscard]] static QString taskSummary(const Project &project, const Task &task);

    // The time scale's minor tick in seconds, which the keys move a task by.
    [[nodiscard]] double minorStep() const;
    // Moves the selected task one minor tick earlier (direction -1) or later (1), limited as a
    // drag under the modifiers is. Returns whether a task was selected.
    bool stepSelectedTask(int direction, Qt::KeyboardModifiers modifiers);

    [[nodiscard]] QSize sizeHint() const override;

public Q_SLOTS:
    void zoomIn();
    void zoomOut();
    void fitWholeProject();
    void setShowDependencies(bool show);
    // Critical tasks with red borders and the dependencies between them in red.
    void setHighlightCritical(bool highlight);

Q_SIGNALS:
    void zoomChanged(double zoom);
    void showDependenciesChanged(bool show);
    void highlightCriticalChanged(bool highlight);
    // The viewport moved or changed size within the view: the rows' area beside it follows.
    void rowAreaChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    friend class TimeScaleHeader;

    void tasksChanged();
    void updateScrollRanges();
    void selectionChanged();
    void selectRow(qsizetype row);
    void scrollToRow(qsizetype row);
    // Listens to exactly the tasks whose rows are on screen, so that observing costs the same
    // for ten tasks as for a hundred thousand.
    void observeRows(qsizetype first, qsizetype last);
    void stopObservingRows();
    [[nodiscard]] double contentTop() const;
    [[nodiscard]] double contentLeft() const;
    [[nodiscard]] qsizetype selectedRow() const;
    void hover(QPointF position);
    [[nodiscard]] double translationFor(QPointF position) const;
    // The successor whose start holds a drag of the task to the right, if one does.
    [[nodiscard]] const Task *holdingSuccessor(const Task &task) const;
    [[nodiscard]] static DragMode dragModeFor(Qt::KeyboardModifiers modifiers);

    QPointer<Project> m_project;
    QPointer<IntPublisher> m_selection;
    TimeScaleHeader *m_scale;

    // The box under a press, and then being dragged; gone with the release.
    std::optional<TaskBox> m_box;
    QPointF m_pressPosition;
    DragMode m_dragMode;

    bool m_hovering = false;
    // The tooltip saying a successor holds the drag is up.
    bool m_heldTip = false;
    double m_zoom = 1.0;
    bool m_showDependencies = true;
    bool m_highlightCritical = false;
    // The span's width when the scroll ranges were last set, to keep the left edge's time on resizing.
    double m_laidOutWidth = 0.0;

    QList<QMetaObject::Connection> m_rowConnections;
    qsizetype m_observedFirst = 0;
    qsizetype m_observedLast = -1;
    bool m_observedStale = true;
};
