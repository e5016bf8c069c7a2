#include "TaskNameField.h"

#include "Slack.h"
#include "TaskBox.h"

QSize TaskNameField::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    return { QStyledItemDelegate::sizeHint(option, index).width(), rowHeight };
}

void TaskNameField::initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    option->displayAlignment = Qt::AlignRight | Qt::AlignVCenter;
    if (m_critical && m_critical->isCriticalRow(index.row()))
        option->palette.setColor(QPalette::Text, TaskBox::criticalColor(option->palette));
}

void TaskNameField::setCritical(const SlackTracker *tracker)
{
    m_critical = tracker;
}
