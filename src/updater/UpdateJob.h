#pragma once

#include "Updater.h"

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <chrono>
#include <memory>

class QLocalSocket;
class QLockFile;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// One run of the updater program, on the UI thread: asks the running program where it is
// installed, downloads the release archive into the working folder, checks and unpacks it into
// "staging" there, asks the running program to quit, waits until it has ended, swaps the
// installation's files for the release's, and starts the new program. Each step reports its
// progress; the run ends with finished(), which names what went wrong, if anything.
class UpdateJob : public QObject {
    Q_OBJECT

public:
    UpdateJob(
        const corvane::SoftwareUpdateParameters &parameters, const QString &workFolder, QObject *parent = nullptr);
    ~UpdateJob() override;

    void start();
    // Ends the run unless the swap has begun; the installation is left as it was.
    void cancel();

    // How long to wait for the running program to end after asking it to quit; zero waits until
    // cancelled. It may ask the user about unsaved work first.
    void setQuitWaitLimit(std::chrono::milliseconds limit) { m_quitWaitLimit = limit; }

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
    void download();
    void downloadFinished();
    void unpack();
    void askToQuit();
    void install();
    void fail(const QString &message, const QString &information);
    void succeed();
    [[nodiscard]] QString binaryName() const;
    [[nodiscard]] bool releaseIsStillThere() const;

    corvane::SoftwareUpdateParameters m_parameters;
    QString m_workFolder;
    QString m_installation;
    QString m_releaseRoot;
    // Held in the work folder for the whole run, so that a later check leaves the folder alone.
    std::unique_ptr<QLockFile> m_lock;
    QLocalSocket *m_socket = nullptr;
    QNetworkAccessManager *m_network = nullptr;
    QPointer<QNetworkReply> m_reply;
    QFile m_archive;
    QTimer *m_quitTimer = nullptr;
    std::chrono::milliseconds m_quitWaitLimit { 0 };
    bool m_swapping = false;
    bool m_done = false;
};
