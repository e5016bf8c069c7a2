#include "ZipArchive.h"

#include "Exception.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QScopeGuard>
#include <QStringDecoder>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

namespace {

constexpr qsizetype maximumLinkSize = 4096;
constexpr qsizetype chunkSize = 256 * 1024;

[[noreturn]] void refuse(const QString &reason)
{
    throw corvane::Exception(QStringLiteral("The downloaded release cannot be used."), reason);
}

[[noreturn]] void refuseEntry(const QString &path, const QString &reason)
{
    refuse(QStringLiteral("The archive entry \u201c%1\u201d %2.").arg(path, reason));
}

QString describe(zip_error_t *error)
{
    return QString::fromUtf8(zip_error_strerror(error));
}

// What an archive that libzip could not open is, in the words a user can act on.
QString openFailure(int code)
{
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    QString reason;
    switch (code) {
    case ZIP_ER_NOZIP:
        reason = QStringLiteral("The file is not a zip archive.");
        break;
    case ZIP_ER_MULTIDISK:
        reason = QStringLiteral("Archives split over several files are not supported.");
        break;
    case ZIP_ER_EXISTS:
        reason = QStringLiteral("An archive entry appears twice.");
        break;
    case ZIP_ER_INCONS:
        // libzip says no more than this; these are the cases it covers.
        reason = QStringLiteral("The archive is damaged: its directory does not match its entries, or an entry's "
                                "name is neither ASCII nor marked as UTF-8 (%1).")
                     .arg(describe(&error));
        break;
    case ZIP_ER_EOF:
        reason = QStringLiteral("The archive is truncated.");
        break;
    default:
        reason = QStringLiteral("The archive cannot be read: %1.").arg(describe(&error));
        break;
    }
    zip_error_fini(&error);
    return reason;
}

std::optional<QString> decodeUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

bool isAscii(const QByteArray &bytes)
{
    return std::all_of(bytes.cbegin(), bytes.cend(), [](char c) { return uchar(c) < 0x80; });
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
        refuse(QStringLiteral("The folder \u201c%1\u201d cannot be created: %2").arg(path, qt_error_string(errno)));
    struct stat info { };
    // An existing name must be a real folder, never a link someone placed there.
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        refuse(QStringLiteral("\u201c%1\u201d is not a folder.").arg(path));
}

// Streams an entry's content to sink a chunk at a time, refusing it the moment it passes its
// stated size, and at the end unless it is exactly that size; libzip checks the CRC on the read
// that reaches the end.
template<typename Sink> void readEntry(zip_t *archive, const ZipArchive::Entry &entry, Sink &&sink)
{
    const std::unique_ptr<zip_file_t, int (*)(zip_file_t *)> file(
        zip_fopen_index(archive, entry.index, 0), &zip_fclose);
    if (!file)
        refuseEntry(entry.path, QStringLiteral("cannot be read: ") + describe(zip_get_error(archive)));
    QByteArray chunk(chunkSize, Qt::Uninitialized);
    quint64 total = 0;
    for (;;) {
        const zip_int64_t n = zip_fread(file.get(), chunk.data(), zip_uint64_t(chunk.size()));
        if (n < 0) {
            zip_error_t *error = zip_file_get_error(file.get());
            if (zip_error_code_zip(error) == ZIP_ER_CRC)
                refuseEntry(entry.path, QStringLiteral("is damaged (its checksum does not match)"));
            refuseEntry(entry.path, QStringLiteral("is damaged or not the size it claims (%1)").arg(describe(error)));
        }
        if (n == 0)
            break;
        total += quint64(n);
        // More data than stated would be a lie about the size, and possibly a bomb.
        if (total > entry.size)
            refuseEntry(entry.path, QStringLiteral("is damaged or not the size it claims"));
        sink(chunk.constData(), qsizetype(n));
    }
    if (total != entry.size)
        refuseEntry(entry.path, QStringLiteral("is damaged or not the size it claims"));
}

void writeAll(int fd, const char *data, qsizetype size, const QString &path)
{
    qsizetype written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, data + written, size_t(size - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            refuseEntry(path, QStringLiteral("cannot be written: ") + qt_error_string(errno));
        written += n;
    }
}

} // namespace

void ZipArchive::Closer::operator()(zip *archive) const
{
    zip_discard(archive);
}

ZipArchive::ZipArchive(QByteArray bytes)
    : m_bytes(std::move(bytes))
{
    if (quint64(m_bytes.size()) > maximumArchiveSize)
        refuse(QStringLiteral("The archive is larger than any release can be."));
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source = zip_source_buffer_create(m_bytes.constData(), zip_uint64_t(m_bytes.size()), 0, &error);
    if (!source) {
        const QString reason = describe(&error);
        zip_error_fini(&error);
        refuse(QStringLiteral("The archive cannot be read: %1.").arg(reason));
    }
    // Without libzip's extra consistency check, which refuses what the release packager writes: a
    // size in local headers whose sizes are in data descriptors. Nothing is taken from local
    // headers but where the data begins, and every entry's size and CRC are checked as it is read.
    m_zip.reset(zip_open_from_source(source, ZIP_RDONLY, &error));
    if (!m_zip) {
        zip_source_free(source);
        const int code = zip_error_code_zip(&error);
        zip_error_fini(&error);
        refuse(openFailure(code));
    }
    zip_error_fini(&error);
    readDirectory();
    checkPaths();
}

ZipArchive::ZipArchive(ZipArchive &&) noexcept = default;
ZipArchive::~ZipArchive() = default;

void ZipArchive::readDirectory()
{
    const zip_int64_t count = zip_get_num_entries(m_zip.get(), 0);
    quint64 unpacked = 0;
    for (zip_int64_t i = 0; i < count; ++i) {
        const auto index = zip_uint64_t(i);
        zip_stat_t stat;
        zip_stat_init(&stat);
        const char *raw = zip_get_name(m_zip.get(), index, ZIP_FL_ENC_RAW);
        const char *strict = zip_get_name(m_zip.get(), index, ZIP_FL_ENC_STRICT);
        if (!raw || !strict || zip_stat_index(m_zip.get(), index, ZIP_FL_ENC_RAW, &stat) != 0)
            refuse(QStringLiteral("The archive's directory is damaged: %1.").arg(describe(zip_get_error(m_zip.get()))));
        const QByteArray rawName(raw);
        // Read strictly, a name not marked as UTF-8 is CP437, which turns every byte above 127 into
        // something else: only ASCII reads the same both ways.
        const std::optional<QString> name = decodeUtf8(rawName);
        if (!name || (!isAscii(rawName) && rawName != QByteArray(strict)))
            refuse(QStringLiteral("An archive entry's name is neither ASCII nor marked as UTF-8."));
        QString path = *name;
        const bool slash = path.endsWith(u'/');
        if (slash)
            path.chop(1);
        if (!isSafeRelativePath(path))
            refuseEntry(*name, QStringLiteral("would land outside the folder it is unpacked into"));

        Entry entry;
        entry.path = path;
        entry.index = index;
        entry.size = stat.size;
        if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE)
            refuseEntry(path, QStringLiteral("is encrypted"));
        if (stat.comp_method != ZIP_CM_STORE && stat.comp_method != ZIP_CM_DEFLATE)
            refuseEntry(path, QStringLiteral("uses an unsupported compression method"));
        // A stored entry is its own bytes: any difference between the two sizes is damage.
        if (stat.comp_method == ZIP_CM_STORE && stat.comp_size != stat.size)
            refuseEntry(path, QStringLiteral("is damaged"));

        zip_uint8_t system = 0;
        zip_uint32_t attributes = 0;
        if (zip_file_get_external_attributes(m_zip.get(), index, 0, &system, &attributes) != 0)
            refuse(QStringLiteral("The archive's directory is damaged: %1.").arg(describe(zip_get_error(m_zip.get()))));
        const quint32 mode = system == ZIP_OPSYS_UNIX ? attributes >> 16 : 0;
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
    QByteArray out;
    out.reserve(qsizetype(std::min<quint64>(entry.size, chunkSize)));
    readEntry(m_zip.get(), entry, [&out](const char *data, qsizetype size) { out.append(data, size); });
    return out;
}

void ZipArchive::extractTo(const QString &folder) const
{
    if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0)
        refuse(QStringLiteral("The folder \u201c%1\u201d cannot be created: %2").arg(folder, qt_error_string(errno)));
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
                    refuseEntry(entry.path, qt_error_string(errno));
            } else {
                // Whatever the archive asks, only the user may write a staged file; its execute bits stay.
                const mode_t mode = entry.permissions ? mode_t((entry.permissions | 0600) & 0755) : 0644;
                const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
                if (fd < 0)
                    refuseEntry(entry.path, QStringLiteral("cannot be written: ") + qt_error_string(errno));
                // A file refused halfway is removed, so that no bytes the release lacks are left behind.
                auto closeFile = qScopeGuard([fd, &name] {
                    ::close(fd);
                    ::unlink(name.constData());
                });
                readEntry(m_zip.get(), entry,
                    [fd, &entry](const char *data, qsizetype size) { writeAll(fd, data, size, entry.path); });
                // The umask may have taken the execute bits the release needs.
                ::fchmod(fd, mode);
                closeFile.dismiss();
                if (::close(fd) != 0) {
                    const int error = errno;
                    ::unlink(name.constData());
                    refuseEntry(entry.path, QStringLiteral("cannot be written: ") + qt_error_string(error));
                }
            }
        }
    }
}
