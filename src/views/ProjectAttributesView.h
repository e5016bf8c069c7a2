#pragma once

#include <QPointer>
#include <QWidget>

class Project;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPushButton;

// The project's title, editable, its duration, and the date it starts on, shown when no task is
// selected. The title is handed to the project when editing finishes; any text is accepted, the
// empty one too. The start date field is empty for a plan without dates; its earliest value
// clears the date.
class ProjectAttributesView final : public QWidget {
    Q_OBJECT

public:
    // The project must outlive the view.
    explicit ProjectAttributesView(Project *project, QWidget *parent = nullptr);
    ~ProjectAttributesView() override;

    [[nodiscard]] QLineEdit *titleField() const { return m_title; }
    [[nodiscard]] QLabel *durationLabel() const { return m_duration; }
    [[nodiscard]] QDateTimeEdit *originField() const { return m_origin; }
    [[nodiscard]] QPushButton *todayButton() const { return m_today; }
    [[nodiscard]] QPushButton *clearDateButton() const { return m_clear; }

    // Today at 08:00, when a working day starts.
    [[nodiscard]] static QDateTime startOfToday();

private:
    void commitTitle();
    void commitOrigin();
    void showValues();

    QPointer<Project> m_project;
    QLineEdit *m_title;
    QLabel *m_duration;
    QDateTimeEdit *m_origin;
    QPushButton *m_today;
    QPushButton *m_clear;
};
