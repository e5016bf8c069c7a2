#include "FindBar.h"

#include "IntPublisher.h"
#include "Project.h"

#include <QAccessible>
#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <algorithm>

FindBar::FindBar(Project *project, IntPublisher *selection, QWidget *parent)
    : QWidget(parent)
    , m_project(project)
    , m_selection(selection)
    , m_field(new QLineEdit(this))
    , m_count(new QLabel(this))
    , m_closeButton(new QToolButton(this))
{
    setObjectName(QStringLiteral("findBar"));
    m_field->setObjectName(QStringLiteral("findField"));
    m_count->setObjectName(QStringLiteral("findCount"));
    m_field->setPlaceholderText(tr("Find a task by name"));
    m_field->setAccessibleName(tr("Find"));
    m_field->setClearButtonEnabled(true);
    m_field->installEventFilter(this);
    m_closeButton->setText(tr("Close"));
    m_closeButton->setToolTip(tr("Close the find bar (Escape)"));
    m_closeButton->setAutoRaise(true);
    m_closeButton->setFocusPolicy(Qt::NoFocus);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(6, 3, 6, 3);
    auto *label = new QLabel(tr("Find:"), this);
    label->setBuddy(m_field);
    row->addWidget(label);
    row->addWidget(m_field, 1);
    row->addWidget(m_count);
    row->addWidget(m_closeButton);

    connect(m_field, &QLineEdit::textEdited, this, &FindBar::search);
    connect(m_field, &QLineEdit::textChanged, this, [this](const QString &text) {
        // The clear button empties the field without an edit.
        if (text.isEmpty())
            search();
    });
    connect(m_closeButton, &QToolButton::clicked, this, &FindBar::close);
    connect(project, &Project::edited, this, [this] { m_stale = true; });
    connect(project, &Project::tasksChanged, this, [this] { m_stale = true; });
    hide();
}

QString FindBar::folded(QStringView text)
{
    const QString decomposed = text.toString().normalized(QString::NormalizationForm_KD);
    QString result;
    result.reserve(decomposed.size());
    for (const QChar c : decomposed)
        if (c.category() != QChar::Mark_NonSpacing)
            result.append(c);
    return result.toCaseFolded();
}

bool FindBar::matches(QStringView name, const QString &foldedText)
{
    if (foldedText.isEmpty())
        return false;
    // Most names are plain ASCII, where folding is the ASCII case alone and needs no copy.
    const bool plain = std::all_of(name.begin(), name.end(), [](QChar c) { return c.unicode() < 0x80; });
    if (plain)
        return name.contains(foldedText, Qt::CaseInsensitive);
    return folded(name).contains(foldedText);
}

std::vector<qsizetype> FindBar::rowsMatching(const Project &project, const QString &text)
{
    std::vector<qsizetype> rows;
    const QString needle = folded(text);
    if (needle.isEmpty())
        return rows;
    const TaskList &tasks = project.tasks();
    for (qsizetype row = 0; row < tasks.size(); ++row)
        if (matches(tasks[row]->name(), needle))
            rows.push_back(row);
    return rows;
}

void FindBar::open()
{
    QWidget *focus = QApplication::focusWidget();
    if (focus && !isAncestorOf(focus))
        m_returnFocus = focus;
    show();
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
    if (!m_field->text().isEmpty())
        search();
}

void FindBar::close()
{
    hide();
    if (m_returnFocus)
        m_returnFocus->setFocus(Qt::OtherFocusReason);
}

void FindBar::search()
{
    m_matches = m_project ? rowsMatching(*m_project, m_field->text()) : std::vector<qsizetype>();
    m_stale = false;
    m_current = m_matches.empty() ? -1 : 0;
    selectCurrent();
    showCount();
}

void FindBar::step(int direction)
{
    if (!m_project)
        return;
    if (m_stale) {
        // Go on from the task the bar last chose, wherever the changed plan put it.
        const TaskPtr from = m_current >= 0 && m_current < qsizetype(m_matches.size())
            ? m_project->tasks().value(m_matches[std::size_t(m_current)])
            : TaskPtr();
        m_matches = rowsMatching(*m_project, m_field->text());
        m_stale = false;
        const qsizetype row = from ? m_project->rowOf(*from) : -1;
        const auto at = std::lower_bound(m_matches.begin(), m_matches.end(), row);
        m_current = at != m_matches.end() && *at == row ? at - m_matches.begin() : -1;
        if (m_current < 0 && !m_matches.empty())
            m_current = direction > 0 ? (at - m_matches.begin()) - 1 : at - m_matches.begin();
    }
    const auto count = qsizetype(m_matches.size());
    if (count == 0) {
        showCount();
        return;
    }
    m_current = ((m_current + direction) % count + count) % count;
    selectCurrent();
    showCount();
}

void FindBar::selectCurrent()
{
    if (!m_project || !m_selection || m_current < 0 || m_current >= qsizetype(m_matches.size()))
        return;
    m_selection->setRef(m_project->tasks().at(m_matches[std::size_t(m_current)])->id());
}

void FindBar::showCount()
{
    QString text;
    if (m_field->text().isEmpty())
        text = QString();
    else if (m_matches.empty())
        text = tr("No task matches");
    else
        text = tr("%1 of %2").arg(m_current + 1).arg(m_matches.size());
    if (text == m_count->text())
        return;
    m_count->setText(text);
    m_count->setAccessibleName(text);
    m_field->setAccessibleDescription(text);
    // Readers hear the count as the field's description changes while the user types.
    QAccessibleEvent event(m_field, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&event);
}

bool FindBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_field || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto *key = static_cast<const QKeyEvent *>(event);
    const bool back = key->modifiers() & Qt::ShiftModifier;
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_F3:
        step(back ? -1 : 1);
        return true;
    case Qt::Key_Escape:
        close();
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}
