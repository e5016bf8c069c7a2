#pragma once

#include "Project.h"

#include <vector>

// A plain undo history for model tests: one stack of done steps, one of undone steps.
class TestUndoManager : public UndoManager {
public:
    void registerUndo(const QString &actionName, std::unique_ptr<UndoStep> step) override
    {
        m_undo.push_back({ actionName, std::move(step) });
        m_redo.clear();
    }

    [[nodiscard]] qsizetype count() const { return qsizetype(m_undo.size()); }
    [[nodiscard]] QString undoName() const { return m_undo.empty() ? QString() : m_undo.back().name; }
    [[nodiscard]] QString redoName() const { return m_redo.empty() ? QString() : m_redo.back().name; }

    void undo()
    {
        Entry entry = std::move(m_undo.back());
        m_undo.pop_back();
        entry.step->undo();
        m_redo.push_back(std::move(entry));
    }

    void redo()
    {
        Entry entry = std::move(m_redo.back());
        m_redo.pop_back();
        entry.step->redo();
        m_undo.push_back(std::move(entry));
    }

private:
    struct Entry {
        QString name;
        std::unique_ptr<UndoStep> step;
    };
    std::vector<Entry> m_undo;
    std::vector<Entry> m_redo;
};
