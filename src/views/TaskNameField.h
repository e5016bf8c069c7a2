#pragma once

#include <QPointer>
#include <QStyledItemDelegate>

class SlackTracker;

// One row of the names list: the task's name against the row's right edge, next to the chart,
// in a row as high as a chart row. Painted, not a widget, so that long projects stay fast.
class TaskNameField final : public QStyledItemDelegate {
    Q_OBJECT

public:
    static constexpr int rowHeight = 25;

    using QStyledItemDelegate::QStyledItemDelegate;

    // Names of critical tasks in red while a tracker is given; none: all in the text colour.
    void setCritical(const SlackTracker *tracker);

    [[nodiscard]] QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;

private:
    QPointer<const SlackTracker> m_critical;
};
