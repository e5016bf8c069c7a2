#include "QuitRequests.h"

#include "Bundle.h"
#include "Log.h"
#include "Presenter.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>
#include <QVariant>

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

bool handOverToRunningProgram(const QByteArrayList &files, int timeoutMilliseconds)
{
    const QString name = socketName();
    if (name.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMilliseconds))
        return false;
    QByteArray request;
    for (const QByteArray &file : files)
        request += openPrefix + file.toBase64() + '\n';
    request += "opened\n";
    socket.write(request);
    if (!socket.waitForBytesWritten(timeoutMilliseconds))
        return false;
    QElapsedTimer waited;
    waited.start();
    while (!socket.canReadLine()) {
        const qint64 left = timeoutMilliseconds - waited.elapsed();
        if (left <= 0 || !socket.waitForReadyRead(int(left)))
            return false;
    }
    return socket.readLine().trimmed() == "ok";
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
    // would block the name. One that answers was asked first, by handOverToRunningProgram.
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
