#include "LinkTaskDialog.h"

#include "Beep.h"
#include "Linking.h"
#include "Project.h"
#include "ShownText.h"
#include "TaskAttributesView.h"
#include "TextForm.h"

#include <QCompleter>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QStringListModel>
#include <QVBoxLayout>

#include <vector>

namespace {

constexpr int promptNameWidth = 280;

// What the field offers for a task: its shown name, followed by its id and start when the name is
// empty or shared with another task.
QString entryFor(const QString &shownName, const Task &task, const Project &project, bool sharedName)
{
    if (!sharedName && !shownName.isEmpty())
        return shownName;
    const QString where
        = LinkTaskDialog::tr("#%1, starts at %2 min")
              .arg(QString::number(task.id()), MinuteText::wholeMinutes(task.start() - project.start()));
    return shownName.isEmpty() ? where : shownName + QStringLiteral(" — ") + where;
}

} // namespace

LinkTaskDialog::LinkTaskDialog(Project *project, TaskPtr referenceTask, bool isSucc, QWidget *parent)
    : QDialog(parent)
    , m_project(project)
    , m_referenceTask(std::move(referenceTask))
    , m_isSucc(isSucc)
    , m_field(new QLineEdit(this))
    , m_problem(new QLabel(this))
    , m_buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this))
    , m_completer(new QCompleter(this))
{
    setWindowTitle(isSucc ? tr("Add Successor") : tr("Add Predecessor"));
    auto *prompt = new QLabel(this);
    prompt->setObjectName(QStringLiteral("prompt"));
    prompt->setTextFormat(Qt::PlainText);
    // A long name must not stretch the dialog across the screen.
    const QString name = prompt->fontMetrics().elidedText(
        corvane::ShownText::cut(m_referenceTask->name()), Qt::ElideRight, promptNameWidth);
    prompt->setText((isSucc ? tr("Task to follow %1:") : tr("Task to precede %1:")).arg(TextForm::quoted(name)));
    prompt->setBuddy(m_field);
    m_problem->setObjectName(QStringLiteral("problem"));
    m_problem->setTextFormat(Qt::PlainText);
    m_problem->hide();

    // Built once: completing a keystroke then filters the list without asking the project.
    const TaskList &tasks = project->tasks();
    std::vector<QString> shown;
    shown.reserve(std::size_t(tasks.size()));
    QHash<QString, int> uses;
    uses.reserve(tasks.size());
    for (const TaskPtr &task : tasks) {
        shown.push_back(corvane::ShownText::cut(task->name()));
        ++uses[shown.back()];
    }
    QStringList entries;
    entries.reserve(tasks.size());
    m_tasksByText.reserve(tasks.size() * 2);
    const auto note = [this](const QString &text, const TaskPtr &task) {
        const auto found = m_tasksByText.find(text);
        if (found == m_tasksByText.end())
            m_tasksByText.insert(text, task);
        else if (found.value() != task)
            found.value() = nullptr;
    };
    for (qsizetype row = 0; row < tasks.size(); ++row) {
        const TaskPtr &task = tasks.at(row);
        const QString &name = shown[std::size_t(row)];
        const QString entry = entryFor(name, *task, *project, uses.value(name) > 1);
        entries.append(entry);
        note(entry, task);
        if (!name.isEmpty() && entry != name)
            note(name, task);
    }
    m_completer->setModel(new QStringListModel(entries, m_completer));
    m_completer->setCaseSensitivity(Qt::CaseInsensitive);
    m_completer->setFilterMode(Qt::MatchContains);
    m_completer->setCompletionMode(QCompleter::PopupCompletion);
    // Measuring every row of a list that can hold all the tasks would stall its first showing.
    auto *popup = new QListView;
    popup->setUniformItemSizes(true);
    m_completer->setPopup(popup);
    m_field->setCompleter(m_completer);
    // Ahead of the completer's own filter, which would only close the list.
    m_completer->popup()->installEventFilter(this);
    m_field->installEventFilter(this);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addWidget(m_field);
    layout->addWidget(m_problem);
    layout->addWidget(m_buttons);
    setMinimumWidth(360);

    connect(m_buttons, &QDialogButtonBox::accepted, this, &LinkTaskDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &LinkTaskDialog::reject);
    connect(m_field, &QLineEdit::textChanged, this, &LinkTaskDialog::textChanged);
    textChanged(QString());
}

QPushButton *LinkTaskDialog::okButton() const
{
    return m_buttons->button(QDialogButtonBox::Ok);
}

bool LinkTaskDialog::eventFilter(QObject *watched, QEvent *event)
{
    // With nothing picked from the list, Return takes a full name as it stands, and a part of one
    // the first task the list offers for it.
    const bool inList = watched == m_completer->popup();
    if ((inList || watched == m_field) && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter)
            && !(inList && m_completer->popup()->currentIndex().isValid()) && (chosenTask() || takeFirstCompletion())) {
            m_completer->popup()->hide();
            accept();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

bool LinkTaskDialog::takeFirstCompletion()
{
    // A name several tasks share is no part of a name: the person must say which.
    const QString typed = m_field->text();
    if (typed.isEmpty() || m_tasksByText.contains(typed))
        return false;
    m_completer->setCompletionPrefix(typed);
    if (m_completer->completionCount() == 0 || !m_completer->setCurrentRow(0))
        return false;
    m_field->setText(m_completer->currentCompletion());
    return chosenTask() != nullptr;
}

TaskPtr LinkTaskDialog::chosenTask() const
{
    return m_tasksByText.value(m_field->text());
}

void LinkTaskDialog::textChanged(const QString &text)
{
    const auto found = m_tasksByText.constFind(text);
    const bool chosen = found != m_tasksByText.cend() && found.value();
    okButton()->setEnabled(chosen);
    if (!chosen && !text.isEmpty())
        m_problem->setText(found == m_tasksByText.cend()
                ? tr("No task has this name.")
                : tr("Several tasks have this name: choose one from the list."));
    m_problem->setVisible(!chosen && !text.isEmpty());
}

void LinkTaskDialog::accept()
{
    const TaskPtr other = chosenTask();
    if (!other)
        return;
    QDialog::accept();
    // Either task may have left the project while the dialog was up.
    if (!m_project || m_project->taskWithId(other->id()) != other
        || m_project->taskWithId(m_referenceTask->id()) != m_referenceTask) {
        beep();
        return;
    }
    Linking::makeDependency(
        *m_project, m_referenceTask, other, m_isSucc, parentWidget() ? parentWidget()->window() : nullptr);
}
