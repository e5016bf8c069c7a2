#include "InstallationSwap.h"

#include "Exception.h"
#include "Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

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

bool isLink(const QString &path)
{
    std::error_code error;
    return fs::is_symlink(fs::symlink_status(pathOf(path), error));
}

mode_t currentUmask()
{
    // Reading it through umask() would change it for a moment under every other thread.
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return mode_t(mask);
            }
        }
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

// An archive's modes are a wish, not a command: installed files get the user's umask and never
// write access for the group or others. The owner always keeps reading and writing, which the
// next update needs, and the execute bits the archive gives.
fs::perms installedPermissions(const QString &source, bool folder)
{
    struct stat info { };
    const mode_t given = ::lstat(QFile::encodeName(source).constData(), &info) == 0 ? info.st_mode & 0777 : 0644;
    const mode_t owner = folder ? 0700 : 0600;
    return fs::perms((given | owner) & ~(currentUmask() & 077) & ~mode_t(022));
}

// A second name for the old file, so that it stays while the new one is renamed over it. A file
// system without hard links gets a copy, synced before it counts.
void keepAside(const QString &target, const QString &aside)
{
    if (existsAt(aside))
        fs::remove(pathOf(aside));
    const QByteArray from = QFile::encodeName(target);
    const QByteArray to = QFile::encodeName(aside);
    if (::linkat(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), 0) == 0)
        return;
    if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK && errno != EXDEV)
        throw fs::filesystem_error(
            "cannot keep the old file", pathOf(target), std::error_code(errno, std::generic_category()));
    fs::copy(pathOf(target), pathOf(aside), fs::copy_options::copy_symlinks);
    if (isLink(aside))
        return;
    const int fd = ::open(to.constData(), O_RDONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    if (!synced)
        throw fs::filesystem_error(
            "cannot keep the old file", pathOf(aside), std::error_code(errno, std::generic_category()));
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
                m_entries.append({ path, true, false });
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
            m_entries.append({ path, false, existsAt(target) });
        }
    }
}

void InstallationSwap::checkFreeSpace() const
{
    // Every new file is staged while the old one stays, so the release needs its whole size.
    constexpr quint64 block = 4096;
    quint64 needed = 64 * block; // the journal and the folders' growth
    for (const corvane::SwapJournal::Entry &entry : m_entries) {
        struct stat info { };
        if (!entry.isFolder && ::lstat(QFile::encodeName(m_release + u'/' + entry.path).constData(), &info) == 0)
            needed += (quint64(info.st_size) + block - 1) / block * block;
    }
    struct statvfs disk { };
    if (::statvfs(QFile::encodeName(m_installation).constData(), &disk) != 0)
        return;
    const quint64 available = quint64(disk.f_bavail) * disk.f_frsize;
    if (needed <= available)
        return;
    const auto mib = [](quint64 bytes) { return QString::number(double(bytes) / (1 << 20), 'f', 1); };
    throw corvane::Exception(QStringLiteral("The update cannot be installed."),
        QStringLiteral("The disk that holds %1 has %2 MiB free, but the new release needs %3 MiB there. Free some "
                       "space on it and look for updates again.\nQuillfern was left as it was.")
            .arg(m_installation, mib(available), mib(needed)));
}

QStringList InstallationSwap::foldersToWrite() const
{
    QStringList folders;
    for (const corvane::SwapJournal::Entry &entry : m_entries) {
        QString parent = QFileInfo(installed(entry)).path();
        // A folder the swap creates is written by the swap; its nearest existing ancestor must be writable.
        while (!existsAt(parent) && parent.size() > m_installation.size())
            parent = QFileInfo(parent).path();
        if (!folders.contains(parent))
            folders.append(parent);
    }
    if (!folders.contains(m_installation))
        folders.append(m_installation);
    return folders;
}

QString InstallationSwap::installed(const corvane::SwapJournal::Entry &entry) const
{
    return m_installation + u'/' + entry.path;
}

void InstallationSwap::step()
{
    const int current = m_step++;
    if (beforeStep)
        beforeStep(current);
}

void InstallationSwap::changed()
{
    const int current = m_change++;
    if (afterChange)
        afterChange(current);
}

void InstallationSwap::run()
{
    using corvane::SwapJournal;
    m_step = 0;
    m_change = 0;
    checkFreeSpace();
    std::optional<SwapJournal> journal;
    try {
        journal.emplace(SwapJournal::create(m_installation, m_entries));
        changed();
        // Copying may fail on a full disk or a missing permission; nothing of the old files has moved yet.
        for (const SwapJournal::Entry &entry : std::as_const(m_entries)) {
            step();
            const QString source = m_release + u'/' + entry.path;
            const QString target = installed(entry);
            if (entry.isFolder) {
                fs::create_directory(pathOf(target));
                fs::permissions(pathOf(target), installedPermissions(source, true));
                changed();
                continue;
            }
            const QString staged = target + QLatin1String(SwapJournal::newSuffix);
            if (existsAt(staged))
                fs::remove_all(pathOf(staged));
            fs::copy(pathOf(source), pathOf(staged), fs::copy_options::copy_symlinks);
            if (!isLink(staged))
                fs::permissions(pathOf(staged), installedPermissions(source, false));
            changed();
        }
        journal->markStaged();
        changed();
        // Renames within one folder: each one either happens whole or not at all.
        for (const SwapJournal::Entry &entry : std::as_const(m_entries)) {
            if (entry.isFolder)
                continue;
            const QString target = installed(entry);
            step();
            if (entry.hadOld) {
                keepAside(target, target + QLatin1String(SwapJournal::oldSuffix));
                changed();
            }
            step();
            // Over the old name in one step: the name never stands empty, so a program started
            // at any instant finds a whole old or a whole new file there.
            fs::rename(pathOf(target + QLatin1String(SwapJournal::newSuffix)), pathOf(target));
            changed();
        }
    } catch (const std::exception &error) {
        const QString reason = dynamic_cast<const corvane::Exception *>(&error)
            ? static_cast<const corvane::Exception &>(error).message()
            : QString::fromLocal8Bit(error.what());
        qCCritical(corvane::lcCorvane).noquote() << "the update failed and is taken back:" << reason;
        if (journal && !journal->rollBack())
            throw corvane::Exception(QStringLiteral("The update could not be installed."),
                QStringLiteral("%1\nNot every file of Quillfern in %2 could be put back yet; Quillfern puts them back "
                               "when it next starts.")
                    .arg(reason, m_installation));
        throw corvane::Exception(QStringLiteral("The update could not be installed."),
            QStringLiteral("%1\nQuillfern was left as it was, in %2.").arg(reason, m_installation));
    }
    // Every new file is in place: what is left is removing the old ones and the journal.
    if (!journal->rollForward([this] { changed(); }))
        qCWarning(corvane::lcCorvane).noquote()
            << "the update is installed in" << m_installation << "but its old files are removed only at the next start";
}
