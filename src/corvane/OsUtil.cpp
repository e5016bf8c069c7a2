#include "OsUtil.h"

#include "Log.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMimeData>
#include <QStringList>
#include <QVariantMap>

namespace corvane::OsUtil {

namespace {

const QString plainText = QStringLiteral("text/plain");

QClipboard *clipboard()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        qCWarning(lcCorvane) << "No clipboard without a QGuiApplication";
        return nullptr;
    }
    return QGuiApplication::clipboard();
}

// Asynchronous, so that a slow or activating service never blocks the UI thread; a failure is
// only logged, as the caller has nothing to show for it either way.
void callSessionService(const QString &service, const QString &path, const QString &interface, const QString &method,
    const QVariantList &arguments)
{
    if (!QCoreApplication::instance()) {
        qCWarning(lcCorvane).noquote() << method << "not sent: there is no application to receive the answer";
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qCWarning(lcCorvane).noquote() << method << "not sent: no D-Bus session bus:" << bus.lastError().message();
        return;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(message), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [method, service](auto *call) {
        if (call->isError()) {
            qCWarning(lcCorvane).noquote()
                << method << "of" << service << "failed:" << call->error().name() << call->error().message();
        }
        call->deleteLater();
    });
}

QStringList uriList(const QList<QUrl> &files)
{
    QStringList uris;
    uris.reserve(files.size());
    for (const QUrl &file : files)
        uris.append(file.toString(QUrl::FullyEncoded));
    return uris;
}

void callFileManager(const QString &method, const QList<QUrl> &files)
{
    callSessionService(QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), method, { uriList(files), QString() });
}

} // namespace

void copyToPasteboard(const QString &text)
{
    if (QClipboard *board = clipboard()) {
        auto *data = new QMimeData;
        data->setText(text);
        board->setMimeData(data);
    }
}

std::optional<QString> stringFromPasteboard()
{
    const QClipboard *board = clipboard();
    const QMimeData *data = board ? board->mimeData() : nullptr;
    if (!data || !data->hasFormat(plainText))
        return std::nullopt;
    return data->text();
}

void revealInFileViewer(const QUrl &file)
{
    revealInFileViewer(QList<QUrl> { file });
}

void revealInFileViewer(const QList<QUrl> &files)
{
    callFileManager(QStringLiteral("ShowItems"), files);
}

void showInfo(const QUrl &file)
{
    showInfo(QList<QUrl> { file });
}

void showInfo(const QList<QUrl> &files)
{
    callFileManager(QStringLiteral("ShowItemProperties"), files);
}

void openURL(const QUrl &url)
{
    if (!QDesktopServices::openUrl(url))
        qCWarning(lcCorvane).noquote() << "Could not open" << url.toString();
}

void deliverNotification(const QString &title, const std::optional<QString> &informativeText)
{
    QString application = QGuiApplication::applicationDisplayName();
    if (application.isEmpty())
        application = QStringLiteral("Quillfern");
    const QVariantMap hints {
        { QStringLiteral("sound-name"), QStringLiteral("message-new-instant") },
        { QStringLiteral("desktop-entry"), QStringLiteral("org.quillfern.Quillfern") },
    };
    callSessionService(QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"), QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("Notify"),
        { application, 0U, QString(), title, informativeText.value_or(QString()), QStringList(), hints, -1 });
}

} // namespace corvane::OsUtil
