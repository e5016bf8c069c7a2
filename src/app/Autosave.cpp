#include "Autosave.h"

#include "FileAccess.h"
#include "Log.h"
#include "Project.h"
#include "ProjectFile.h"

#include <QDir>
#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSet>
#include <QStandardPaths>
#include <QSysInfo>
#include <QThreadPool>
#include <QUuid>
#include <QWidget>

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QLatin1String copySuffix(".recovery");
const QLatin1String lockSuffix(".lock");
// A header line is a few hundred bytes; anything longer is no header of ours.
constexpr qint64 headerLimit = 1 << 16;

// One thread, so the writes and the removal of a copy happen in the order they were asked for.
QThreadPool &writer()
{
    static QThreadPool pool;
    static const bool configured = [] {
        pool.setMaxThreadCount(1);
        return true;
    }();
    Q_UNUSED(configured);
    return pool;
}

// The copies this process holds the locks of. A lock file that names this process but is not
// among them was left by an earlier process that had the same id.
std::mutex ownedMutex;
QSet<QString> &owned()
{
    static QSet<QString> ids;
    return ids;
}

bool isOwned(const QString &id)
{
    const std::lock_guard guard(ownedMutex);
    return owned().contains(id);
}

void setOwned(const QString &id, bool own)
{
    const std::lock_guard guard(ownedMutex);
    if (own)
        owned().insert(id);
    else
        owned().remove(id);
}

QString copyFile(const QString &id)
{
    return Recovery::folder() + u'/' + id + copySuffix;
}

// Whoever lets go of the lock last, on whichever thread, ends this process's ownership.
std::shared_ptr<QLockFile> lockFor(const QString &id)
{
    std::shared_ptr<QLockFile> lock(new QLockFile(Recovery::folder() + u'/' + id + lockSuffix), [id](QLockFile *file) {
        delete file;
        setOwned(id, false);
    });
    // Only the death of its owner frees a copy, however long the owner has been running.
    lock->setStaleLockTime(0);
    return lock;
}

// Whether this process now holds the lock.
bool takeOrphan(const QString &id, QLockFile &lock)
{
    if (lock.tryLock(0))
        return true;
    qint64 pid = 0;
    QString host;
    QString application;
    if (lock.error() != QLockFile::LockFailedError || !lock.getLockInfo(&pid, &host, &application))
        return false;
    if (pid != QCoreApplication::applicationPid() || host != QSysInfo::machineHostName() || isOwned(id))
        return false;
    return lock.removeStaleLockFile() && lock.tryLock(0);
}

// A copy is no larger than the project file it holds and its header.
constexpr qint64 largestCopySize = largestProjectFileSize + headerLimit;

// The start of a copy, up to headerLimit bytes: only of a regular file of a copy's size at
// that name itself, never of one a link there leads to.
std::optional<QByteArray> readHeaderBytes(const QString &path)
{
    const int descriptor
        = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0)
        return std::nullopt;
    QByteArray bytes(headerLimit, Qt::Uninitialized);
    qsizetype size = 0;
    struct stat status;
    if (::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) && status.st_size <= largestCopySize) {
        for (;;) {
            const ssize_t read = ::read(descriptor, bytes.data() + size, size_t(bytes.size() - size));
            if (read < 0 && errno == EINTR)
                continue;
            if (read <= 0)
                break;
            size += read;
            if (size == bytes.size() || bytes.indexOf('\n', size - read) >= 0)
                break;
        }
    } else {
        size = -1;
    }
    ::close(descriptor);
    if (size < 0)
        return std::nullopt;
    bytes.truncate(size);
    return bytes;
}

std::optional<RecoveryCopy> readHeader(const QString &id)
{
    const std::optional<QByteArray> start = readHeaderBytes(copyFile(id));
    if (!start)
        return std::nullopt;
    const qsizetype end = start->indexOf('\n');
    const QByteArray line = end < 0 ? *start : start->left(end + 1);
    QJsonParseError error {};
    const QJsonDocument header = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !header.isObject())
        return std::nullopt;
    const QJsonObject fields = header.object();
    RecoveryCopy copy;
    copy.id = id;
    if (fields.value(QLatin1String("path")).isString())
        copy.path = fields.value(QLatin1String("path")).toString();
    copy.name = fields.value(QLatin1String("name")).toString();
    copy.written = QDateTime::fromString(fields.value(QLatin1String("written")).toString(), Qt::ISODateWithMs);
    return copy;
}

QByteArray headerLine(const RecoveryCopy &copy)
{
    QJsonObject fields;
    fields.insert(QLatin1String("path"), copy.path ? QJsonValue(*copy.path) : QJsonValue());
    fields.insert(QLatin1String("name"), copy.name);
    fields.insert(QLatin1String("written"), copy.written.toString(Qt::ISODateWithMs));
    // Compact JSON escapes every line feed, so the header stays one line.
    return QJsonDocument(fields).toJson(QJsonDocument::Compact) + '\n';
}

// The recovery folder is made the user's own and private, or refused: one that is a link or
// another user's could hand the copies to someone else or put theirs in their place.
bool folderIsPrivate(bool create)
{
    const QString path = Recovery::folder();
    const QByteArray name = QFile::encodeName(path);
    if (create
        && (!QDir().mkpath(QFileInfo(path).path()) || (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST))) {
        qCCritical(corvane::lcCorvane).noquote() << "cannot make the recovery folder" << path << qt_error_string(errno);
        return false;
    }
    const int descriptor = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0) {
        if (errno != ENOENT)
            qCCritical(corvane::lcCorvane).noquote()
                << "refusing the recovery folder" << path << "(it is a link or cannot be opened)";
        return false;
    }
    struct stat status;
    bool mine = ::fstat(descriptor, &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::geteuid();
    // Through the descriptor, so that only this folder itself is ever changed.
    if (mine && (status.st_mode & 07777) != 0700)
        mine = ::fchmod(descriptor, 0700) == 0;
    ::close(descriptor);
    if (!mine)
        qCCritical(corvane::lcCorvane).noquote()
            << "refusing the recovery folder" << path << "(it is not the user's own, private folder)";
    return mine;
}

// Killed saves of a copy leave their temporary files beside it.
void removeUnfinished(const QString &id)
{
    const QDir dir(Recovery::folder());
    const QStringList patterns { id + copySuffix + QLatin1String(".*"),
        u'.' + id + copySuffix + QLatin1String(".saving-*") };
    for (const QString &unfinished : dir.entryList(patterns, QDir::Files | QDir::Hidden | QDir::System))
        QFile::remove(dir.filePath(unfinished));
}

} // namespace

namespace Recovery {

QString folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QLatin1String("/Quillfern/recovery");
}

std::chrono::milliseconds interval()
{
    bool ok = false;
    const double seconds = qEnvironmentVariable("QUILLFERN_AUTOSAVE_SECONDS").toDouble(&ok);
    if (ok && seconds > 0 && seconds < 24 * 3600)
        return std::chrono::milliseconds(qint64(seconds * 1000));
    return std::chrono::seconds(60);
}

std::vector<RecoveryCopy> takeOrphanedCopies()
{
    std::vector<RecoveryCopy> copies;
    if (!folderIsPrivate(false))
        return copies;
    const QDir dir(folder());
    // A run killed between taking a copy's lock and writing it leaves the lock alone.
    for (const QString &lockName : dir.entryList({ u'*' + lockSuffix }, QDir::Files | QDir::Hidden)) {
        const QString id = lockName.chopped(lockSuffix.size());
        if (dir.exists(id + copySuffix))
            continue;
        std::shared_ptr<QLockFile> lock = lockFor(id);
        if (takeOrphan(id, *lock)) {
            removeUnfinished(id);
            lock->unlock();
        }
    }
    const QFileInfoList files
        = dir.entryInfoList({ u'*' + copySuffix }, QDir::Files | QDir::Hidden, QDir::Time | QDir::Reversed);
    for (const QFileInfo &file : files) {
        const QString id = file.fileName().chopped(copySuffix.size());
        std::shared_ptr<QLockFile> lock = lockFor(id);
        if (!takeOrphan(id, *lock))
            continue;
        std::optional<RecoveryCopy> copy = readHeader(id);
        if (!copy) {
            qCCritical(corvane::lcCorvane).noquote() << "passing over the damaged recovery copy" << file.filePath();
            continue;
        }
        copy->lock = std::move(lock);
        setOwned(id, true);
        copies.push_back(std::move(*copy));
    }
    return copies;
}

std::optional<QByteArray> projectBytes(const RecoveryCopy &copy)
{
    QByteArray all;
    try {
        ReadOptions options;
        options.sizeLimit = largestCopySize;
        options.refuseLinks = true;
        all = readWholeFile(copyFile(copy.id), options);
    } catch (const FileAccessError &error) {
        qCCritical(corvane::lcCorvane).noquote() << "cannot read the recovery copy" << error.path() << error.reason();
        return std::nullopt;
    }
    const qsizetype end = all.indexOf('\n');
    if (end < 0)
        return std::nullopt;
    return all.sliced(end + 1);
}

void remove(RecoveryCopy copy)
{
    writer().start([id = copy.id, file = copyFile(copy.id), lock = std::move(copy.lock)]() mutable {
        if (!QFile::remove(file) && QFile::exists(file))
            qCCritical(corvane::lcCorvane).noquote() << "cannot remove the recovery copy" << file;
        // A run killed while writing leaves the half-written file beside the copy.
        removeUnfinished(id);
        // Only now may another Quillfern see the copy's name free.
        lock.reset();
    });
}

void waitForWrites()
{
    writer().waitForDone();
}

} // namespace Recovery

Autosave::Autosave(Project *project, std::function<std::optional<QString>()> path, QObject *parent)
    : QObject(parent)
    , m_project(project)
    , m_path(std::move(path))
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(Recovery::interval());
    connect(&m_timer, &QTimer::timeout, this, &Autosave::writeNow);
    connect(m_project, &Project::edited, this, &Autosave::noteChange);
    connect(m_project, &Project::dirtyChanged, this, [this](bool dirty) {
        if (!dirty)
            removeCopy();
    });
    if (auto *application = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        connect(application, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            if (state != Qt::ApplicationActive)
                writeNow();
        });
    }
    // A new project is dirty from the start, but until someone changes it there is nothing to
    // recover; nor in a file that needed repair on opening, which is still on disk.
}

Autosave::~Autosave() = default;

void Autosave::watchWindow(QWidget *window)
{
    if (m_window)
        m_window->removeEventFilter(this);
    m_window = window;
    if (window)
        window->installEventFilter(this);
}

void Autosave::adopt(RecoveryCopy copy)
{
    if (m_copy)
        Recovery::remove(std::move(*m_copy));
    m_copy = std::move(copy);
    // The copy holds what the project was restored with.
    m_due = false;
    m_timer.stop();
}

void Autosave::noteChange()
{
    m_due = true;
    if (!m_timer.isActive())
        m_timer.start();
}

void Autosave::writeNow()
{
    m_timer.stop();
    if (!m_due || !m_project->isDirty())
        return;
    m_due = false;
    QByteArray bytes;
    try {
        bytes = writeProject(*m_project);
    } catch (const ProjectFileError &error) {
        qCCritical(corvane::lcCorvane).noquote()
            << "no recovery copy of" << m_project->name() << ":" << error.message();
        return;
    }
    if (!m_copy) {
        RecoveryCopy copy;
        copy.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        // Unsaved work is nobody else's business.
        if (!folderIsPrivate(true))
            return;
        copy.lock = lockFor(copy.id);
        if (!copy.lock->tryLock(0)) {
            qCCritical(corvane::lcCorvane).noquote() << "cannot lock a recovery copy in" << Recovery::folder();
            return;
        }
        setOwned(copy.id, true);
        m_copy = std::move(copy);
    }
    m_copy->path = m_path();
    m_copy->name = m_project->name();
    m_copy->written = QDateTime::currentDateTimeUtc();
    writer().start([file = copyFile(m_copy->id), header = headerLine(*m_copy), bytes = std::move(bytes)] {
        // Written beside and renamed into place, synced first: a crash meanwhile keeps the last
        // copy. Owner only, and never through a link someone put in the copy's place.
        try {
            replacePrivateFile(file, header + bytes);
        } catch (const FileAccessError &error) {
            qCCritical(corvane::lcCorvane).noquote() << "cannot write the recovery copy" << file << error.reason();
        }
    });
}

void Autosave::removeCopy()
{
    m_timer.stop();
    m_due = false;
    if (m_copy) {
        Recovery::remove(std::move(*m_copy));
        m_copy.reset();
    }
}

bool Autosave::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::WindowDeactivate)
        writeNow();
    return QObject::eventFilter(watched, event);
}
