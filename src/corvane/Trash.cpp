#include "Trash.h"

#include "SystemError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStorageInfo>

#include <cerrno>
#include <unistd.h>

namespace corvane {

namespace {

// The trash folders an item at path may properly end up in.
QStringList acceptedTrashes(const QString &path)
{
    QStringList trashes { homeTrash() };
    const QStorageInfo storage(QFileInfo(path).absolutePath());
    if (storage.isValid()) {
        QString root = storage.rootPath();
        if (root.endsWith(u'/'))
            root.chop(1);
        const QString uid = QString::number(::getuid());
        trashes << root + QLatin1String("/.Trash/") + uid << root + QLatin1String("/.Trash-") + uid;
    }
    return trashes;
}

bool isTrashedInto(const QString &trashed, const QStringList &trashes)
{
    const QString folder = QFileInfo(QFileInfo(trashed).absolutePath()).canonicalFilePath();
    if (folder.isEmpty())
        return false;
    for (const QString &trash : trashes) {
        if (QFileInfo(trash + QLatin1String("/files")).canonicalFilePath() == folder)
            return true;
    }
    return false;
}

// Qt finds no trash when the home trash cannot be had; this says why, for the alert.
QString homeTrashProblem()
{
    const QString trash = homeTrash();
    const QFileInfo info(trash);
    if (info.isSymLink() && !info.exists())
        return QStringLiteral("The trash %1 is a link to nothing.").arg(trash);
    if (info.exists() && !info.isDir())
        return QStringLiteral("The trash %1 is not a folder.").arg(trash);
    if (!info.exists())
        return QStringLiteral("The trash %1 does not exist and cannot be made.").arg(trash);
    return QStringLiteral("The trash %1 cannot be used.").arg(trash);
}

} // namespace

QString homeTrash()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QLatin1String("/Trash");
}

void moveToTrash(const QString &path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const auto failure = [&](const QString &reason) {
        return SystemError(
            QStringLiteral("\u201c%1\u201d could not be moved to the trash.").arg(QFileInfo(absolute).fileName()),
            std::nullopt, { { QStringLiteral("File"), absolute }, { QStringLiteral("Reason"), reason } });
    };
    const QStringList trashes = acceptedTrashes(absolute);
    // Finding no trash, Qt makes one of the working folder; what it adds there is taken away again.
    const QDir here = QDir::current();
    const bool hadFiles = QFileInfo::exists(here.filePath(QStringLiteral("files")));
    const bool hadInfo = QFileInfo::exists(here.filePath(QStringLiteral("info")));
    const auto tidyWorkingFolder = [&] {
        if (!hadFiles)
            here.rmdir(QStringLiteral("files"));
        if (!hadInfo)
            here.rmdir(QStringLiteral("info"));
    };

    QFile file(absolute);
    if (!file.moveToTrash()) {
        tidyWorkingFolder();
        // Qt gives no reason when it finds no trash folder at all.
        QString reason = file.errorString();
        if (reason.isEmpty() || reason == QLatin1String("Unknown error") || reason == QLatin1String("No error"))
            reason = homeTrashProblem();
        throw failure(reason);
    }
    const QString trashed = QFileInfo(file.fileName()).absoluteFilePath();
    if (isTrashedInto(trashed, trashes))
        return;

    const QString wrongTrash = QFileInfo(QFileInfo(trashed).absolutePath()).absolutePath();
    QFile::remove(wrongTrash + QLatin1String("/info/") + QFileInfo(trashed).fileName() + QLatin1String(".trashinfo"));
    const bool back = ::rename(QFile::encodeName(trashed).constData(), QFile::encodeName(absolute).constData()) == 0;
    const int error = errno;
    tidyWorkingFolder();
    QString reason = homeTrashProblem();
    if (!back)
        reason += QStringLiteral(" It was left in %1: %2").arg(trashed, qt_error_string(error));
    throw failure(reason);
}

} // namespace corvane
