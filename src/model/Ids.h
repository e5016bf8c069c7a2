#pragma once

#include <QtGlobal>
#include <stdexcept>

// The process-wide id counters. Ids are never reused within a process and never wrap:
// once the largest 64-bit id has been handed out (a file may carry it), asking for a new
// id throws IdsExhausted and changes nothing.
namespace Ids {

class IdsExhausted : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The id the next new task receives, without taking it. Throws IdsExhausted when none is left.
[[nodiscard]] qint64 nextTaskId();
// Takes the next task id. Throws IdsExhausted when none is left.
[[nodiscard]] qint64 takeTaskId();
// Raises the task counter past an id read from a file. Thread-safe.
void raiseTaskIdPast(qint64 id);

[[nodiscard]] qint64 takeProjectId();

// For tests: puts both counters back to a given state.
void resetForTesting(qint64 nextTask, qint64 nextProject);

} // namespace Ids
