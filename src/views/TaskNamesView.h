#pragma once

#include <QListView>
#include <QPersistentModelIndex>
#include <QPointer>

class IntPublisher;
class Project;
class TaskNamesModel;

// The names of the project's tasks, one row per task in task order, beside the chart. Its
// highlight is the window's selection, both ways. A row dragged out carries the task's name as
// plain text; a row dragged within the list moves the task there. A click selects on its release,
// so that a press that becomes a drag leaves the selection where it was.
class TaskNamesView final : public QListView {
    Q_OBJECT

public:
    // The project and the selection must outlive the view.
    TaskNamesView(Project *project, IntPublisher *selection, QWidget *parent = nullptr);

    [[nodiscard]] TaskNamesModel *namesModel() const { return m_model; }
    [[nodiscard]] QSize sizeHint() const override;
    // Room above and below the rows, to keep them level with the chart's: a heading over the
    // chart's time scale, and the chart's room below its last box and its scroll bar.
    void setRowAreaMargins(int top, int bottom);
    // Names of critical tasks in red.
    void setHighlightCritical(bool highlight);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dropEvent(QDropEvent *event) override;

private:
    void showSelection();
    void takeSelection();
    // Offers the row's name; hotSpot is where the pointer holds the row, in viewport coordinates.
    void dragRow(const QModelIndex &index, QPoint hotSpot, Qt::DropActions actions);

    // The row under a left press that may still turn out a click; none once it became a drag.
    QPersistentModelIndex m_pressedIndex;
    QPoint m_pressPosition;
    // Whether the left button's press went to us rather than to the list's own handling.
    bool m_pressTaken = false;

    QPointer<IntPublisher> m_selection;
    QPointer<Project> m_project;
    TaskNamesModel *m_model;
    QWidget *m_heading;
    // Set while the view itself writes the highlight, or the model reshapes the rows.
    bool m_syncing = false;
    bool m_modelChanging = false;
};
