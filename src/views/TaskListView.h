#pragma once

#include "Task.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QListView;
class Project;
class TaskListModel;

// The predecessors (isSucc false) or the successors (isSucc true) of one task, under a small
// title. Dropping text that names a task anywhere on the view makes that task a predecessor or a
// successor; the Delete key on the focused list, or deleteSelectedDependency(), removes the
// selected one. The list keeps its own selection, apart from the window's.
class TaskListView final : public QWidget {
    Q_OBJECT

public:
    // The project must outlive the view.
    TaskListView(Project *project, TaskPtr referenceTask, bool isSucc, QWidget *parent = nullptr);

    [[nodiscard]] bool isSucc() const { return m_isSucc; }
    [[nodiscard]] const TaskPtr &referenceTask() const { return m_referenceTask; }
    [[nodiscard]] QListView *listView() const { return m_list; }
    [[nodiscard]] TaskListModel *listModel() const { return m_model; }

    // The id of the selected entry; none when nothing is selected.
    [[nodiscard]] std::optional<qint64> selectedTaskId() const;
    void setSelectedTaskId(std::optional<qint64> id);

    // Removes the dependency on the selected entry and clears the selection; does nothing
    // when nothing is selected or the selected task has left the project.
    void deleteSelectedDependency();

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void makeDependency(const QString &name);

    QPointer<Project> m_project;
    TaskPtr m_referenceTask;
    bool m_isSucc;
    QLabel *m_title;
    QListView *m_list;
    TaskListModel *m_model;
    // Kept across a model reset, which forgets every selection.
    std::optional<qint64> m_selectionBeforeReset;
};
