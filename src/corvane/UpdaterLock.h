#pragma once

#include <QLockFile>
#include <QString>

#include <chrono>
#include <memory>

// The updater program holds a lock file in its update folder for as long as it runs, so that the
// clean-up of a later check leaves the folder alone. A lock whose holder has died does not count.
namespace corvane {

[[nodiscard]] QString updaterLockPath(const QString &updateFolder);

// The lock of updateFolder, held by the calling process until the object is destroyed; none when a
// live process holds it already or the lock file cannot be made (reason says which).
[[nodiscard]] std::unique_ptr<QLockFile> lockUpdateFolder(const QString &updateFolder, QString *reason = nullptr);

// Whether a live process holds the lock of updateFolder. A lock left behind by a dead one is removed.
[[nodiscard]] bool isUpdaterRunningIn(const QString &updateFolder);

// The lock every process takes before it changes the update folder: a check emptying it and
// launching an updater there, or cleaning it up. Kept beside the folder, which is emptied and
// trashed. A check that launches an updater holds it until the updater holds its own lock, so that
// no other process, of this session or another, finds the folder unguarded in between. Waits up
// to wait for it; none when another process keeps it that long or it cannot be made (reason says which).
[[nodiscard]] std::unique_ptr<QLockFile> lockUpdateFolderChanges(
    const QString &updateFolder, std::chrono::milliseconds wait, QString *reason = nullptr);
// Waits until a live updater holds the lock of updateFolder; false when the process pid ended or
// timeout passed first.
bool waitForUpdaterLock(const QString &updateFolder, qint64 pid, std::chrono::milliseconds timeout);

} // namespace corvane
