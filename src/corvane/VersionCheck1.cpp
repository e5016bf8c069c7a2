#include "VersionCheck1.h"

#include "Alerts.h"
#include "Bundle.h"
#include "Log.h"
#include "WorkerThread.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QThread>

#include <atomic>
#include <charconv>

namespace corvane {

namespace {

using namespace std::chrono_literals;

std::atomic<std::chrono::milliseconds> defaultWait { 30s };
std::atomic<std::chrono::milliseconds> defaultRequestTimeout { 60s };

const QString versionMarker = QStringLiteral(">New in Version ");
const QString headingEnd = QStringLiteral("</h");

// One thread of the library's own runs every download, so that a request keeps running after its
// caller stopped waiting. It ends with the application.
class NetworkThread {
public:
    static QObject *context()
    {
        static std::mutex mutex;
        std::lock_guard lock(mutex);
        static NetworkThread *instance = nullptr;
        if (!instance) {
            if (!QCoreApplication::instance())
                return nullptr;
            instance = new NetworkThread;
            qAddPostRoutine([] {
                delete instance;
                instance = nullptr;
            });
        }
        return instance->m_context;
    }

    // Only on the network thread.
    static QNetworkAccessManager &manager(QObject *context)
    {
        auto *manager = context->findChild<QNetworkAccessManager *>();
        if (!manager)
            manager = new QNetworkAccessManager(context);
        return *manager;
    }

private:
    NetworkThread()
    {
        m_thread.setObjectName(QStringLiteral("VersionCheck.net"));
        m_context = new QObject;
        m_context->moveToThread(&m_thread);
        m_thread.start();
    }
    ~NetworkThread()
    {
        // The manager and any reply still running must die on their own thread.
        QMetaObject::invokeMethod(
            m_context, [context = m_context] { delete context; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }

    QThread m_thread;
    QObject *m_context = nullptr;
};

// One optional sign, then ASCII digits only: QChar::isDigit and the number parsers also take other
// scripts' digits, blanks or a second sign.
std::optional<qint64> parseComponent(QStringView text)
{
    const bool negative = text.startsWith(u'-');
    const QStringView digits = negative || text.startsWith(u'+') ? text.mid(1) : text;
    if (digits.isEmpty())
        return std::nullopt;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    const QByteArray ascii = negative ? text.toLatin1() : digits.toLatin1();
    qint64 value = 0;
    const auto [end, error] = std::from_chars(ascii.constData(), ascii.constData() + ascii.size(), value);
    if (error != std::errc() || end != ascii.constData() + ascii.size())
        return std::nullopt;
    return value;
}

// Errors of the connection, as opposed to those that only restate an HTTP error status.
bool isTransferError(QNetworkReply::NetworkError error)
{
    if (error == QNetworkReply::NoError)
        return false;
    const bool statusError
        = (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError)
        || (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
    return !statusError;
}

// Any answer of the server counts as the page, an error page too, but only when it arrived whole:
// a transfer that broke after the headers is a failed download. The error of an error page hides a
// broken transfer, so the announced length (which Qt drops when it decompresses) is checked as well.
std::optional<QString> transferFailure(QNetworkReply &reply, const QByteArray &body)
{
    if (!reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid() || isTransferError(reply.error()))
        return reply.errorString();
    const QVariant announced = reply.header(QNetworkRequest::ContentLengthHeader);
    if (announced.isValid() && announced.toLongLong() != body.size())
        return QStringLiteral("The connection closed after %1 of %2 bytes.")
            .arg(body.size())
            .arg(announced.toLongLong());
    return std::nullopt;
}

// Runs on the network thread. Each redirect is asked as a request of its own and held to the rule
// of the first address (https, or plain http on loopback): Qt 6.4's own following of a second
// redirect now and then ends in an empty answer that reports no error.
void fetchPage(
    QObject *network, QNetworkRequest request, const std::shared_ptr<VersionCheck1::Join> &join, QStringList visited)
{
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = NetworkThread::manager(network).get(request);
    QObject::connect(reply, &QNetworkReply::finished, reply, [network, request, reply, join, visited]() mutable {
        reply->deleteLater();
        std::optional<QString> failure;
        if (const QUrl target = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
            target.isValid() && !isTransferError(reply->error())) {
            const QUrl next = reply->url().resolved(target);
            visited.append(reply->url().toString());
            failure = redirectRefusal(visited, next, QStringLiteral("the page"),
                QStringLiteral("updates are only read from secure addresses"));
            if (!failure) {
                request.setUrl(next);
                fetchPage(network, request, join, visited);
                return;
            }
        }
        const QByteArray body = reply->readAll();
        if (!failure)
            failure = transferFailure(*reply, body);
        std::lock_guard lock(join->mutex);
        if (failure)
            join->error = SystemError::fromNetwork(reply->url(), *failure);
        else
            join->data = body;
        join->condition.notify_all();
    });
}

std::optional<QList<qint64>> parseVersion(const QString &version)
{
    QList<qint64> numbers;
    for (const QStringView component : QStringView(version).split(u'.')) {
        const std::optional<qint64> number = parseComponent(component);
        if (!number)
            return std::nullopt;
        numbers.append(*number);
    }
    return numbers;
}

} // namespace

VersionCheck1::VersionCheck1(const QString &path, const QString &name, const QString &file)
    : m_join(std::make_shared<Join>())
    , m_root(updateSiteBaseURL() + path + u'/')
    , m_address(m_root + QLatin1String("index.html"))
    , m_name(name)
    , m_file(file)
    , m_wait(defaultWait.load())
    , m_requestTimeout(defaultRequestTimeout.load())
{ }

void VersionCheck1::setTimeouts(std::chrono::milliseconds wait, std::chrono::milliseconds request)
{
    defaultWait = wait;
    defaultRequestTimeout = request;
}

std::optional<QByteArray> VersionCheck1::data() const
{
    std::lock_guard lock(m_join->mutex);
    return m_join->data;
}

void VersionCheck1::setData(std::optional<QByteArray> data)
{
    std::lock_guard lock(m_join->mutex);
    m_join->data = std::move(data);
}

std::optional<SystemError> VersionCheck1::myError() const
{
    std::lock_guard lock(m_join->mutex);
    return m_join->error;
}

void VersionCheck1::setMyError(std::optional<SystemError> error)
{
    std::lock_guard lock(m_join->mutex);
    m_join->error = std::move(error);
}

void VersionCheck1::download()
{
    const QUrl url(m_address);
    QNetworkRequest request(url);
    request.setTransferTimeout(int(m_requestTimeout.count()));
    request.setRawHeader("Cache-Control", "no-cache");

    const std::shared_ptr<Join> join = m_join;
    std::unique_lock lock(join->mutex);
    QObject *network = NetworkThread::context();
    if (!isAcceptableUpdateUrl(url)) {
        join->error = SystemError::fromNetwork(url, QStringLiteral("Only https addresses are used for updates."));
    } else if (!network) {
        join->error = SystemError::fromNetwork(url, QStringLiteral("There is no application to run the download."));
    } else {
        QMetaObject::invokeMethod(
            network, [network, request, join] { fetchPage(network, request, join, {}); }, Qt::QueuedConnection);
    }
    const auto deadline = std::chrono::steady_clock::now() + m_wait;
    while (!join->error && !join->data) {
        if (join->condition.wait_until(lock, deadline) == std::cv_status::timeout)
            break;
    }
    const std::optional<SystemError> error = join->error;
    const bool haveData = join->data.has_value();
    lock.unlock();

    if (error) {
        QString reason
            = error->userInfo().isEmpty() ? error->description() : describeValue(error->userInfo().constLast().second);
        qCCritical(lcCorvane).noquote() << QStringLiteral("cannot download %1 because of %2").arg(m_address, reason);
    } else if (!haveData) {
        qCCritical(lcCorvane).noquote() << QStringLiteral("cannot download %1").arg(m_address);
    }
}

std::optional<QString> VersionCheck1::internetVersion()
{
    if (m_cachedInternetVersion)
        return m_cachedInternetVersion;
    download();
    const std::optional<QByteArray> body = data();
    if (!body)
        return std::nullopt;

    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(*body);
    if (decoder.hasError()) {
        qCCritical(lcCorvane).noquote() << QStringLiteral("cannot read %1").arg(m_address);
        return std::nullopt;
    }
    const qsizetype marker = text.indexOf(versionMarker);
    if (marker < 0) {
        qCCritical(lcCorvane).noquote() << QStringLiteral("cannot find \"%1\" in %2").arg(versionMarker, m_address);
        return std::nullopt;
    }
    const qsizetype begin = marker + versionMarker.size();
    const qsizetype end = text.indexOf(headingEnd, begin);
    if (end < 0) {
        qCCritical(lcCorvane).noquote() << QStringLiteral("cannot find %1 where it should be").arg(headingEnd);
        return std::nullopt;
    }
    const QString version = text.mid(begin, end - begin);
    m_cachedInternetVersion = version;
    qCInfo(lcCorvane).noquote() << QStringLiteral("found version %1 at %2").arg(version, m_root);
    return version;
}

std::optional<QString> VersionCheck1::localVersion() const
{
    return shortVersionString();
}

bool VersionCheck1::isNewer(const QString &localVersion, const QString &internetVersion)
{
    const std::optional<QList<qint64>> local = parseVersion(localVersion);
    if (!local) {
        qCCritical(lcCorvane).noquote()
            << QStringLiteral("Local version %1 contains non-integer component.").arg(localVersion);
        return false;
    }
    const std::optional<QList<qint64>> internet = parseVersion(internetVersion);
    if (!internet) {
        qCCritical(lcCorvane).noquote()
            << QStringLiteral("Internet version %1 contains non-integer component.").arg(internetVersion);
        return false;
    }
    return std::lexicographical_compare(local->cbegin(), local->cend(), internet->cbegin(), internet->cend());
}

void VersionCheck1::startCheck()
{
    startWorkerThread(QStringLiteral("VersionCheck"), [self = shared_from_this()] {
        std::lock_guard queue(self->m_taskQueue);
        const std::optional<QString> local = self->localVersion();
        if (!local) {
            qCCritical(lcCorvane).noquote() << "cannot obtain own version";
            return;
        }
        self->checkAgainst(*local);
    });
}

void VersionCheck1::checkAgainst(const QString &localVersion)
{
    const std::optional<QString> internet = internetVersion();
    if (!internet || !isNewer(localVersion, *internet))
        return;
    Alert alert;
    alert.style = AlertStyle::Warning;
    alert.message = QStringLiteral("Automatic Version Check");
    alert.informativeText = m_name + QLatin1String(" version is ") + localVersion + QLatin1String(", but ") + m_root
        + m_file + QLatin1String(" is already at version ") + *internet + u'.';
    postAlert(std::move(alert));
}

} // namespace corvane
