#pragma once

#include "FileAccess.h"
#include "PlanExchange.h"

#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class Project;
class QWidget;

// Reads and decodes project files on a thread of their own, so that the UI thread goes on
// answering while a large plan loads.
namespace ProjectLoader {

struct Loaded {
    std::unique_ptr<Project> project;
    // Of exactly the version read.
    FileStamp stamp;
    // Of an import: what it kept and what it changed or left out.
    QString kept;
    QStringList changes;
};

struct Options {
    // Over which window the progress shows, window-modal; none: a window of its own, which
    // leaves every other window working.
    QWidget *window = nullptr;
    // How long a read runs before its progress window with Cancel shows; none: the default.
    std::optional<std::chrono::milliseconds> progressDelay;
    // Another planner's plan, imported in that format and named, when it has no name, after the file.
    std::optional<PlanExchange::Format> import;
};

// Returns the project, or none when the user cancelled. Meanwhile the UI thread handles events
// (for a short read it only waits). Throws FileAccessError or ProjectFileError as reading does.
[[nodiscard]] std::optional<Loaded> load(const QString &path, const Options &options = {});

// Runs work (a save's write) on a thread of its own and returns once it is done, rethrowing what
// it threw. A short one is only waited for; during a longer one the windows are drawn and answer,
// window takes no input (greyed), and a progress window with label shows over it after a second.
void runInBackground(QWidget *window, const QString &label, const std::function<void()> &work);

// How long from its start a read runs before its progress shows (0.4 s); returns the value before.
std::chrono::milliseconds setDefaultProgressDelay(std::chrono::milliseconds delay);

} // namespace ProjectLoader
