#include "Autosave.h"

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
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>
#include <QSysInfo>
#include <QThreadPool>
#include <QUuid>
#include <QWidget>

#include <mutex>

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

std::optional<RecoveryCopy> readHeader(const QString &id)
{
    QFile file(copyFile(id));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray line = file.readLine(headerLimit);
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
    const QDir dir(folder());
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
    QFile file(copyFile(copy.id));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray all = file.readAll();
    const qsizetype end = all.indexOf('\n');
    if (end < 0 || file.error() != QFileDevice::NoError)
        return std::nullopt;
    return all.sliced(end + 1);
}

void remove(RecoveryCopy copy)
{
    writer().start([file = copyFile(copy.id), lock = std::move(copy.lock)]() mutable {
        if (!QFile::remove(file) && QFile::exists(file))
            qCCritical(corvane::lcCorvane).noquote() << "cannot remove the recovery copy" << file;
        // A run killed while writing leaves the half-written file beside the copy.
        const QFileInfo copy(file);
        for (const QFileInfo &unfinished :
            copy.dir().entryInfoList({ copy.fileName() + QLatin1String(".*") }, QDir::Files))
            QFile::remove(unfinished.filePath());
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
    // A new project is unsaved work from the start.
    if (m_project->isDirty())
        noteChange();
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
        if (!QDir().mkpath(Recovery::folder())
            || !QFile::setPermissions(Recovery::folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
            qCCritical(corvane::lcCorvane).noquote() << "cannot make the recovery folder" << Recovery::folder();
            return;
        }
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
        // Written beside and renamed into place, synced first: a crash meanwhile keeps the last copy.
        QSaveFile copy(file);
        if (!copy.open(QIODevice::WriteOnly) || copy.write(header) != header.size() || copy.write(bytes) != bytes.size()
            || !copy.commit())
            qCCritical(corvane::lcCorvane).noquote() << "cannot write the recovery copy" << file << copy.errorString();
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
