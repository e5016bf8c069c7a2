#include "UndoStackAdapter.h"

#include <QUndoCommand>

namespace {

class StepCommand final : public QUndoCommand {
public:
    StepCommand(const QString &actionName, std::unique_ptr<UndoStep> step)
        : QUndoCommand(actionName)
        , m_step(std::move(step))
    { }

    void undo() override { m_step->undo(); }

    void redo() override
    {
        if (m_pushed)
            m_step->redo();
        m_pushed = true;
    }

private:
    std::unique_ptr<UndoStep> m_step;
    bool m_pushed = false;
};

} // namespace

UndoStackAdapter::UndoStackAdapter(QUndoStack *stack)
    : m_stack(stack)
{ }

void UndoStackAdapter::registerUndo(const QString &actionName, std::unique_ptr<UndoStep> step)
{
    if (m_stack)
        m_stack->push(new StepCommand(actionName, std::move(step)));
}
