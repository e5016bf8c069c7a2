#pragma once

#include <openssl/evp.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QNetworkInterface>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <zlib.h>

namespace UpdateTest {

// What the test server sends for one path.
// The private half of the key the test builds trust (the build's default releasePublicKey).
inline const QByteArray testKeySeed = "8e4a9272924a66fc89f30dcd90781633418033597eb51d3bc57a897cbadc88ef";

// An Ed25519 signature of data by the key of the given seed (64 hex digits).
inline QByteArray signedBy(const QByteArray &seedHex, const QByteArray &data)
{
    const QByteArray seed = QByteArray::fromHex(seedHex);
    EVP_PKEY *key = EVP_PKEY_new_raw_private_key(
        EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char *>(seed.constData()), size_t(seed.size()));
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    QByteArray signature(64, '\0');
    size_t length = size_t(signature.size());
    const bool made = key && context && EVP_DigestSignInit(context, nullptr, nullptr, nullptr, key) == 1
        && EVP_DigestSign(context, reinterpret_cast<unsigned char *>(signature.data()), &length,
               reinterpret_cast<const unsigned char *>(data.constData()), size_t(data.size()))
            == 1;
    EVP_MD_CTX_free(context);
    EVP_PKEY_free(key);
    return made ? signature : QByteArray();
}

inline QByteArray signedByTheTestKey(const QByteArray &data)
{
    return signedBy(testKeySeed, data);
}

struct Response {
    int status = 200;
    QByteArray body;
    int delayMs = 0; // answer only after this long
    bool never = false; // keep the connection open and never answer
    bool truncate = false; // announce the whole body, send half of it, close
    QByteArray location {}; // with a 3xx status: where the client is sent on
    qint64 announcedSize = -1; // the Content-Length sent, when it is not the body's
};

// A small HTTP server on 127.0.0.1, on a thread of its own so that tests may block the UI thread
// in a download. Unknown paths answer 404. Listening everywhere, it is also reachable on the
// machine's other addresses (see otherAddress()).
class Server {
public:
    explicit Server(bool everywhere = false)
    {
        m_context = new QObject;
        m_context->moveToThread(&m_thread);
        m_thread.start();
        QMetaObject::invokeMethod(
            m_context,
            [this, everywhere] {
                m_server = new QTcpServer(m_context);
                m_server->listen(everywhere ? QHostAddress::AnyIPv4 : QHostAddress::LocalHost);
                m_port = m_server->serverPort();
                QObject::connect(m_server, &QTcpServer::newConnection, m_server, [this] { accept(); });
            },
            Qt::BlockingQueuedConnection);
    }
    ~Server()
    {
        QMetaObject::invokeMethod(
            m_context, [this] { delete m_context; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    // A release archive is served with its signature by the tests' key beside it, as a publisher
    // would; setting the ".sig" path afterwards replaces that.
    void set(const QString &path, const Response &response)
    {
        QMutexLocker lock(&m_mutex);
        m_routes.insert(path, response);
        if (path.endsWith(QLatin1String(".zip")))
            m_routes.insert(path + QLatin1String(".sig"), { 200, signedByTheTestKey(response.body) });
    }
    [[nodiscard]] QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1/").arg(m_port); }
    // The server as plain http on an address of this machine that is not loopback; empty if it has none.
    [[nodiscard]] QString otherBaseUrl() const
    {
        const QList<QHostAddress> addresses = QNetworkInterface::allAddresses();
        for (const QHostAddress &address : addresses) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback())
                return QStringLiteral("http://%1:%2/").arg(address.toString()).arg(m_port);
        }
        return {};
    }
    // Every request's head, as received.
    [[nodiscard]] QList<QByteArray> requests() const
    {
        QMutexLocker lock(&m_mutex);
        return m_requests;
    }

private:
    void accept()
    {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            socket->setParent(m_context);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { read(socket); });
        }
    }
    void read(QTcpSocket *socket)
    {
        QByteArray head = socket->property("head").toByteArray() + socket->readAll();
        socket->setProperty("head", head);
        if (!head.contains("\r\n\r\n") || socket->property("answered").toBool())
            return;
        socket->setProperty("answered", true);
        const QList<QByteArray> words = head.left(head.indexOf("\r\n")).split(' ');
        const QString path = words.size() > 1 ? QString::fromLatin1(words.at(1)) : QString();
        Response response;
        response.status = 404;
        response.body = "<html><body><h1>Not Found</h1></body></html>";
        {
            QMutexLocker lock(&m_mutex);
            m_requests.append(head);
            if (m_routes.contains(path))
                response = m_routes.value(path);
        }
        if (response.never)
            return;
        const auto answer = [socket, response] {
            QByteArray reply = "HTTP/1.1 " + QByteArray::number(response.status) + " Status\r\nContent-Length: "
                + QByteArray::number(response.announcedSize >= 0 ? response.announcedSize : response.body.size())
                + "\r\nConnection: close\r\n";
            if (!response.location.isEmpty())
                reply += "Location: " + response.location + "\r\n";
            reply += "\r\n";
            reply += response.truncate ? response.body.left(response.body.size() / 2) : response.body;
            socket->write(reply);
            socket->disconnectFromHost();
        };
        if (response.delayMs > 0)
            QTimer::singleShot(response.delayMs, socket, answer);
        else
            answer();
    }

    QThread m_thread;
    QObject *m_context = nullptr;
    QTcpServer *m_server = nullptr;
    mutable QMutex m_mutex;
    QMap<QString, Response> m_routes;
    QList<QByteArray> m_requests;
    quint16 m_port = 0;
};

// One archive entry: a Unix mode (type and permission bits) and the content (a link's target).
struct ZipItem {
    QByteArray name;
    QByteArray content;
    quint32 mode = S_IFREG | 0644;
    bool deflate = true;
    quint16 flags = 0;
    // Stated size and checksum different from the real ones, to build damaged archives.
    qint64 statedSize = -1;
    qint64 statedCrc = -1;
};

inline void put16(QByteArray &out, quint32 value)
{
    out.append(char(value & 0xff));
    out.append(char((value >> 8) & 0xff));
}

inline void put32(QByteArray &out, quint32 value)
{
    put16(out, value & 0xffff);
    put16(out, value >> 16);
}

inline QByteArray rawDeflate(const QByteArray &data)
{
    z_stream stream {};
    deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

// Plain: sizes and checksums in the local headers. Streamed: as the release packager writes it,
// with them in a data descriptor after each entry's data, and time and owner extra fields.
enum class ZipStyle { Plain, Streamed };

// A zip archive as a Unix zip program writes it.
inline QByteArray makeZip(const QList<ZipItem> &items, ZipStyle style = ZipStyle::Plain)
{
    const bool streamed = style == ZipStyle::Streamed;
    QByteArray extra;
    if (streamed) {
        put16(extra, 0x5455); // extended time stamp: the modification time
        put16(extra, 5);
        extra += char(1);
        put32(extra, 1700000000);
        put16(extra, 0x7875); // Unix owner: uid and gid of four bytes each
        put16(extra, 11);
        extra += char(1);
        extra += char(4);
        put32(extra, 1000);
        extra += char(4);
        put32(extra, 1000);
    }
    QByteArray out;
    QByteArray directory;
    for (const ZipItem &item : items) {
        const bool deflated = item.deflate && !item.content.isEmpty();
        const QByteArray data = deflated ? rawDeflate(item.content) : item.content;
        const quint32 crc = item.statedCrc >= 0
            ? quint32(item.statedCrc)
            : quint32(crc32(0, reinterpret_cast<const Bytef *>(item.content.constData()), uInt(item.content.size())));
        const quint32 size = item.statedSize >= 0 ? quint32(item.statedSize) : quint32(item.content.size());
        const quint32 offset = quint32(out.size());
        const quint16 flags = item.flags | (streamed ? 0x0008 : 0);
        put32(out, 0x04034b50);
        put16(out, 20);
        put16(out, flags);
        put16(out, deflated ? 8 : 0);
        put32(out, 0);
        // The packager leaves the checksum and compressed size to the descriptor, yet writes the size.
        put32(out, streamed ? 0 : crc);
        put32(out, streamed ? 0 : quint32(data.size()));
        put32(out, size);
        put16(out, quint32(item.name.size()));
        put16(out, quint32(extra.size()));
        out += item.name + extra + data;
        if (streamed) {
            put32(out, 0x08074b50);
            put32(out, crc);
            put32(out, quint32(data.size()));
            put32(out, size);
        }

        put32(directory, 0x02014b50);
        put16(directory, (3 << 8) | 20);
        put16(directory, 20);
        put16(directory, flags);
        put16(directory, deflated ? 8 : 0);
        put32(directory, 0);
        put32(directory, crc);
        put32(directory, quint32(data.size()));
        put32(directory, size);
        put16(directory, quint32(item.name.size()));
        put16(directory, quint32(extra.size()));
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, 0);
        put32(directory, item.mode << 16);
        put32(directory, offset);
        directory += item.name + extra;
    }
    const quint32 directoryOffset = quint32(out.size());
    out += directory;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, quint32(items.size()));
    put16(out, quint32(items.size()));
    put32(out, quint32(directory.size()));
    put32(out, directoryOffset);
    put16(out, 0);
    return out;
}

inline bool writeFile(const QString &path, const QByteArray &content, QFile::Permissions permissions = {})
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        return false;
    file.close();
    return permissions ? file.setPermissions(permissions) : true;
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

constexpr QFile::Permissions executable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
    | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;

// Every file, folder and link below root with its content or target, for comparing whole trees.
inline QMap<QString, QByteArray> snapshot(const QString &root)
{
    QMap<QString, QByteArray> tree;
    const std::function<void(const QString &)> walk = [&](const QString &relative) {
        const QDir dir(root + u'/' + relative);
        const auto entries = dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QFileInfo &entry : entries) {
            const QString path = relative.isEmpty() ? entry.fileName() : relative + u'/' + entry.fileName();
            if (entry.isSymLink())
                tree.insert(path,
                    "link:"
                        + QByteArray::fromStdString(
                            std::filesystem::read_symlink(entry.filePath().toStdString()).string()));
            else if (entry.isDir()) {
                tree.insert(path + u'/', QByteArray());
                walk(path);
            } else
                tree.insert(path, QByteArray::number(int(entry.permissions()), 16) + ':' + readFile(entry.filePath()));
        }
    };
    walk(QString());
    return tree;
}

} // namespace UpdateTest
