#pragma once

#include <QPointer>
#include <QWidget>
#include <vector>

class IntPublisher;
class Project;
class QLabel;
class QLineEdit;
class QToolButton;

// Edit > Find...: a field over the names and the chart. Typing selects the first task whose name
// holds the text, ignoring case and accents; Return or F3 goes to the next match, Shift+Return or
// Shift+F3 to the one before, both round the list; the bar says "3 of 17" or "No task matches",
// also to screen readers. Escape closes it and leaves the selection where it is, the keyboard
// going back to where it was. The project and the selection must outlive the bar.
class FindBar final : public QWidget {
    Q_OBJECT

public:
    FindBar(Project *project, IntPublisher *selection, QWidget *parent = nullptr);

    [[nodiscard]] QLineEdit *field() const { return m_field; }
    [[nodiscard]] QLabel *countLabel() const { return m_count; }

    // Shows the bar with its text selected, remembering where the keyboard was.
    void open();
    void close();

    // The text as it is compared: decomposed, without its accents, case folded.
    [[nodiscard]] static QString folded(QStringView text);
    // Whether a name holds the folded text.
    [[nodiscard]] static bool matches(QStringView name, const QString &foldedText);
    // The rows of the project whose names hold the text, in task order.
    [[nodiscard]] static std::vector<qsizetype> rowsMatching(const Project &project, const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void search();
    void step(int direction);
    void selectCurrent();
    void showCount();

    QPointer<Project> m_project;
    QPointer<IntPublisher> m_selection;
    QLineEdit *m_field;
    QLabel *m_count;
    QToolButton *m_closeButton;
    QPointer<QWidget> m_returnFocus;
    std::vector<qsizetype> m_matches;
    // Index into m_matches of the task selected by the bar; -1 for none.
    qsizetype m_current = -1;
    // The plan changed since the matches were found.
    bool m_stale = false;
};
