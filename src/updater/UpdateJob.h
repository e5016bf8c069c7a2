#pragma once

#include "Updater.h"

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>

class QLocalSocket;
class QLockFile;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// One run of the updater program, on the UI thread: asks the running program where it is
// installed, reads which version the update site announces, downloads the release archive into the working folder,
// checks and unpacks it into "staging" there, asks the running program to quit, waits until it has ended, swaps the
// installation's files for the release's, and starts the new program. Each step reports its
// progress; the run ends with finished(), which names what went wrong, if anything.
class UpdateJob : public QObject {
    Q_OBJECT

public:
    UpdateJob(
        const corvane::SoftwareUpdateParameters &parameters, const QString &workFolder, QObject *parent = nullptr);
    ~UpdateJob() override;

    void start();
    // Ends the run unless the swap has begun; the installation is left as it was and the
    // downloaded release is removed.
    void cancel();

    // How long to wait for the running program to end after asking it to quit. Its user may refuse
    // to quit when asked about unsaved work; the update then waits for a later quit, but not for ever.
    static constexpr std::chrono::milliseconds defaultQuitWaitLimit = std::chrono::hours(24);
    void setQuitWaitLimit(std::chrono::milliseconds limit) { m_quitWaitLimit = limit; }
    // How long a transfer may receive nothing before it is given up; tests shorten it.
    void setTransferTimeout(std::chrono::milliseconds limit) { m_transferTimeout = limit; }

    // Finishes or takes back the swap that an updater killed in this work folder had begun; a run
    // does this first once it holds the folder's lock.
    static void repairInterruptedInstall(const QString &workFolder);

    [[nodiscard]] QUrl archiveUrl() const;
    [[nodiscard]] QString stagingFolder() const;
    [[nodiscard]] QString archivePath() const;

Q_SIGNALS:
    // total is 0 while unknown or for steps without a measure.
    void progress(const QString &status, qint64 done, qint64 total);
    // message is empty on success; information says why and what is left where.
    void finished(bool success, const QString &message, const QString &information);

private:
    void locateInstallation();
    void installationFound(const QByteArray &answer);
    void readAnnouncedVersion();
    void download();
    void downloadFinished();
    // Appends to the download; a write that fails ends the run with its reason.
    bool writeDownloaded(const QByteArray &bytes);
    // The publisher's signature of the archive, checked before anything is unpacked.
    void downloadSignature(const QUrl &archive);
    void signatureFinished(QNetworkReply *reply);
    void unpack();
    void askToQuit();
    // Asks each program running from the installation that was not asked yet to quit, on the quit
    // socket of its own session. Returns whether any still runs.
    bool askEveryProgramToQuit();
    void install();
    // Ends the run; the unpacked release and, unless kept, the downloaded one are removed.
    void fail(const QString &message, const QString &information, bool keepArchive = false);
    // Ends a run for which every program had quit, starting the installed one again, as it is
    // after the failure, so that its user is not left without it.
    void failAfterQuit(const QString &message, const QString &information);
    void discardRelease();
    void succeed();
    [[nodiscard]] QString binaryName() const;
    [[nodiscard]] bool releaseIsStillThere() const;
    // Why the unpacked release must not be installed: it does not say its version, or the version
    // is not the announced one or not newer than the installed one. None when it may.
    [[nodiscard]] std::optional<QString> refusedVersion() const;

    corvane::SoftwareUpdateParameters m_parameters;
    QString m_workFolder;
    QString m_installation;
    QString m_releaseRoot;
    QString m_announcedVersion;
    // Held in the work folder for the whole run, so that a later check leaves the folder alone.
    std::unique_ptr<QLockFile> m_lock;
    QLocalSocket *m_socket = nullptr;
    QNetworkAccessManager *m_network = nullptr;
    QPointer<QNetworkReply> m_reply;
    QFile m_archive;
    qint64 m_downloaded = 0;
    QByteArray m_signedArchive;
    QTimer *m_quitTimer = nullptr;
    QSet<qint64> m_askedToQuit;
    std::chrono::milliseconds m_quitWaitLimit = defaultQuitWaitLimit;
    std::chrono::milliseconds m_transferTimeout = std::chrono::seconds(60);
    bool m_swapping = false;
    bool m_done = false;
};
