#pragma once

#include "Task.h"

#include <QDialog>
#include <QHash>
#include <QPointer>

class Project;
class QCompleter;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Picks, by typing part of its name, the task that becomes a predecessor (isSucc false) or a
// successor (isSucc true) of the reference task; accepting makes the dependency as a drop on the
// reference task's list would. Tasks whose shown names coincide are told apart by id and start.
// Meant to be shown with open(), over the project window it is given as parent.
class LinkTaskDialog final : public QDialog {
    Q_OBJECT

public:
    // The project must outlive the dialog.
    LinkTaskDialog(Project *project, TaskPtr referenceTask, bool isSucc, QWidget *parent = nullptr);

    [[nodiscard]] QLineEdit *field() const { return m_field; }
    [[nodiscard]] QCompleter *completer() const { return m_completer; }
    [[nodiscard]] QPushButton *okButton() const;
    // The task the typed text names; none when it names no task or several.
    [[nodiscard]] TaskPtr chosenTask() const;

public Q_SLOTS:
    void accept() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void textChanged(const QString &text);
    // Puts the first entry offered for the typed text in the field; whether it names one task.
    bool takeFirstCompletion();

    QPointer<Project> m_project;
    TaskPtr m_referenceTask;
    bool m_isSucc;
    QLineEdit *m_field;
    QLabel *m_problem;
    QDialogButtonBox *m_buttons;
    QCompleter *m_completer;
    // Each entry, and each shown name alone, to its task; null where a text fits several.
    QHash<QString, TaskPtr> m_tasksByText;
};
