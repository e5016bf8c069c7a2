#include "SwapJournal.h"

#include "Log.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace corvane {

namespace {

const QByteArray header = QByteArrayLiteral("quillfern swap journal 1");

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

bool existsAt(const QString &path)
{
    struct stat info { };
    return ::lstat(encoded(path).constData(), &info) == 0;
}

bool isSameFile(const QString &a, const QString &b)
{
    struct stat first { };
    struct stat second { };
    return ::lstat(encoded(a).constData(), &first) == 0 && ::lstat(encoded(b).constData(), &second) == 0
        && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

[[noreturn]] void throwError(int error, const QString &path)
{
    throw std::system_error(error, std::generic_category(), path.toStdString());
}

void syncFolder(const QString &folder)
{
    const int fd = ::open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += n;
    }
    return true;
}

} // namespace

SwapJournal::SwapJournal(QString installation, int fd)
    : m_installation(std::move(installation))
    , m_fd(fd)
{ }

SwapJournal::SwapJournal(SwapJournal &&other) noexcept
    : m_installation(std::move(other.m_installation))
    , m_fd(std::exchange(other.m_fd, -1))
    , m_entries(std::move(other.m_entries))
    , m_complete(other.m_complete)
    , m_staged(other.m_staged)
    , m_rollingBack(other.m_rollingBack)
{ }

SwapJournal::~SwapJournal()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

SwapJournal SwapJournal::create(const QString &installation, const QList<Entry> &entries)
{
    const QString path = installation + u'/' + QLatin1String(fileName);
    const int fd = ::open(encoded(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        throwError(errno, path);
    SwapJournal journal(installation, fd);
    QByteArray text = header + '\n';
    for (const Entry &entry : entries) {
        text += entry.isFolder ? "folder " : entry.hadOld ? "replace " : "new ";
        text += QUrl::toPercentEncoding(entry.path) + '\n';
    }
    text += "planned\n";
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !writeAll(fd, text) || ::fdatasync(fd) != 0) {
        const int error = errno;
        ::unlink(encoded(path).constData());
        throwError(error, path);
    }
    syncFolder(installation);
    journal.m_entries = entries;
    journal.m_complete = true;
    return journal;
}

std::optional<SwapJournal> SwapJournal::openInterrupted(const QString &installation)
{
    const QString path = installation + u'/' + QLatin1String(fileName);
    const int fd = ::open(encoded(path).constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT)
            qCCritical(lcCorvane).noquote()
                << "cannot open the record of an interrupted update" << path << qt_error_string(errno);
        return std::nullopt;
    }
    SwapJournal journal(installation, fd);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        qCInfo(lcCorvane).noquote() << "an update of" << installation << "is still being installed";
        return std::nullopt;
    }
    // Its exchange may have ended between the open and the lock.
    struct stat info { };
    if (::fstat(fd, &info) != 0 || info.st_nlink == 0)
        return std::nullopt;

    QByteArray text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            qCCritical(lcCorvane).noquote() << "cannot read" << path << qt_error_string(errno);
            return std::nullopt;
        }
        text.append(buffer, n);
    }
    // A line without its line feed was cut short while being written and counts as unwritten.
    QList<QByteArray> lines = text.split('\n');
    lines.removeLast();
    if (lines.isEmpty())
        return journal;
    if (lines.constFirst() != header) {
        qCCritical(lcCorvane).noquote() << path << "is not a record of an update this program knows; it is left alone";
        return std::nullopt;
    }
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        const qsizetype space = line.indexOf(' ');
        const QByteArray word = space < 0 ? line : line.left(space);
        const QString entryPath = QString::fromUtf8(QByteArray::fromPercentEncoding(line.mid(space + 1)));
        if (journal.m_complete) {
            journal.m_staged = journal.m_staged || line == "staged";
            journal.m_rollingBack = journal.m_rollingBack || line == "rollback";
        } else if (line == "planned") {
            journal.m_complete = true;
        } else if (space > 0 && (word == "folder" || word == "new" || word == "replace")) {
            journal.m_entries.append({ entryPath, word == "folder", word == "replace" });
        }
    }
    return journal;
}

bool SwapJournal::appendLine(const QByteArray &line)
{
    // The leading line feed ends a line that an earlier failed write may have left unfinished.
    return writeAll(m_fd, '\n' + line + '\n') && ::fdatasync(m_fd) == 0;
}

void SwapJournal::syncFolders() const
{
    QSet<QString> folders { m_installation };
    for (const Entry &entry : m_entries)
        folders.insert(QFileInfo(installed(entry)).path());
    for (const QString &folder : std::as_const(folders))
        syncFolder(folder);
}

void SwapJournal::markStaged()
{
    for (const Entry &entry : std::as_const(m_entries)) {
        if (entry.isFolder)
            continue;
        const QString staged = installed(entry) + QLatin1String(newSuffix);
        const int fd = ::open(encoded(staged).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        // A link has no data of its own to sync; its folder's sync keeps it.
        if (fd < 0 && errno == ELOOP)
            continue;
        if (fd < 0 || ::fsync(fd) != 0) {
            const int error = errno;
            if (fd >= 0)
                ::close(fd);
            throwError(error, staged);
        }
        ::close(fd);
    }
    syncFolders();
    if (!appendLine("staged"))
        throwError(errno, m_installation + u'/' + QLatin1String(fileName));
    m_staged = true;
}

bool SwapJournal::canRollForward() const
{
    if (!m_complete || !m_staged || m_rollingBack)
        return false;
    return std::all_of(m_entries.cbegin(), m_entries.cend(), [this](const Entry &entry) {
        return entry.isFolder || existsAt(installed(entry) + QLatin1String(newSuffix)) || existsAt(installed(entry));
    });
}

bool SwapJournal::removeJournal()
{
    const QString path = m_installation + u'/' + QLatin1String(fileName);
    if (::unlink(encoded(path).constData()) != 0) {
        qCCritical(lcCorvane).noquote() << "cannot remove" << path << qt_error_string(errno);
        return false;
    }
    syncFolder(m_installation);
    ::close(std::exchange(m_fd, -1));
    return true;
}

bool SwapJournal::rollForward(const std::function<void()> &afterChange)
{
    const auto changed = [&afterChange] {
        if (afterChange)
            afterChange();
    };
    bool ok = true;
    for (const Entry &entry : std::as_const(m_entries)) {
        const QString target = installed(entry);
        const QString staged = target + QLatin1String(newSuffix);
        if (entry.isFolder || !existsAt(staged))
            continue;
        if (::rename(encoded(staged).constData(), encoded(target).constData()) != 0) {
            qCCritical(lcCorvane).noquote() << "cannot put" << target << "in place:" << qt_error_string(errno);
            ok = false;
            continue;
        }
        changed();
    }
    if (!ok)
        return false;
    // Every new file must be on disk before the last copy of an old one goes.
    syncFolders();
    for (const Entry &entry : std::as_const(m_entries)) {
        const QString old = installed(entry) + QLatin1String(oldSuffix);
        if (!entry.hadOld || !existsAt(old))
            continue;
        if (::unlink(encoded(old).constData()) != 0) {
            qCCritical(lcCorvane).noquote() << "cannot remove the old file" << old << qt_error_string(errno);
            ok = false;
            continue;
        }
        changed();
    }
    syncFolders();
    if (!ok || !removeJournal())
        return false;
    changed();
    return true;
}

bool SwapJournal::rollBack()
{
    // Once files are back, finishing instead would mix old and new: whoever continues must take
    // back the rest. A failure to record that is logged and the files are put back all the same.
    if (m_staged && !m_rollingBack) {
        if (!appendLine("rollback"))
            qCCritical(lcCorvane).noquote()
                << "cannot record in" << m_installation << "that the update is taken back" << qt_error_string(errno);
        m_rollingBack = true;
    }
    bool ok = true;
    const auto failed = [&ok](const char *what, const QString &path) {
        qCCritical(lcCorvane).noquote() << what << path << qt_error_string(errno);
        ok = false;
    };
    for (auto entry = m_entries.crbegin(); entry != m_entries.crend(); ++entry) {
        const QString target = installed(*entry);
        const QByteArray name = encoded(target);
        if (entry->isFolder) {
            // Its own entries come later in the list and are gone by now; anything else is not ours.
            if (existsAt(target) && ::rmdir(name.constData()) != 0) {
                if (errno == ENOTEMPTY || errno == EEXIST)
                    qCWarning(lcCorvane).noquote() << "leaving" << target << "which holds files the update did not add";
                else
                    failed("cannot remove", target);
            }
            continue;
        }
        const QString old = target + QLatin1String(oldSuffix);
        const QString staged = target + QLatin1String(newSuffix);
        if (existsAt(old)) {
            // Until the new file is renamed over it, the old one stands under both names; a rename
            // between two names of one file would change nothing.
            if (isSameFile(old, target)) {
                if (::unlink(encoded(old).constData()) != 0)
                    failed("cannot remove", old);
            } else if (::rename(encoded(old).constData(), name.constData()) != 0) {
                failed("cannot put back", target);
            }
        } else if (!entry->hadOld && m_staged && !existsAt(staged) && existsAt(target)) {
            // A file the installation did not have, already renamed into place.
            if (::unlink(name.constData()) != 0)
                failed("cannot remove", target);
        }
        if (existsAt(staged) && ::unlink(encoded(staged).constData()) != 0)
            failed("cannot remove", staged);
    }
    syncFolders();
    return ok && removeJournal();
}

SwapRepair repairInterruptedSwap(const QString &installation)
{
    std::optional<SwapJournal> journal = SwapJournal::openInterrupted(installation);
    if (!journal)
        return SwapRepair::NothingToDo;
    if (journal->canRollForward()) {
        qCInfo(lcCorvane).noquote() << "finishing the interrupted update of" << installation;
        return journal->rollForward() ? SwapRepair::RolledForward : SwapRepair::Failed;
    }
    qCInfo(lcCorvane).noquote() << "taking back the interrupted update of" << installation;
    return journal->rollBack() ? SwapRepair::RolledBack : SwapRepair::Failed;
}

void repairOwnInstallation(char *argv[])
{
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return;
    const QString installation = QFile::decodeName(program.parent_path().parent_path().c_str());
    if (repairInterruptedSwap(installation) != SwapRepair::RolledForward)
        return;
    // This process is the program as it was before the update.
    ::execv(program.c_str(), argv);
    qCCritical(lcCorvane).noquote() << "cannot start the updated" << QFile::decodeName(program.c_str())
                                    << qt_error_string(errno);
}

} // namespace corvane
