#pragma once

#include "Task.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QLineEdit;
class TaskListView;

// How the panels write and read minutes; times in the model are seconds.
namespace MinuteText {

// Seconds as whole minutes, halves away from zero. Values beyond a 64-bit count of minutes are
// shown in exponent form, since no whole number fits them.
[[nodiscard]] QString wholeMinutes(double seconds);
// Minutes typed by the user, read as the C library reads a double in the "C" locale: the whole
// text, no leading white space. None when that fails or the value is not finite.
[[nodiscard]] std::optional<double> readMinutes(const QString &text);

} // namespace MinuteText

// A line edit claims Ctrl+Z and Ctrl+Shift+Z for itself even with nothing typed to take back.
// Once it has none, these keys go on to the window, whose history they then step through.
void leaveUndoKeysToTheWindow(QLineEdit *field);

// Edits one task: its title, duration and exclusion group, shows where it starts, and lists its
// predecessors and successors. A field hands its text to the model when editing finishes (Return,
// or the focus leaving it), so one edit is one undo step; refused text beeps and the field shows
// the model's value again.
class TaskAttributesView final : public QWidget {
    Q_OBJECT

public:
    // The project must outlive the view.
    TaskAttributesView(Project *project, TaskPtr task, QWidget *parent = nullptr);
    ~TaskAttributesView() override;

    [[nodiscard]] const TaskPtr &task() const { return m_task; }
    [[nodiscard]] QLineEdit *titleField() const { return m_title; }
    [[nodiscard]] QLineEdit *durationField() const { return m_duration; }
    [[nodiscard]] QLineEdit *groupField() const { return m_group; }
    [[nodiscard]] QLabel *startLabel() const { return m_start; }
    // The start and end as dates, hidden for a plan without dates, and the task's slack.
    [[nodiscard]] QLabel *startsLabel() const { return m_starts; }
    [[nodiscard]] QLabel *endsLabel() const { return m_ends; }
    [[nodiscard]] QLabel *slackLabel() const { return m_slack; }
    [[nodiscard]] TaskListView *predecessorsView() const { return m_predecessors; }
    [[nodiscard]] TaskListView *successorsView() const { return m_successors; }

private:
    void commitTitle();
    void commitDuration();
    void commitGroup();
    void showValues();
    void showSlack();
    // The owning project while the task still belongs to it; none once it has left.
    [[nodiscard]] Project *liveProject() const;

    QPointer<Project> m_project;
    TaskPtr m_task;
    QLineEdit *m_title;
    QLineEdit *m_duration;
    QLineEdit *m_group;
    QLabel *m_start;
    QLabel *m_starts;
    QLabel *m_ends;
    QLabel *m_slack;
    TaskListView *m_predecessors;
    TaskListView *m_successors;
};
