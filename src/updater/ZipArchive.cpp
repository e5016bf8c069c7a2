#include "ZipArchive.h"

#include "Exception.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QStringDecoder>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

constexpr quint32 endOfDirectorySignature = 0x06054b50;
constexpr quint32 directorySignature = 0x02014b50;
constexpr quint32 localHeaderSignature = 0x04034b50;
constexpr qsizetype endOfDirectorySize = 22;
constexpr qsizetype directoryHeaderSize = 46;
constexpr qsizetype localHeaderSize = 30;
constexpr quint16 methodStored = 0;
constexpr quint16 methodDeflated = 8;
constexpr quint16 flagEncrypted = 0x0001;
constexpr quint16 flagUtf8 = 0x0800;
constexpr quint8 madeByUnix = 3;
constexpr qsizetype maximumLinkSize = 4096;

[[noreturn]] void refuse(const QString &reason)
{
    throw corvane::Exception(QStringLiteral("The downloaded release cannot be used."), reason);
}

[[noreturn]] void refuseEntry(const QString &path, const QString &reason)
{
    refuse(QStringLiteral("The archive entry \u201c%1\u201d %2.").arg(path, reason));
}

class Reader {
public:
    Reader(const QByteArray &bytes, quint64 offset, quint64 length)
        : m_bytes(bytes)
        , m_offset(offset)
    {
        if (offset > quint64(bytes.size()) || length > quint64(bytes.size()) - offset)
            refuse(QStringLiteral("The archive is truncated."));
    }
    quint16 u16()
    {
        const auto *p = reinterpret_cast<const uchar *>(m_bytes.constData()) + m_offset;
        m_offset += 2;
        return quint16(p[0] | (p[1] << 8));
    }
    quint32 u32()
    {
        const quint32 low = u16();
        return low | (quint32(u16()) << 16);
    }
    void skip(quint64 count) { m_offset += count; }
    [[nodiscard]] quint64 offset() const { return m_offset; }

private:
    const QByteArray &m_bytes;
    quint64 m_offset;
};

std::optional<QString> decodeUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// Relative, downward, and made of ordinary names: nothing that could climb out of a folder.
bool isSafeRelativePath(const QString &path)
{
    if (path.isEmpty() || path.startsWith(u'/') || path.contains(u'\\'))
        return false;
    for (const QChar c : path) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    const QStringList components = path.split(u'/');
    for (const QString &component : components) {
        if (component.isEmpty() || component == QLatin1String(".") || component == QLatin1String(".."))
            return false;
    }
    return true;
}

QString parentOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 ? QString() : path.left(slash);
}

void makeFolder(const QString &path)
{
    if (::mkdir(QFile::encodeName(path).constData(), 0755) != 0 && errno != EEXIST)
        refuse(QStringLiteral("The folder \u201c%1\u201d cannot be created: %2")
                   .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    struct stat info { };
    // An existing name must be a real folder, never a link someone placed there.
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        refuse(QStringLiteral("\u201c%1\u201d is not a folder.").arg(path));
}

} // namespace

ZipArchive::ZipArchive(QByteArray bytes)
    : m_bytes(std::move(bytes))
{
    readDirectory();
    checkPaths();
}

ZipArchive ZipArchive::fromFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        refuse(QStringLiteral("The archive \u201c%1\u201d cannot be read: %2").arg(path, file.errorString()));
    if (quint64(file.size()) > maximumArchiveSize)
        refuse(QStringLiteral("The archive is larger than any release can be."));
    return ZipArchive(file.readAll());
}

void ZipArchive::readDirectory()
{
    const qsizetype size = m_bytes.size();
    if (size < endOfDirectorySize)
        refuse(QStringLiteral("The file is not a zip archive."));
    // The end record sits last, followed only by a comment of at most 65535 bytes.
    qsizetype end = -1;
    const qsizetype lowest = std::max<qsizetype>(0, size - endOfDirectorySize - 0xffff);
    for (qsizetype at = size - endOfDirectorySize; at >= lowest; --at) {
        if (Reader(m_bytes, quint64(at), 4).u32() == endOfDirectorySignature) {
            end = at;
            break;
        }
    }
    if (end < 0)
        refuse(QStringLiteral("The file is not a zip archive."));
    Reader record(m_bytes, quint64(end), endOfDirectorySize);
    record.skip(4);
    const quint16 disk = record.u16();
    const quint16 directoryDisk = record.u16();
    const quint16 entriesOnDisk = record.u16();
    const quint16 entryCount = record.u16();
    const quint32 directorySize = record.u32();
    const quint32 directoryOffset = record.u32();
    if (disk != 0 || directoryDisk != 0 || entriesOnDisk != entryCount)
        refuse(QStringLiteral("Archives split over several files are not supported."));
    if (entryCount == 0xffff || directoryOffset == 0xffffffff || directorySize == 0xffffffff)
        refuse(QStringLiteral("Zip64 archives are not supported."));

    Reader directory(m_bytes, directoryOffset, directorySize);
    const quint64 directoryEnd = quint64(directoryOffset) + directorySize;
    quint64 unpacked = 0;
    for (quint16 i = 0; i < entryCount; ++i) {
        if (directoryEnd - directory.offset() < directoryHeaderSize)
            refuse(QStringLiteral("The archive's directory is truncated."));
        Reader header(m_bytes, directory.offset(), directoryHeaderSize);
        if (header.u32() != directorySignature)
            refuse(QStringLiteral("The archive's directory is damaged."));
        const quint16 madeBy = header.u16();
        header.skip(2);
        const quint16 flags = header.u16();
        Entry entry;
        entry.method = header.u16();
        header.skip(4);
        entry.crc = header.u32();
        entry.compressedSize = header.u32();
        entry.size = header.u32();
        const quint16 nameLength = header.u16();
        const quint16 extraLength = header.u16();
        const quint16 commentLength = header.u16();
        header.skip(4);
        const quint32 externalAttributes = header.u32();
        entry.localHeaderOffset = header.u32();
        const quint64 recordLength = quint64(directoryHeaderSize) + nameLength + extraLength + commentLength;
        if (directoryEnd - directory.offset() < recordLength)
            refuse(QStringLiteral("The archive's directory is truncated."));
        const QByteArray rawName = m_bytes.mid(qsizetype(directory.offset()) + directoryHeaderSize, nameLength);
        directory.skip(recordLength);

        std::optional<QString> name = decodeUtf8(rawName);
        const bool ascii = std::all_of(rawName.cbegin(), rawName.cend(), [](char c) { return uchar(c) < 0x80; });
        if (!name || (!ascii && !(flags & flagUtf8)))
            refuse(QStringLiteral("An archive entry's name is neither ASCII nor marked as UTF-8."));
        QString path = *name;
        const bool slash = path.endsWith(u'/');
        if (slash)
            path.chop(1);
        if (!isSafeRelativePath(path))
            refuseEntry(*name, QStringLiteral("would land outside the folder it is unpacked into"));
        entry.path = path;
        if (flags & flagEncrypted)
            refuseEntry(path, QStringLiteral("is encrypted"));
        if (entry.method != methodStored && entry.method != methodDeflated)
            refuseEntry(path, QStringLiteral("uses an unsupported compression method"));

        const quint32 mode = (madeBy >> 8) == madeByUnix ? externalAttributes >> 16 : 0;
        const quint32 type = mode & S_IFMT;
        entry.permissions = mode & 0777;
        if (slash || type == S_IFDIR)
            entry.kind = Kind::Folder;
        else if (type == S_IFLNK)
            entry.kind = Kind::Link;
        else if (type == 0 || type == S_IFREG)
            entry.kind = Kind::File;
        else
            refuseEntry(path, QStringLiteral("is neither a file, a folder nor a link"));
        if (entry.kind == Kind::Link && entry.size > maximumLinkSize)
            refuseEntry(path, QStringLiteral("is a link with an overlong target"));
        unpacked += entry.size;
        if (unpacked > maximumUnpackedSize)
            refuse(QStringLiteral("The archive unpacks to more than any release can be."));
        m_entries.append(entry);
    }
}

void ZipArchive::checkPaths()
{
    QHash<QString, Kind> kinds;
    for (const Entry &entry : std::as_const(m_entries)) {
        if (kinds.contains(entry.path))
            refuseEntry(entry.path, QStringLiteral("appears twice"));
        kinds.insert(entry.path, entry.kind);
    }
    for (const Entry &entry : std::as_const(m_entries)) {
        // Writing below a link would write wherever the link points.
        for (QString parent = parentOf(entry.path); !parent.isEmpty(); parent = parentOf(parent)) {
            const auto kind = kinds.constFind(parent);
            if (kind != kinds.cend() && *kind != Kind::Folder)
                refuseEntry(entry.path, QStringLiteral("lies below a file or a link"));
        }
        if (entry.kind == Kind::Link) {
            const std::optional<QString> target = decodeUtf8(contents(entry));
            if (!target || !isSafeRelativePath(*target))
                refuseEntry(entry.path, QStringLiteral("is a link pointing outside the folder it is unpacked into"));
        }
    }
}

QByteArray ZipArchive::contents(const Entry &entry) const
{
    Reader local(m_bytes, entry.localHeaderOffset, localHeaderSize);
    if (local.u32() != localHeaderSignature)
        refuseEntry(entry.path, QStringLiteral("is damaged"));
    local.skip(22);
    const quint16 nameLength = local.u16();
    const quint16 extraLength = local.u16();
    const quint64 dataOffset = entry.localHeaderOffset + localHeaderSize + nameLength + extraLength;
    Reader dataRange(m_bytes, dataOffset, entry.compressedSize);
    const char *data = m_bytes.constData() + dataOffset;

    QByteArray out;
    if (entry.method == methodStored) {
        if (entry.compressedSize != entry.size)
            refuseEntry(entry.path, QStringLiteral("is damaged"));
        out = QByteArray(data, qsizetype(entry.size));
    } else {
        if (entry.size > quint64(std::numeric_limits<int>::max()))
            refuseEntry(entry.path, QStringLiteral("is too large"));
        out.resize(qsizetype(entry.size));
        z_stream stream {};
        if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
            refuse(QStringLiteral("The decompressor cannot be started."));
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
        stream.avail_in = uInt(entry.compressedSize);
        stream.next_out = reinterpret_cast<Bytef *>(out.data());
        stream.avail_out = uInt(entry.size);
        int result = inflate(&stream, Z_FINISH);
        // Output space exactly the stated size: more data would be a lie about the size.
        const bool complete = result == Z_STREAM_END && stream.total_out == entry.size;
        inflateEnd(&stream);
        if (!complete)
            refuseEntry(entry.path, QStringLiteral("is damaged or not the size it claims"));
    }
    const quint32 crc = quint32(crc32(0L, reinterpret_cast<const Bytef *>(out.constData()), uInt(out.size())));
    if (crc != entry.crc)
        refuseEntry(entry.path, QStringLiteral("is damaged (its checksum does not match)"));
    return out;
}

void ZipArchive::extractTo(const QString &folder) const
{
    if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0)
        refuse(QStringLiteral("The folder \u201c%1\u201d cannot be created: %2")
                   .arg(folder, QString::fromLocal8Bit(std::strerror(errno))));
    const auto ensureParents = [&folder](const QString &path) {
        QString built = folder;
        const QString parent = parentOf(path);
        if (parent.isEmpty())
            return;
        for (const QString &component : parent.split(u'/')) {
            built += u'/' + component;
            makeFolder(built);
        }
    };
    // Links last, so that no file is ever written through one.
    for (const Kind pass : { Kind::Folder, Kind::File, Kind::Link }) {
        for (const Entry &entry : m_entries) {
            if (entry.kind != pass)
                continue;
            ensureParents(entry.path);
            const QString target = folder + u'/' + entry.path;
            const QByteArray name = QFile::encodeName(target);
            if (pass == Kind::Folder) {
                makeFolder(target);
            } else if (pass == Kind::Link) {
                if (::symlink(contents(entry).constData(), name.constData()) != 0)
                    refuseEntry(entry.path, QString::fromLocal8Bit(std::strerror(errno)));
            } else {
                const QByteArray bytes = contents(entry);
                const mode_t mode = entry.permissions ? mode_t(entry.permissions | 0600) : 0644;
                const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
                if (fd < 0)
                    refuseEntry(entry.path,
                        QStringLiteral("cannot be written: ") + QString::fromLocal8Bit(std::strerror(errno)));
                qsizetype written = 0;
                while (written < bytes.size()) {
                    const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
                    if (n < 0 && errno == EINTR)
                        continue;
                    if (n <= 0) {
                        const int error = errno;
                        ::close(fd);
                        refuseEntry(entry.path,
                            QStringLiteral("cannot be written: ") + QString::fromLocal8Bit(std::strerror(error)));
                    }
                    written += n;
                }
                // The umask may have taken the execute bits the release needs.
                ::fchmod(fd, mode);
                if (::close(fd) != 0)
                    refuseEntry(entry.path,
                        QStringLiteral("cannot be written: ") + QString::fromLocal8Bit(std::strerror(errno)));
            }
        }
    }
}
