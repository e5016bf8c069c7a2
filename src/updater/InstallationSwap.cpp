#include "InstallationSwap.h"

#include "Exception.h"
#include "Log.h"

#include <QDir>
#include <QFileInfo>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

fs::path pathOf(const QString &path)
{
    return fs::path(path.toStdString());
}

bool existsAt(const QString &path)
{
    std::error_code error;
    return fs::exists(fs::symlink_status(pathOf(path), error));
}

bool isRealFolder(const QString &path)
{
    std::error_code error;
    return fs::is_directory(fs::symlink_status(pathOf(path), error));
}

} // namespace

InstallationSwap::InstallationSwap(const QString &installation, const QString &release)
    : m_installation(QDir::cleanPath(installation))
    , m_release(QDir::cleanPath(release))
{
    plan(QString());
}

void InstallationSwap::plan(const QString &relative)
{
    const QString folder = relative.isEmpty() ? m_release : m_release + u'/' + relative;
    const QStringList names
        = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names) {
        const QString path = relative.isEmpty() ? name : relative + u'/' + name;
        const QString source = m_release + u'/' + path;
        const QString target = m_installation + u'/' + path;
        if (isRealFolder(source)) {
            if (!existsAt(target))
                m_items.append({ path, true });
            else if (!isRealFolder(target))
                throw corvane::Exception(QStringLiteral("The update cannot be installed."),
                    QStringLiteral("\u201c%1\u201d is a folder in the new release, but not in the installation.")
                        .arg(target));
            plan(path);
        } else {
            if (isRealFolder(target))
                throw corvane::Exception(QStringLiteral("The update cannot be installed."),
                    QStringLiteral("\u201c%1\u201d is a folder in the installation, but not in the new release.")
                        .arg(target));
            m_items.append({ path, false });
        }
    }
}

QStringList InstallationSwap::foldersToWrite() const
{
    QStringList folders;
    for (const Item &item : m_items) {
        QString parent = QFileInfo(installed(item)).path();
        // A folder the swap creates is written by the swap; its nearest existing ancestor must be writable.
        while (!existsAt(parent) && parent.size() > m_installation.size())
            parent = QFileInfo(parent).path();
        if (!folders.contains(parent))
            folders.append(parent);
    }
    return folders;
}

QString InstallationSwap::installed(const Item &item) const
{
    return m_installation + u'/' + item.relativePath;
}

void InstallationSwap::step()
{
    const int current = m_step++;
    if (beforeStep)
        beforeStep(current);
}

void InstallationSwap::run()
{
    m_step = 0;
    try {
        // Copying may fail on a full disk or a missing permission; nothing of the old files has moved yet.
        for (Item &item : m_items) {
            step();
            const QString target = installed(item);
            if (item.isFolder) {
                fs::create_directory(pathOf(target));
                item.staged = true;
                continue;
            }
            const QString staged = target + QLatin1String(newSuffix);
            if (existsAt(staged))
                fs::remove_all(pathOf(staged));
            item.staged = true;
            fs::copy(pathOf(m_release + u'/' + item.relativePath), pathOf(staged), fs::copy_options::copy_symlinks);
        }
        // Renames within one folder: each one either happens whole or not at all.
        for (Item &item : m_items) {
            if (item.isFolder)
                continue;
            const QString target = installed(item);
            step();
            item.hadOld = existsAt(target);
            if (item.hadOld) {
                fs::rename(pathOf(target), pathOf(target + QLatin1String(oldSuffix)));
                item.movedAside = true;
            }
            step();
            fs::rename(pathOf(target + QLatin1String(newSuffix)), pathOf(target));
            item.placed = true;
        }
    } catch (const std::exception &error) {
        const QString reason = dynamic_cast<const corvane::Exception *>(&error)
            ? static_cast<const corvane::Exception &>(error).message()
            : QString::fromLocal8Bit(error.what());
        qCCritical(corvane::lcCorvane).noquote() << "the update failed and is taken back:" << reason;
        rollBack();
        throw corvane::Exception(QStringLiteral("The update could not be installed."),
            QStringLiteral("%1\nQuillfern was left as it was, in %2.").arg(reason, m_installation));
    }
    for (const Item &item : m_items) {
        if (item.hadOld) {
            std::error_code error;
            fs::remove_all(pathOf(installed(item) + QLatin1String(oldSuffix)), error);
            if (error)
                qCWarning(corvane::lcCorvane).noquote()
                    << "cannot remove the old file" << installed(item) << QString::fromStdString(error.message());
        }
    }
}

void InstallationSwap::rollBack()
{
    for (auto item = m_items.rbegin(); item != m_items.rend(); ++item) {
        const QString target = installed(*item);
        std::error_code error;
        if (item->isFolder) {
            // Only files this swap put there can be inside; they have been taken out before.
            if (item->staged)
                fs::remove_all(pathOf(target), error);
        } else {
            if (item->placed && !item->movedAside)
                fs::remove(pathOf(target), error);
            if (item->movedAside)
                fs::rename(pathOf(target + QLatin1String(oldSuffix)), pathOf(target), error);
            if (item->staged)
                fs::remove_all(pathOf(target + QLatin1String(newSuffix)), error);
        }
        if (error)
            qCCritical(corvane::lcCorvane).noquote()
                << "cannot put back" << target << QString::fromStdString(error.message());
        *item = Item { item->relativePath, item->isFolder };
    }
}
