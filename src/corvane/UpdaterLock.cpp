#include "UpdaterLock.h"

#include <QFileInfo>

namespace corvane {

namespace {

std::unique_ptr<QLockFile> makeLock(const QString &updateFolder)
{
    auto lock = std::make_unique<QLockFile>(updaterLockPath(updateFolder));
    // An update can wait a long time for the quit; only a dead holder makes a lock stale.
    lock->setStaleLockTime(0);
    return lock;
}

} // namespace

QString updaterLockPath(const QString &updateFolder)
{
    return updateFolder + QLatin1String("/SoftwareUpdater.lock");
}

std::unique_ptr<QLockFile> lockUpdateFolder(const QString &updateFolder, QString *reason)
{
    std::unique_ptr<QLockFile> lock = makeLock(updateFolder);
    if (lock->tryLock(0))
        return lock;
    if (reason) {
        qint64 pid = 0;
        QString hostName;
        QString appName;
        *reason = lock->error() == QLockFile::LockFailedError && lock->getLockInfo(&pid, &hostName, &appName)
            ? QStringLiteral("The process %1 holds the lock %2.").arg(QString::number(pid), lock->fileName())
            : QStringLiteral("The lock %1 cannot be made.").arg(lock->fileName());
    }
    return nullptr;
}

bool isUpdaterRunningIn(const QString &updateFolder)
{
    if (!QFileInfo::exists(updaterLockPath(updateFolder)))
        return false;
    std::unique_ptr<QLockFile> lock = makeLock(updateFolder);
    if (lock->tryLock(0))
        return false;
    return lock->error() == QLockFile::LockFailedError;
}

} // namespace corvane
