#pragma once

#include <QLockFile>
#include <QString>

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

} // namespace corvane
