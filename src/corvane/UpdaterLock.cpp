#include "UpdaterLock.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <csignal>

namespace corvane {

namespace {

std::unique_ptr<QLockFile> makeLock(const QString &updateFolder)
{
    auto lock = std::make_unique<QLockFile>(updaterLockPath(updateFolder));
    // An update can wait a long time for the quit; only a dead holder makes a lock stale.
    lock->setStaleLockTime(0);
    return lock;
}

// A process that ended but was not yet reaped counts as ended.
bool isAlive(qint64 pid)
{
    if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const qsizetype end = line.lastIndexOf(')');
    return end < 0 || line.mid(end + 2, 1) != "Z";
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

std::unique_ptr<QLockFile> lockUpdateFolderChanges(
    const QString &updateFolder, std::chrono::milliseconds wait, QString *reason)
{
    const QString path = QDir::cleanPath(updateFolder) + QLatin1String(".lock");
    QDir().mkpath(QFileInfo(path).path());
    auto lock = std::make_unique<QLockFile>(path);
    lock->setStaleLockTime(0);
    if (lock->tryLock(int(wait.count())))
        return lock;
    if (reason) {
        qint64 pid = 0;
        QString hostName;
        QString appName;
        *reason = lock->error() == QLockFile::LockFailedError && lock->getLockInfo(&pid, &hostName, &appName)
            ? QStringLiteral("The process %1 is changing %2 and holds the lock %3.")
                  .arg(QString::number(pid), updateFolder, path)
            : QStringLiteral("The lock %1 cannot be made.").arg(path);
    }
    return nullptr;
}

bool waitForUpdaterLock(const QString &updateFolder, qint64 pid, std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    for (;;) {
        if (isUpdaterRunningIn(updateFolder))
            return true;
        if ((pid > 0 && !isAlive(pid)) || deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
}

} // namespace corvane
