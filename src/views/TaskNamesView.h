#pragma once

#include <QListView>
#include <QPointer>

class IntPublisher;
class Project;
class TaskNamesModel;

// The names of the project's tasks, one row per task in task order, beside the chart. Its
// highlight is the window's selection, both ways. A row dragged out carries the task's name as
// plain text; a row dragged within the list moves the task there.
class TaskNamesView final : public QListView {
    Q_OBJECT

public:
    // The project and the selection must outlive the view.
    TaskNamesView(Project *project, IntPublisher *selection, QWidget *parent = nullptr);

    [[nodiscard]] TaskNamesModel *namesModel() const { return m_model; }
    [[nodiscard]] QSize sizeHint() const override;

protected:
    void startDrag(Qt::DropActions supportedActions) override;
    void dropEvent(QDropEvent *event) override;

private:
    void showSelection();
    void takeSelection();

    QPointer<IntPublisher> m_selection;
    TaskNamesModel *m_model;
    // Set while the view itself writes the highlight, or the model reshapes the rows.
    bool m_syncing = false;
    bool m_modelChanging = false;
};
