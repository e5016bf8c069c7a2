#pragma once

#include "IntPublisher.h"

#include <QPointer>
#include <QWidget>

class FindBar;
class GanttView;
class Project;
class PropertiesView;
class QSplitter;
class TaskNamesView;

// The whole content of a project window: the properties panel on the left, and a split area with
// the task names beside the chart. It owns the window's one selection. The window controller owns
// this view; the project outlives it.
class ProjectView : public QWidget {
    Q_OBJECT

public:
    explicit ProjectView(Project *project, QWidget *parent = nullptr);

    [[nodiscard]] IntPublisher *selectedTaskIdHolder() { return &m_selection; }
    [[nodiscard]] PropertiesView *propertiesView() const { return m_properties; }
    [[nodiscard]] TaskNamesView *taskNamesView() const { return m_names; }
    [[nodiscard]] GanttView *ganttView() const { return m_chart; }
    [[nodiscard]] QSplitter *splitter() const { return m_splitter; }
    [[nodiscard]] FindBar *findBar() const { return m_findBar; }
    // Edit > Find...: the find bar over the names and the chart, its field taking the keyboard.
    void showFindBar();

    // Critical tasks highlighted in the chart and the names list.
    void setHighlightCritical(bool highlight);
    [[nodiscard]] bool highlightsCritical() const;

    // Deletes the selected task, if any, and clears the selection either way.
    void deleteSelectedTask();
    // The delete command goes to what has focus: a dependency list loses its selected dependency,
    // the names list or the chart loses the selected task. Returns whether anything took it.
    bool deleteCommand();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    // Keeps the names level with the chart's rows, above (its time scale) and below (its
    // overhang and scroll bar).
    void alignRows();
    [[nodiscard]] QWidget *titleField() const;

    Project *m_project;
    IntPublisher m_selection;
    PropertiesView *m_properties;
    QSplitter *m_splitter;
    FindBar *m_findBar;
    TaskNamesView *m_names;
    GanttView *m_chart;
    // Where Escape in the panel sends the keyboard back to: the list or the chart that Enter left.
    QPointer<QWidget> m_returnFocus;
};
