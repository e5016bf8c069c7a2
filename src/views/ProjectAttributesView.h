#pragma once

#include <QPointer>
#include <QWidget>

class Project;
class QLabel;
class QLineEdit;

// The project's title, editable, and its duration, shown when no task is selected. The title is
// handed to the project when editing finishes; any text is accepted, the empty one too.
class ProjectAttributesView final : public QWidget {
    Q_OBJECT

public:
    // The project must outlive the view.
    explicit ProjectAttributesView(Project *project, QWidget *parent = nullptr);
    ~ProjectAttributesView() override;

    [[nodiscard]] QLineEdit *titleField() const { return m_title; }
    [[nodiscard]] QLabel *durationLabel() const { return m_duration; }

private:
    void commitTitle();
    void showValues();

    QPointer<Project> m_project;
    QLineEdit *m_title;
    QLabel *m_duration;
};
