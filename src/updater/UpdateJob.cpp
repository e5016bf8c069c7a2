#include "UpdateJob.h"

#include "Bundle.h"
#include "Exception.h"
#include "InstallationSwap.h"
#include "Log.h"
#include "QuitRequests.h"
#include "ReleaseSignature.h"
#include "SwapJournal.h"
#include "UpdaterLock.h"
#include "VersionCheck1.h"
#include "WorkerThread.h"
#include "ZipArchive.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QLockFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace {

constexpr int connectTimeoutMs = 3000;
// Where a reply keeps why it was stopped at a redirect.
constexpr const char *refusedRedirect = "quillfernRefusedRedirect";

// What went wrong with a transfer, in words that say what to do; the network layer's own texts
// ("Operation canceled", "Unknown error") say neither.
QString transferFailure(QNetworkReply *reply, std::chrono::milliseconds idleLimit)
{
    if (const QVariant refused = reply->property(refusedRedirect); refused.isValid())
        return refused.toString();
    switch (reply->error()) {
    case QNetworkReply::OperationCanceledError:
        return QStringLiteral("The update site sent nothing for %1 seconds; it may be busy or out of reach. Try again "
                              "later.")
            .arg(std::chrono::duration_cast<std::chrono::seconds>(idleLimit).count());
    case QNetworkReply::TooManyRedirectsError:
        return QStringLiteral("The update site sends it on and on in a loop of redirects; it is misconfigured. Try "
                              "again later, or tell its publisher.");
    case QNetworkReply::NoError:
        return QStringLiteral("the site answers with the status %1 instead of sending it")
            .arg(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt());
    default:
        return reply->errorString();
    }
}

// Lets a redirect of what (the download, the signature) be followed when it keeps to the rules;
// otherwise keeps why on the reply and stops it.
bool followRedirect(QNetworkReply *reply, const QUrl &target, const QString &what)
{
    QStringList visited = reply->property("quillfernVisited").toStringList();
    if (visited.isEmpty())
        visited.append(reply->request().url().toString());
    const std::optional<QString> refusal = corvane::redirectRefusal(
        visited, target, what, QStringLiteral("releases are only taken from secure addresses"));
    visited.append(target.toString());
    reply->setProperty("quillfernVisited", visited);
    if (!refusal) {
        Q_EMIT reply->redirectAllowed();
        return true;
    }
    reply->setProperty(refusedRedirect, *refusal);
    reply->abort();
    return false;
}

// Names the installation while its swap runs, for an updater started again after this one was killed.
QString swapMarkerPath(const QString &workFolder)
{
    return workFolder + QLatin1String("/installing");
}

constexpr int quitPollMs = 200;

// The processes of this user whose program is the file at path, this one aside.
QList<qint64> processesRunning(const QString &path)
{
    QList<qint64> found;
    const QString program = QFileInfo(path).canonicalFilePath();
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number || pid == qint64(::getpid()))
            continue;
        // Unreadable for other users' processes; a replaced program reads with " (deleted)".
        QString exe = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
        if (exe.endsWith(QLatin1String(" (deleted)")))
            exe.chop(10);
        if (!exe.isEmpty() && (exe == program || exe == path))
            found.append(pid);
    }
    return found;
}

QString environmentOf(qint64 pid, const QByteArray &name)
{
    QFile file(QStringLiteral("/proc/%1/environ").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &entry : file.readAll().split('\0')) {
        if (entry.startsWith(QByteArray(name + '=')))
            return QFile::decodeName(entry.mid(name.size() + 1));
    }
    return {};
}

} // namespace

UpdateJob::UpdateJob(const corvane::SoftwareUpdateParameters &parameters, const QString &workFolder, QObject *parent)
    : QObject(parent)
    , m_parameters(parameters)
    , m_workFolder(QDir::cleanPath(workFolder))
{ }

UpdateJob::~UpdateJob()
{
    if (m_reply)
        m_reply->abort();
}

QString UpdateJob::binaryName() const
{
    return m_parameters.shortAppName.toLower();
}

QUrl UpdateJob::archiveUrl() const
{
    return QUrl(
        corvane::updateSiteBaseURL() + m_parameters.urlPath + u'/' + m_parameters.shortAppName + QLatin1String(".zip"));
}

QString UpdateJob::stagingFolder() const
{
    return m_workFolder + QLatin1String("/staging");
}

QString UpdateJob::archivePath() const
{
    return m_workFolder + u'/' + m_parameters.shortAppName + QLatin1String(".zip");
}

void UpdateJob::start()
{
    qCInfo(corvane::lcCorvane).noquote() << "SoftwareUpdater started with" << m_parameters.arguments().join(u' ')
                                         << "in" << m_workFolder;
    QTimer::singleShot(0, this, &UpdateJob::locateInstallation);
}

void UpdateJob::repairInterruptedInstall(const QString &workFolder)
{
    QFile marker(swapMarkerPath(workFolder));
    if (!marker.open(QIODevice::ReadOnly))
        return;
    const QString installation = QFile::decodeName(marker.readAll());
    marker.close();
    if (corvane::repairInterruptedSwap(installation) != corvane::SwapRepair::Failed)
        marker.remove();
}

void UpdateJob::cancel()
{
    if (m_done || m_swapping)
        return;
    // The transfer's end sees the run finished and removes the partial download.
    fail(QStringLiteral("The update was cancelled."),
        QStringLiteral("%1 was left as it was.").arg(m_parameters.shortAppName));
}

// A release left behind would be installed by nobody; the next check downloads it again.
void UpdateJob::discardRelease()
{
    QDir(stagingFolder()).removeRecursively();
    QFile::remove(archivePath());
}

void UpdateJob::fail(const QString &message, const QString &information, bool keepArchive)
{
    if (m_done)
        return;
    m_done = true;
    qCCritical(corvane::lcCorvane).noquote() << message << information;
    // Without the lock the folder is another updater's.
    if (m_lock) {
        QDir(stagingFolder()).removeRecursively();
        if (!keepArchive)
            QFile::remove(archivePath());
    }
    // Stopped here and reported from the event loop: whoever hears of the end may show an alert,
    // whose event loop would otherwise run the transfer's end and delete it under its handler.
    if (m_reply)
        m_reply->abort();
    QMetaObject::invokeMethod(
        this, [this, message, information] { Q_EMIT finished(false, message, information); }, Qt::QueuedConnection);
}

void UpdateJob::failAfterQuit(const QString &message, const QString &information)
{
    discardRelease();
    // The run is over: the program started here may look for updates at once.
    m_lock.reset();
    const QString app = m_parameters.shortAppName;
    const QString program = m_installation + QLatin1String("/bin/") + binaryName();
    const bool started = QProcess::startDetached(program, {}, m_installation);
    qCInfo(corvane::lcCorvane).noquote() << (started ? "started again" : "could not start again") << program;
    fail(message,
        information + u'\n'
            + (started ? QStringLiteral("%1, which had quit for the update, was started again.").arg(app)
                       : QStringLiteral("%1 had quit for the update and could not be started again; start %2 "
                                        "yourself.")
                             .arg(app, program)));
}

void UpdateJob::succeed()
{
    m_done = true;
    QMetaObject::invokeMethod(
        this, [this] { Q_EMIT finished(true, QString(), QString()); }, Qt::QueuedConnection);
}

bool UpdateJob::releaseIsStillThere() const
{
    const QFileInfo program(m_releaseRoot + QLatin1String("/bin/") + binaryName());
    return !QDir(m_releaseRoot).isEmpty() && program.isFile() && program.isExecutable();
}

void UpdateJob::locateInstallation()
{
    const QString name = corvane::quitRequestSocketName(m_parameters.bundleId);
    if (name.isEmpty() || m_parameters.shortAppName.isEmpty() || m_parameters.urlPath.isEmpty()) {
        fail(QStringLiteral("The updater was started with unusable arguments."), m_parameters.arguments().join(u' '));
        return;
    }
    QString lockProblem;
    m_lock = corvane::lockUpdateFolder(m_workFolder, &lockProblem);
    if (!m_lock) {
        fail(QStringLiteral("%1 is already being updated.").arg(m_parameters.shortAppName), lockProblem);
        return;
    }
    // Under the lock, so that two updaters never repair one swap.
    repairInterruptedInstall(m_workFolder);
    Q_EMIT progress(QStringLiteral("Looking for the running %1\u2026").arg(m_parameters.shortAppName), 0, 0);
    m_socket = new QLocalSocket(this);
    auto *noAnswer = new QTimer(this);
    noAnswer->setSingleShot(true);
    const auto answered = [this, noAnswer](const QByteArray &answer) {
        noAnswer->stop();
        noAnswer->deleteLater();
        disconnect(m_socket, nullptr, this, nullptr);
        installationFound(answer);
    };
    connect(noAnswer, &QTimer::timeout, this, [answered] { answered({}); });
    connect(m_socket, &QLocalSocket::connected, this, [this] {
        m_socket->write("where\n");
        m_socket->flush();
    });
    connect(m_socket, &QLocalSocket::readyRead, this, [this, answered] {
        if (m_socket->canReadLine())
            answered(m_socket->readLine().trimmed());
    });
    connect(m_socket, &QLocalSocket::errorOccurred, this, [answered] { answered({}); });
    noAnswer->start(connectTimeoutMs);
    m_socket->connectToServer(name);
}

void UpdateJob::installationFound(const QByteArray &answer)
{
    const QString app = m_parameters.shortAppName;
    if (answer.isEmpty()) {
        fail(QStringLiteral("%1 does not answer.").arg(app),
            QStringLiteral("The updater replaces the %1 that started it, but could not reach it. Start %1 again and "
                           "let it look for updates.")
                .arg(app));
        return;
    }
    m_installation = QDir::cleanPath(QString::fromUtf8(answer));
    if (!QFileInfo(m_installation + QLatin1String("/bin/") + binaryName()).isFile()) {
        fail(QStringLiteral("%1 cannot be updated here.").arg(app),
            QStringLiteral("%1 runs from %2, which is not an installed %1 (it has no bin/%3). Update it the way it "
                           "was built.")
                .arg(app, m_installation, binaryName()));
        return;
    }
    readAnnouncedVersion();
}

// The release is held to the version the site announces: the page is read again here, and the
// archive must carry that version, inside the signed bytes.
void UpdateJob::readAnnouncedVersion()
{
    Q_EMIT progress(QStringLiteral("Reading which release the update site offers\u2026"), 0, 0);
    const auto check = std::make_shared<corvane::VersionCheck1>(
        m_parameters.urlPath, m_parameters.shortAppName, m_parameters.shortAppName + QLatin1String(".zip"));
    const QPointer<UpdateJob> job(this);
    corvane::startWorkerThread(QStringLiteral("SoftwareUpdater.page"), [check, job] {
        const std::optional<QString> version = check->internetVersion();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [job, version, address = check->address()] {
                if (!job || job->m_done)
                    return;
                if (!version) {
                    job->fail(QStringLiteral("The update was not downloaded."),
                        QStringLiteral("The page %1 that announces the release could not be read; the log says "
                                       "why.\n%2 was left as it was.")
                            .arg(address, job->m_parameters.shortAppName));
                    return;
                }
                job->m_announcedVersion = *version;
                job->download();
            },
            Qt::QueuedConnection);
    });
}

std::optional<QString> UpdateJob::refusedVersion() const
{
    const QString app = m_parameters.shortAppName;
    // This program came with the installed release, so its version is the installed one.
    const QString installed = corvane::shortVersionString().value_or(QString());
    QFile file(m_releaseRoot + QLatin1String("/lib/quillfern/version"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("It does not say which version it is (it has no lib/quillfern/version).\n%1 was left "
                              "as it was.")
            .arg(app);
    const QString release = QString::fromUtf8(file.read(64)).trimmed();
    if (release != m_announcedVersion)
        return QStringLiteral("It is version %1, but the update site announces version %2; the site may be out of "
                              "date or tampered with. Try again later.\n%3 was left as it was.")
            .arg(release, m_announcedVersion, app);
    if (!corvane::VersionCheck1::isNewer(installed, release))
        return QStringLiteral("It is version %1, which is not newer than the installed version %2; an update never "
                              "goes back to an older release.\n%3 was left as it was.")
            .arg(release, installed, app);
    return std::nullopt;
}

void UpdateJob::download()
{
    const QUrl url = archiveUrl();
    if (!corvane::isAcceptableUpdateUrl(url)) {
        fail(QStringLiteral("The update was not downloaded."),
            QStringLiteral("%1 is not an https address; releases are only installed from secure addresses.")
                .arg(url.toString()));
        return;
    }
    m_archive.setFileName(archivePath() + QLatin1String(".part"));
    m_downloaded = 0;
    if (!m_archive.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        fail(QStringLiteral("The update was not downloaded."),
            QStringLiteral("%1 cannot be written: %2").arg(m_archive.fileName(), m_archive.errorString()));
        return;
    }
    Q_EMIT progress(QStringLiteral("Downloading %1\u2026").arg(url.toString()), 0, 0);
    m_network = new QNetworkAccessManager(this);
    // Every redirect is checked before it is followed: the release must come over HTTPS to the end.
    m_network->setRedirectPolicy(QNetworkRequest::UserVerifiedRedirectPolicy);
    QNetworkRequest request(url);
    request.setTransferTimeout(int(m_transferTimeout.count()));
    request.setRawHeader("Cache-Control", "no-cache");
    m_reply = m_network->get(request);
    connect(m_reply, &QNetworkReply::redirected, this, [this](const QUrl &target) {
        if (!followRedirect(m_reply, target, QStringLiteral("the download")))
            fail(QStringLiteral("The update was not downloaded."),
                QStringLiteral("%1\n%2 was left as it was.")
                    .arg(m_reply->property(refusedRedirect).toString(), m_parameters.shortAppName));
    });
    connect(m_reply, &QNetworkReply::readyRead, this, [this] {
        if (m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200)
            return;
        // Stopped as soon as it is known, so that a wrong or hostile site cannot fill the disk.
        constexpr auto largest = qint64(ZipArchive::maximumArchiveSize);
        if (m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > largest
            || m_downloaded + m_reply->bytesAvailable() > largest) {
            fail(QStringLiteral("The update could not be downloaded."),
                QStringLiteral("%1 is larger than any release can be (more than %2 MiB).\n%3 was left as it was.")
                    .arg(m_reply->url().toString())
                    .arg(largest >> 20)
                    .arg(m_parameters.shortAppName));
            return;
        }
        writeDownloaded(m_reply->readAll());
    });
    connect(m_reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64 total) {
        Q_EMIT progress(QStringLiteral("Downloading %1\u2026").arg(m_parameters.shortAppName), received,
            std::max<qint64>(total, 0));
    });
    connect(m_reply, &QNetworkReply::finished, this, &UpdateJob::downloadFinished);
}

void UpdateJob::downloadFinished()
{
    m_reply->deleteLater();
    if (m_done) {
        m_archive.remove();
        return;
    }
    const QUrl url = m_reply->url();
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool ok = m_reply->error() == QNetworkReply::NoError && status == 200;
    if (ok && !writeDownloaded(m_reply->readAll()))
        return;
    // A connection closed early can look like a finished download; the announced length tells.
    const QVariant announced = m_reply->header(QNetworkRequest::ContentLengthHeader);
    const bool complete = !announced.isValid() || announced.toLongLong() == m_downloaded;
    const QString shortBy
        = QStringLiteral("the download ended after %1 of %2 bytes").arg(m_downloaded).arg(announced.toLongLong());
    m_archive.close();
    if (!ok || !complete) {
        const QString reason = !ok ? transferFailure(m_reply, m_transferTimeout) : shortBy;
        m_archive.remove();
        fail(QStringLiteral("The update could not be downloaded."),
            QStringLiteral("%1: %2\n%3 was left as it was.").arg(url.toString(), reason, m_parameters.shortAppName));
        return;
    }
    QFile::remove(archivePath());
    if (!m_archive.rename(archivePath())) {
        fail(QStringLiteral("The update could not be downloaded."), m_archive.errorString());
        return;
    }
    downloadSignature(url);
}

bool UpdateJob::writeDownloaded(const QByteArray &bytes)
{
    if (m_done)
        return false;
    // Written by hand for the system's reason: the file's own error text loses it, and a later
    // write would clear it, so that the download would only look cut short.
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(m_archive.handle(), bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += n;
    }
    m_downloaded += written;
    if (written == bytes.size())
        return true;
    const QString reason = qt_error_string(errno);
    m_archive.close();
    m_archive.remove();
    fail(QStringLiteral("The update could not be downloaded."),
        QStringLiteral("%1 cannot be written: %2. Free some space in your home folder and look for updates "
                       "again.\n%3 was left as it was.")
            .arg(m_archive.fileName(), reason, m_parameters.shortAppName));
    return false;
}

void UpdateJob::downloadSignature(const QUrl &archive)
{
    // Beside the archive where it finally came from, after any redirects.
    QNetworkRequest request(QUrl(archive.toString() + QLatin1String(".sig")));
    request.setTransferTimeout(int(m_transferTimeout.count()));
    request.setRawHeader("Cache-Control", "no-cache");
    QNetworkReply *reply = m_network->get(request);
    connect(reply, &QNetworkReply::redirected, this,
        [reply](const QUrl &target) { followRedirect(reply, target, QStringLiteral("the signature")); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { signatureFinished(reply); });
}

void UpdateJob::signatureFinished(QNetworkReply *reply)
{
    reply->deleteLater();
    if (m_done)
        return;
    const QString app = m_parameters.shortAppName;
    // A signature is 64 bytes; anything much larger is not one.
    constexpr qint64 largestSignature = 1024;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray signature = reply->read(largestSignature + 1);
    const bool failed = reply->error() != QNetworkReply::NoError || reply->property(refusedRedirect).isValid();
    if (failed || status != 200 || signature.size() > largestSignature) {
        const QString reason = failed ? transferFailure(reply, m_transferTimeout)
            : status != 200
            ? QStringLiteral("it is not there (the site answers %1)").arg(status)
            : QStringLiteral("what the site serves there is larger than %1 bytes, which is no signature; the site "
                             "may be misconfigured")
                  .arg(largestSignature);
        fail(QStringLiteral("The update was not installed."),
            QStringLiteral("The release's signature could not be downloaded from %1: %2\n%3 was left as it was.")
                .arg(reply->url().toString(), reason, app));
        return;
    }
    QFile archive(archivePath());
    const bool read = archive.open(QIODevice::ReadOnly);
    const QByteArray bytes = read ? archive.readAll() : QByteArray();
    if (!read || archive.error() != QFileDevice::NoError) {
        fail(QStringLiteral("The update was not installed."), archive.errorString());
        return;
    }
    archive.close();
    if (!corvane::isSignedBy(bytes, signature, corvane::releasePublicKey())) {
        fail(QStringLiteral("The update was not installed."),
            QStringLiteral("The downloaded release does not carry its publisher's signature: it was not made by the "
                           "publisher, or it was changed on the way.\n%1 was left as it was.")
                .arg(app));
        return;
    }
    // Unpacked from these very bytes: the file could be changed once they are checked.
    m_signedArchive = bytes;
    QTimer::singleShot(0, this, &UpdateJob::unpack);
}

void UpdateJob::unpack()
{
    Q_EMIT progress(QStringLiteral("Checking the new release\u2026"), 0, 0);
    const QString staging = stagingFolder();
    if (!QDir(staging).removeRecursively()) {
        fail(QStringLiteral("The update could not be unpacked."), QStringLiteral("%1 cannot be removed.").arg(staging));
        return;
    }
    try {
        const ZipArchive archive(std::exchange(m_signedArchive, {}));
        archive.extractTo(staging);
    } catch (const corvane::Exception &error) {
        QDir(staging).removeRecursively();
        fail(error.message(),
            error.information().value_or(QString())
                + QStringLiteral("\n%1 was left as it was.").arg(m_parameters.shortAppName));
        return;
    }
    // The packaged tree sits in one top folder; a flat archive works too.
    const QStringList top = QDir(staging).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    m_releaseRoot = top.size() == 1 && QFileInfo(staging + u'/' + top.constFirst()).isDir()
        ? staging + u'/' + top.constFirst()
        : staging;
    const QFileInfo program(m_releaseRoot + QLatin1String("/bin/") + binaryName());
    if (!program.isFile() || !program.isExecutable()) {
        fail(QStringLiteral("The downloaded release cannot be used."),
            QStringLiteral("It has no program bin/%1.\n%2 was left as it was.")
                .arg(binaryName(), m_parameters.shortAppName));
        return;
    }
    if (const std::optional<QString> refusal = refusedVersion()) {
        fail(QStringLiteral("The downloaded release is not installed."), *refusal);
        return;
    }
    try {
        const InstallationSwap swap(m_installation, m_releaseRoot);
        for (const QString &folder : swap.foldersToWrite()) {
            if (::access(QFile::encodeName(folder).constData(), W_OK) != 0) {
                fail(QStringLiteral("%1 cannot be updated by you.").arg(m_parameters.shortAppName),
                    QStringLiteral("%1 is installed in %2, which your user account may not change; it probably came "
                                   "with the system's packages. Update it the way it was installed.\nThe new, signed "
                                   "release was downloaded to %3.")
                        .arg(m_parameters.shortAppName, m_installation, archivePath()),
                    true);
                return;
            }
        }
        // Found before the quit: nobody quits for an update that cannot be installed.
        swap.checkFreeSpace();
    } catch (const corvane::Exception &error) {
        fail(error.message(), error.information().value_or(QString()));
        return;
    }
    askToQuit();
}

void UpdateJob::askToQuit()
{
    Q_EMIT progress(QStringLiteral("The update will be installed when %1 quits.").arg(m_parameters.shortAppName), 0, 0);
    if (m_socket->state() == QLocalSocket::ConnectedState) {
        m_socket->write("quit\n");
        m_socket->flush();
    }
    m_quitTimer = new QTimer(this);
    m_quitTimer->setSingleShot(true);
    connect(m_quitTimer, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("%1 did not quit.").arg(m_parameters.shortAppName),
            QStringLiteral("The update was not installed and its download was removed; %1 was left as it was.")
                .arg(m_parameters.shortAppName));
    });
    m_quitTimer->start(m_quitWaitLimit);
    // Every program running from the installation must have ended before the swap, also those of
    // other sessions of the user, and those started while the update waits.
    auto *poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this, poll] {
        if (m_done) {
            poll->stop();
            return;
        }
        if (!askEveryProgramToQuit() && m_socket->state() == QLocalSocket::UnconnectedState) {
            poll->stop();
            install();
        }
    });
    poll->start(quitPollMs);
}

bool UpdateJob::askEveryProgramToQuit()
{
    const QList<qint64> running = processesRunning(m_installation + QLatin1String("/bin/") + binaryName());
    const QString ownSocket = corvane::quitRequestSocketName(m_parameters.bundleId);
    for (const qint64 pid : running) {
        if (m_askedToQuit.contains(pid))
            continue;
        m_askedToQuit.insert(pid);
        const QString runtime = environmentOf(pid, "XDG_RUNTIME_DIR");
        const QString socketName = runtime + u'/' + m_parameters.bundleId + QLatin1String(".quit");
        // The one that started the update was asked on the socket it answered on.
        if (runtime.isEmpty() || socketName == ownSocket)
            continue;
        qCInfo(corvane::lcCorvane).noquote()
            << "asking" << m_parameters.shortAppName << "of another session (process" << pid << ") to quit";
        auto *socket = new QLocalSocket(this);
        connect(socket, &QLocalSocket::connected, socket, [socket] {
            socket->write("quit\n");
            socket->flush();
        });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::errorOccurred, socket, &QObject::deleteLater);
        socket->connectToServer(socketName);
    }
    return !running.isEmpty();
}

void UpdateJob::install()
{
    if (m_done)
        return;
    if (m_quitTimer)
        m_quitTimer->stop();
    // The swap installs whatever it finds; finding nothing must not pass for an update.
    if (!releaseIsStillThere()) {
        failAfterQuit(QStringLiteral("The update could not be installed."),
            QStringLiteral("The unpacked release in %1 is missing or empty; something removed it while the updater "
                           "waited.\n%2 was left as it was.")
                .arg(stagingFolder(), m_parameters.shortAppName));
        return;
    }
    m_swapping = true;
    Q_EMIT progress(QStringLiteral("Installing the new release\u2026"), 0, 0);
    QFile marker(swapMarkerPath(m_workFolder));
    if (marker.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        marker.write(QFile::encodeName(m_installation));
        marker.close();
    }
    try {
        InstallationSwap swap(m_installation, m_releaseRoot);
        // For tests of what the next start repairs: the updater killed after that change.
        bool killAfterSet = false;
        const int killAfter = qEnvironmentVariableIntValue("QUILLFERN_UPDATER_KILL_AFTER_CHANGE", &killAfterSet);
        if (killAfterSet)
            swap.afterChange = [killAfter](int change) {
                if (change == killAfter)
                    std::raise(SIGKILL);
            };
        swap.run();
    } catch (const corvane::Exception &error) {
        marker.remove();
        m_swapping = false;
        failAfterQuit(error.message(), error.information().value_or(QString()));
        return;
    }
    marker.remove();
    m_swapping = false;
    discardRelease();
    const QString program = m_installation + QLatin1String("/bin/") + binaryName();
    qCInfo(corvane::lcCorvane).noquote() << "installed the new release in" << m_installation << "and starting"
                                         << program;
    if (!QProcess::startDetached(program, {}, m_installation)) {
        fail(QStringLiteral("%1 was updated but could not be started.").arg(m_parameters.shortAppName), program);
        return;
    }
    succeed();
}
