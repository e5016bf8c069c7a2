#include "QuitRequests.h"

#include "Bundle.h"
#include "Log.h"
#include "Presenter.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QVariant>

#include <sys/socket.h>
#include <unistd.h>

namespace corvane {

namespace {

// Lives on the UI thread, a child of the application, so it goes before the application does.
QPointer<QLocalServer> server;
std::function<void(const QByteArrayList &)> openHandler;

const char openPrefix[] = "open ";

QString socketName()
{
    return quitRequestSocketName(bundleIdentifier().value_or(QString()));
}

bool quitPending = false;
constexpr int idlePollMs = 100;

bool questionUp()
{
    return isPresenting()
        || (qobject_cast<QApplication *>(QCoreApplication::instance()) && QApplication::activeModalWidget());
}

// A quit flow run inside an open question or panel would ask again from within it and close the
// window the question belongs to under its feet. Requests that come meanwhile are the same quit.
void quitWhenNothingIsAsked(const std::function<void()> &quit)
{
    if (!server) {
        quitPending = false;
        return;
    }
    if (questionUp()) {
        QTimer::singleShot(idlePollMs, server.data(), [quit] { quitWhenNothingIsAsked(quit); });
        return;
    }
    quitPending = false;
    quit();
}

void serve(QLocalSocket *socket, const std::function<void()> &quit)
{
    while (socket->canReadLine()) {
        const QByteArray line = socket->readLine().trimmed();
        if (line.startsWith(openPrefix)) {
            // Gathered on the socket until "opened"; names are bytes, as the file system has them.
            const QByteArray name = QByteArray::fromBase64(line.mid(qsizetype(sizeof openPrefix) - 1));
            QByteArrayList files = socket->property("files").value<QByteArrayList>();
            files.append(name);
            socket->setProperty("files", QVariant::fromValue(files));
        } else if (line == "opened") {
            const QByteArrayList files = socket->property("files").value<QByteArrayList>();
            socket->setProperty("files", QVariant());
            qCInfo(lcCorvane).noquote() << "a second start hands over" << files.size() << "file(s)";
            if (openHandler) {
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(),
                    [files] {
                        if (openHandler)
                            openHandler(files);
                    },
                    Qt::QueuedConnection);
            }
            socket->write("ok\n");
            socket->flush();
        } else if (line == "where") {
            socket->write(installationFolder().toUtf8() + '\n');
            socket->flush();
        } else if (line == "quit") {
            qCInfo(lcCorvane).noquote() << "the updater asks Quillfern to quit";
            if (quitPending)
                continue;
            quitPending = true;
            // Outside this handler: the quit flow may close the socket it is called from.
            QTimer::singleShot(0, server.data(), [quit] { quitWhenNothingIsAsked(quit); });
        } else {
            qCWarning(lcCorvane).noquote() << "ignoring the request" << escapedForLog(line) << "on the quit socket";
        }
    }
    // A client that sends a line without end must not grow the buffer for ever.
    if (socket->bytesAvailable() > 4096)
        socket->abort();
}

} // namespace

QString quitRequestSocketName(const QString &bundleId)
{
    static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9.-]*$"));
    if (!allowed.match(bundleId).hasMatch())
        return {};
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        return {};
    return runtime + u'/' + bundleId + QLatin1String(".quit");
}

void setOpenRequestHandler(std::function<void(const QByteArrayList &)> open)
{
    openHandler = std::move(open);
}

QString sessionLockName(const QString &bundleId)
{
    const QString socket = quitRequestSocketName(bundleId);
    return socket.isEmpty() ? QString() : socket.chopped(qsizetype(qstrlen(".quit"))) + QLatin1String(".lock");
}

namespace {

enum class HandOver { Taken, NoListener, Refused };

// The process at the other end of a connected local socket, when it is this user's.
std::optional<qint64> peerOfThisUser(const QLocalSocket &socket)
{
    ucred credentials {};
    socklen_t length = sizeof credentials;
    if (::getsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0
        || credentials.uid != ::geteuid())
        return std::nullopt;
    return qint64(credentials.pid);
}

HandOver handOver(const QByteArrayList &files, qint64 holder, int timeoutMilliseconds)
{
    QLocalSocket socket;
    socket.connectToServer(socketName());
    if (!socket.waitForConnected(timeoutMilliseconds))
        return HandOver::NoListener;
    // Whoever could put a socket in the runtime folder could listen there; file names go only to
    // the Quillfern that holds the lock.
    const std::optional<qint64> peer = peerOfThisUser(socket);
    if (!peer || *peer != holder) {
        qCCritical(lcCorvane).noquote() << "the listener on" << escapedControls(socketName())
                                        << "is not the running Quillfern of this user; opening the files here";
        return HandOver::Refused;
    }
    QByteArray request;
    for (const QByteArray &file : files)
        request += openPrefix + file.toBase64() + '\n';
    request += "opened\n";
    socket.write(request);
    if (!socket.waitForBytesWritten(timeoutMilliseconds))
        return HandOver::NoListener;
    QElapsedTimer waited;
    waited.start();
    while (!socket.canReadLine()) {
        const qint64 left = timeoutMilliseconds - waited.elapsed();
        if (left <= 0 || !socket.waitForReadyRead(int(left)))
            return HandOver::NoListener;
    }
    return socket.readLine().trimmed() == "ok" ? HandOver::Taken : HandOver::NoListener;
}

} // namespace

StartRole takeSessionRole(const QByteArrayList &files, std::unique_ptr<QLockFile> &lock, int timeoutMilliseconds)
{
    const QString name = sessionLockName(bundleIdentifier().value_or(QString()));
    if (name.isEmpty())
        return StartRole::Alone;
    auto candidate = std::make_unique<QLockFile>(name);
    // Only the holder's death frees the lock, however long it has run.
    candidate->setStaleLockTime(0);
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (candidate->tryLock(0)) {
            lock = std::move(candidate);
            return StartRole::First;
        }
        qint64 holder = 0;
        QString host;
        QString application;
        if (candidate->error() == QLockFile::LockFailedError && candidate->getLockInfo(&holder, &host, &application)) {
            // The holder may be starting still, slow to listen: asked again until the timeout.
            const int left = int(std::max<qint64>(timeoutMilliseconds - waited.elapsed(), 1));
            switch (handOver(files, holder, std::min(left, 1000))) {
            case HandOver::Taken:
                return StartRole::HandedOver;
            case HandOver::Refused:
                return StartRole::Alone;
            case HandOver::NoListener:
                break;
            }
        }
        if (waited.elapsed() >= timeoutMilliseconds) {
            qCCritical(lcCorvane).noquote() << "the running Quillfern does not answer; opening the files here";
            return StartRole::Alone;
        }
        QThread::msleep(50);
    }
}

bool listenForQuitRequests(std::function<void()> quit)
{
    QCoreApplication *app = QCoreApplication::instance();
    const QString name = socketName();
    if (!app || name.isEmpty()) {
        qCCritical(lcCorvane).noquote() << "cannot take quit requests: no application or no runtime folder";
        return false;
    }
    stopListeningForQuitRequests();
    auto *listener = new QLocalServer(app);
    listener->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket file left by a Quillfern that crashed, or by one that is just ending after an update,
    // would block the name. Only the holder of the session lock listens, so it is nobody's now.
    if (!listener->listen(name)) {
        QLocalServer::removeServer(name);
        if (!listener->listen(name)) {
            qCCritical(lcCorvane).noquote() << "cannot take quit requests on" << name << listener->errorString();
            delete listener;
            return false;
        }
    }
    QObject::connect(listener, &QLocalServer::newConnection, listener, [listener, quit = std::move(quit)] {
        while (QLocalSocket *socket = listener->nextPendingConnection()) {
            // The socket's mode keeps others out; the credentials make sure of it.
            if (!peerOfThisUser(*socket)) {
                qCCritical(lcCorvane).noquote() << "refusing a connection from another user on the quit socket";
                socket->abort();
                socket->deleteLater();
                continue;
            }
            socket->setParent(listener);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, quit] { serve(socket, quit); });
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    server = listener;
    return true;
}

void stopListeningForQuitRequests()
{
    quitPending = false;
    if (server) {
        server->close();
        delete server.data();
    }
}

} // namespace corvane
