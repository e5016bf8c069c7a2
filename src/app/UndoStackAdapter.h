#pragma once

#include "Project.h"

#include <QPointer>
#include <QUndoStack>

// Lets a project record its steps on a window's QUndoStack. Steps arrive already done, so the
// command skips the redo() that QUndoStack::push() runs at once.
class UndoStackAdapter final : public UndoManager {
public:
    explicit UndoStackAdapter(QUndoStack *stack);

    void registerUndo(const QString &actionName, std::unique_ptr<UndoStep> step) override;
    [[nodiscard]] QUndoStack *stack() const { return m_stack; }

private:
    QPointer<QUndoStack> m_stack;
};
