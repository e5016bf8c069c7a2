#pragma once

#include "Task.h"

#include <QPointer>
#include <QWidget>

class IntPublisher;
class QVBoxLayout;

// The left pane of a project window: the selected task's panel, or the project's when nothing
// is selected or the selected task has left the project. Rebuilt when the selection changes.
class PropertiesView final : public QWidget {
    Q_OBJECT

public:
    // The project and the selection must outlive the view.
    PropertiesView(Project *project, IntPublisher *selection, QWidget *parent = nullptr);

    [[nodiscard]] QSize sizeHint() const override;
    // The panel shown now: a TaskAttributesView or a ProjectAttributesView.
    [[nodiscard]] QWidget *panel() const { return m_panel; }
    // The task whose panel is shown; none while the project's is.
    [[nodiscard]] const TaskPtr &shownTask() const { return m_shownTask; }

private:
    void follow();

    QPointer<Project> m_project;
    QPointer<IntPublisher> m_selection;
    QVBoxLayout *m_layout;
    QPointer<QWidget> m_panel;
    TaskPtr m_shownTask;
    bool m_following = false;
};
