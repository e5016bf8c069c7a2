#pragma once

#include <QObject>
#include <optional>

// The window's selection: the id of the selected task, or none. Every assignment notifies first,
// also when the value does not change.
class IntPublisher : public QObject {
    Q_OBJECT

public:
    explicit IntPublisher(QObject *parent = nullptr)
        : QObject(parent)
    { }

    [[nodiscard]] std::optional<qint64> ref() const { return m_ref; }
    void setRef(std::optional<qint64> ref)
    {
        Q_EMIT refAboutToChange();
        m_ref = ref;
        Q_EMIT refChanged();
    }

Q_SIGNALS:
    void refAboutToChange();
    void refChanged();

private:
    std::optional<qint64> m_ref;
};
