#include "FileAccess.h"

#include <QLocale>
#include <QRandomGenerator>
#include <atomic>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

FileAccessError::FileAccessError(const QString &path, const QString &reason, const QString &advice, Kind kind)
    : std::runtime_error(reason.toStdString())
    , m_path(path)
    , m_reason(reason)
    , m_advice(advice)
    , m_kind(kind)
{ }

namespace {

std::atomic<WriteCall> writeCall { nullptr };

QString systemReason(int error)
{
    return qt_error_string(error);
}

// Closes the descriptor when the scope ends, and removes the file it names unless kept.
class Descriptor {
public:
    explicit Descriptor(int descriptor, QByteArray createdName = {})
        : m_descriptor(descriptor)
        , m_createdName(std::move(createdName))
    { }
    ~Descriptor()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
        if (!m_createdName.isEmpty())
            ::unlink(m_createdName.constData());
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    [[nodiscard]] int get() const { return m_descriptor; }
    [[nodiscard]] const QByteArray &name() const { return m_createdName; }
    // Returns close(2)'s errno, or 0.
    int close()
    {
        const int result = ::close(m_descriptor);
        m_descriptor = -1;
        return result == 0 ? 0 : errno;
    }
    void keep() { m_createdName.clear(); }

private:
    int m_descriptor;
    QByteArray m_createdName;
};

void requireRegularFile(const QString &path, const struct stat &status, qint64 sizeLimit)
{
    if (!S_ISREG(status.st_mode)) {
        QString kind = QStringLiteral("It is not a regular file.");
        if (S_ISDIR(status.st_mode))
            kind = QStringLiteral("It is a folder, not a file.");
        else if (S_ISFIFO(status.st_mode))
            kind = QStringLiteral("It is a named pipe, not a regular file.");
        else if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode))
            kind = QStringLiteral("It is a device, not a regular file.");
        else if (S_ISSOCK(status.st_mode))
            kind = QStringLiteral("It is a socket, not a regular file.");
        throw FileAccessError(path, kind,
            QStringLiteral("Choose a project file: folders, pipes and devices cannot be opened as projects."));
    }
    if (status.st_size > sizeLimit) {
        // In bytes: rounded, a size just past the limit reads as the limit itself.
        const QLocale locale;
        throw FileAccessError(path,
            QStringLiteral("It is %1 bytes, more than the %2 bytes (%3) a project file can be.")
                .arg(locale.toString(qint64(status.st_size)), locale.toString(sizeLimit),
                    locale.formattedDataSize(sizeLimit, 1)),
            QStringLiteral("Check that this is the project you meant to open: no plan is nearly that large."));
    }
}

QByteArray folderOf(const QByteArray &name)
{
    const qsizetype slash = name.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : name.left(slash);
}

// The file a chain of symbolic links ends at, which need not exist; the name itself when it is
// no link or the chain does not end.
QByteArray followLinks(const QByteArray &name)
{
    QByteArray current = name;
    for (int depth = 0; depth < 128; ++depth) {
        struct stat status;
        if (::lstat(current.constData(), &status) != 0 || !S_ISLNK(status.st_mode))
            return current;
        QByteArray target(qsizetype(status.st_size > 0 ? status.st_size : PATH_MAX) + 1, Qt::Uninitialized);
        const ssize_t length = ::readlink(current.constData(), target.data(), size_t(target.size()));
        if (length < 0 || length >= target.size())
            return current;
        target.truncate(length);
        current = target.startsWith('/') ? target : folderOf(current) + '/' + target;
    }
    return name;
}

// existed: whether there was a file to leave as it was.
QString writeAdvice(int error, bool existed)
{
    if (error == ENOSPC || error == EDQUOT) {
        QString advice = QStringLiteral("Free some space on the disk, or choose Save As... to save the project "
                                        "elsewhere.");
        if (existed)
            advice += QStringLiteral(" The file was left as it was.");
        return advice;
    }
    return {};
}

[[noreturn]] void throwWriteError(const QString &path, int error, bool existed)
{
    throw FileAccessError(path, systemReason(error), writeAdvice(error, existed));
}

constexpr int randomLetters = 6;
const QByteArray temporaryInfix = QByteArrayLiteral(".saving-");

// ".<name>.saving-", with the name cut at a character's boundary where the whole would not fit.
QByteArray temporaryPrefix(const QByteArray &target)
{
    const qsizetype slash = target.lastIndexOf('/');
    QByteArray base = target.mid(slash + 1);
    long longest = ::pathconf(folderOf(target).constData(), _PC_NAME_MAX);
    if (longest <= 0)
        longest = NAME_MAX;
    const qsizetype room = qsizetype(longest) - 1 - temporaryInfix.size() - randomLetters;
    if (base.size() > room) {
        qsizetype cut = std::max<qsizetype>(room, 0);
        while (cut > 0 && (static_cast<unsigned char>(base.at(cut)) & 0xC0) == 0x80)
            --cut;
        base.truncate(cut);
    }
    return target.left(slash + 1) + '.' + base + temporaryInfix;
}

// The copies of this file that saves killed halfway left, which nobody else's: our name
// pattern, our own regular files.
void removeLeftovers(const QByteArray &prefix)
{
    const QByteArray folder = folderOf(prefix);
    const QByteArray start = prefix.mid(prefix.lastIndexOf('/') + 1);
    DIR *listing = ::opendir(folder.constData());
    if (!listing)
        return;
    while (const dirent *entry = ::readdir(listing)) {
        const QByteArray name(entry->d_name);
        if (name.size() != start.size() + randomLetters || !name.startsWith(start))
            continue;
        const QByteArray full = folder + '/' + name;
        struct stat status;
        if (::lstat(full.constData(), &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::geteuid())
            ::unlink(full.constData());
    }
    ::closedir(listing);
}

// A name no other file in the folder has, created and opened for writing with the given
// permissions (less the umask).
Descriptor createTemporary(const QString &path, const QByteArray &prefix, mode_t mode, bool existed)
{
    static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray name = prefix;
        for (int i = 0; i < randomLetters; ++i)
            name += letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))];
        const int descriptor = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (descriptor >= 0)
            return Descriptor(descriptor, name);
        const int error = errno;
        if (error == EACCES || error == EPERM || error == EROFS) {
            // The folder refused, not the file: say which.
            throw FileAccessError(path,
                QStringLiteral("The folder \u201c%1\u201d does not let files be made in it (%2).")
                    .arg(decodeFileName(folderOf(prefix)), systemReason(error)),
                QStringLiteral("Choose Save As... to save the project in another folder."));
        }
        if (error != EEXIST)
            throwWriteError(path, error, existed);
    }
    throwWriteError(path, EEXIST, existed);
}

// Whether the user may change the file itself, not only replace it in its folder. The superuser
// may write anything, so for it the permission bits decide, as they do in editors.
bool mayWrite(const QByteArray &name, const struct stat &status)
{
    if (::geteuid() == 0)
        return (status.st_mode & 0222) != 0;
    return ::faccessat(AT_FDCWD, name.constData(), W_OK, AT_EACCESS) == 0;
}

FileStamp stampFrom(const struct stat &status)
{
    return FileStamp { quint64(status.st_dev), quint64(status.st_ino), qint64(status.st_size),
        qint64(status.st_mtim.tv_sec), qint64(status.st_mtim.tv_nsec), qint64(status.st_ctim.tv_sec),
        qint64(status.st_ctim.tv_nsec) };
}

void writeAll(const QString &path, int descriptor, const QByteArray &bytes, bool existed)
{
    const WriteCall write = writeCall.load() ? writeCall.load() : &::write;
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t written = write(descriptor, bytes.constData() + done, size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            throwWriteError(path, written < 0 ? errno : EIO, existed);
        done += written;
    }
}

// Syncs, closes and renames the temporary file over target, then syncs the folder.
void commitTemporary(const QString &path, Descriptor &temporary, const QByteArray &target, bool existed)
{
    // Network file systems may report a full disk or a lost server only here.
    if (::fsync(temporary.get()) != 0)
        throwWriteError(path, errno, existed);
    if (const int error = temporary.close())
        throwWriteError(path, error, existed);
    if (::rename(temporary.name().constData(), target.constData()) != 0)
        throwWriteError(path, errno, existed);
    temporary.keep();
    // The rename itself lasts only once the folder is synced; the file is saved either way.
    const int folder = ::open(folderOf(target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)::fsync(folder);
        ::close(folder);
    }
}

// Reads from the start of the descriptor to its end, or to one byte past the limit.
QByteArray readDescriptor(const QString &path, int descriptor, struct stat &status, const ReadOptions &options)
{
    constexpr qsizetype chunk = qsizetype(4) << 20;
    // One byte more than the size, so that the end is seen in the first pass; a file that grows
    // meanwhile is read on up to the limit.
    QByteArray bytes(qsizetype(status.st_size) + 1, Qt::Uninitialized);
    qsizetype size = 0;
    for (;;) {
        if (size == bytes.size()) {
            if (size > options.sizeLimit) {
                status.st_size = size;
                requireRegularFile(path, status, options.sizeLimit);
            }
            bytes.resize(qsizetype(std::min<qint64>(options.sizeLimit + 1, qint64(size) * 2)));
        }
        const size_t wanted = size_t(std::min(bytes.size() - size, chunk));
        const ssize_t read = ::pread(descriptor, bytes.data() + size, wanted, off_t(size));
        if (read < 0) {
            if (errno == EINTR)
                continue;
            throw FileAccessError(path, systemReason(errno));
        }
        if (read == 0)
            break;
        size += read;
        if (options.progress && !options.progress(size, std::max<qint64>(status.st_size, size)))
            throw FileAccessError(path, QStringLiteral("Reading was cancelled."), {}, FileAccessError::Kind::Cancelled);
    }
    bytes.truncate(size);
    return bytes;
}

} // namespace

QByteArray readWholeFile(const QString &path, qint64 sizeLimit)
{
    ReadOptions options;
    options.sizeLimit = sizeLimit;
    return readWholeFile(path, options);
}

QByteArray readWholeFile(const QString &path, const ReadOptions &options)
{
    const QByteArray name = encodeFileName(path);
    const QString link = QStringLiteral("It is a symbolic link, not a regular file.");
    // Looked at before it is opened: opening a pipe waits for a writer, and a device may act on it.
    struct stat status;
    if ((options.refuseLinks ? ::lstat(name.constData(), &status) : ::stat(name.constData(), &status)) != 0)
        throw FileAccessError(path, systemReason(errno));
    if (S_ISLNK(status.st_mode))
        throw FileAccessError(path, link);
    requireRegularFile(path, status, options.sizeLimit);
    // Should the name have become a pipe since, this open does not wait, and fstat then refuses it.
    const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (options.refuseLinks ? O_NOFOLLOW : 0);
    Descriptor file(::open(name.constData(), flags));
    if (file.get() < 0) {
        const int error = errno;
        throw FileAccessError(path, options.refuseLinks && error == ELOOP ? link : systemReason(error));
    }
    // The stamp is of the version read: taken before the bytes, and the read taken again when
    // the file changed meanwhile. A version that a rename put in place afterwards has a stamp
    // of its own, so a later save notices it.
    constexpr int attempts = 3;
    for (int attempt = 1;; ++attempt) {
        if (::fstat(file.get(), &status) != 0)
            throw FileAccessError(path, systemReason(errno));
        requireRegularFile(path, status, options.sizeLimit);
        const FileStamp before = stampFrom(status);
        QByteArray bytes = readDescriptor(path, file.get(), status, options);
        if (::fstat(file.get(), &status) != 0)
            throw FileAccessError(path, systemReason(errno));
        if (stampFrom(status) == before) {
            if (options.stamp)
                *options.stamp = before;
            return bytes;
        }
        if (attempt == attempts)
            throw FileAccessError(path, QStringLiteral("It was being changed while it was read."),
                QStringLiteral("Open it again once the program writing it has finished."));
    }
}

FileStamp replaceFile(const QString &path, const QByteArray &bytes)
{
    const QByteArray target = followLinks(encodeFileName(path));
    struct stat existing;
    const bool exists = ::stat(target.constData(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        throwWriteError(path, EISDIR, exists);
    if (exists && !mayWrite(target, existing))
        throw FileAccessError(path, QStringLiteral("You do not have permission to change it."),
            QStringLiteral("Choose Save As... to save the project under another name."),
            FileAccessError::Kind::NotWritable);

    const QByteArray prefix = temporaryPrefix(target);
    removeLeftovers(prefix);
    Descriptor temporary = createTemporary(path, prefix, 0666, exists);
    if (exists) {
        (void)::fchmod(temporary.get(), existing.st_mode & 0777);
        // The owner is kept where the user may keep it (the superuser), the group where the user is in it.
        (void)::fchown(temporary.get(), ::geteuid() == 0 ? existing.st_uid : uid_t(-1), existing.st_gid);
    }
    writeAll(path, temporary.get(), bytes, exists);
    commitTemporary(path, temporary, target, exists);
    struct stat written;
    if (::stat(target.constData(), &written) != 0)
        return FileStamp {};
    return stampFrom(written);
}

void replacePrivateFile(const QString &path, const QByteArray &bytes)
{
    const QByteArray target = encodeFileName(path);
    struct stat existing;
    const bool exists = ::lstat(target.constData(), &existing) == 0;
    Descriptor temporary = createTemporary(path, temporaryPrefix(target), 0600, exists);
    writeAll(path, temporary.get(), bytes, exists);
    // rename(2) replaces a link with the file; it never writes where one points.
    commitTemporary(path, temporary, target, exists);
}

WriteCall setWriteCallForTesting(WriteCall call)
{
    return writeCall.exchange(call);
}

namespace {

// The length of the well-formed UTF-8 sequence at the start of text, or 0.
int sequenceLength(const unsigned char *text, qsizetype left)
{
    const unsigned char lead = text[0];
    if (lead < 0x80)
        return 1;
    int length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        // No overlong forms and no surrogates.
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (left < length || text[1] < low || text[1] > high)
        return 0;
    for (int i = 2; i < length; ++i) {
        if (text[i] < 0x80 || text[i] > 0xBF)
            return 0;
    }
    return length;
}

constexpr char16_t escapeBase = 0xDC00;

bool isEscape(const QString &text, qsizetype i)
{
    const char16_t c = text.at(i).unicode();
    return c >= escapeBase + 0x80 && c <= escapeBase + 0xFF && (i == 0 || !text.at(i - 1).isHighSurrogate());
}

} // namespace

QString decodeFileName(const QByteArray &name)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(name.constData());
    QString decoded;
    qsizetype runStart = 0;
    qsizetype i = 0;
    while (i < name.size()) {
        const int length = sequenceLength(bytes + i, name.size() - i);
        if (length > 0) {
            i += length;
            continue;
        }
        decoded += QString::fromUtf8(name.constData() + runStart, i - runStart);
        decoded += QChar(char16_t(escapeBase + bytes[i]));
        runStart = ++i;
    }
    if (runStart == 0)
        return QString::fromUtf8(name);
    return decoded + QString::fromUtf8(name.constData() + runStart, name.size() - runStart);
}

QByteArray encodeFileName(const QString &path)
{
    QByteArray encoded;
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (!isEscape(path, i))
            continue;
        encoded += QStringView(path).sliced(runStart, i - runStart).toUtf8();
        encoded += char(path.at(i).unicode() - escapeBase);
        runStart = i + 1;
    }
    if (runStart == 0)
        return path.toUtf8();
    return encoded + QStringView(path).sliced(runStart).toUtf8();
}

QStringList decodedArguments(int argc, char *argv[])
{
    QStringList list;
    for (int i = 0; i < argc; ++i)
        list.append(decodeFileName(QByteArray(argv[i])));
    return list;
}

namespace {
const QLatin1String storedBytesPrefix("base64:");
}

QString storableFileName(const QString &path)
{
    const QByteArray bytes = encodeFileName(path);
    if (QString::fromUtf8(bytes) == path)
        return path;
    return storedBytesPrefix + QString::fromLatin1(bytes.toBase64());
}

std::optional<QString> fileNameFromStorable(const QString &stored)
{
    if (stored.startsWith(u'/'))
        return stored;
    if (!stored.startsWith(storedBytesPrefix))
        return std::nullopt;
    const QByteArray::FromBase64Result decoded = QByteArray::fromBase64Encoding(
        QStringView(stored).sliced(storedBytesPrefix.size()).toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || !decoded.decoded.startsWith('/') || decoded.decoded.contains('\0'))
        return std::nullopt;
    return decodeFileName(decoded.decoded);
}

std::optional<FileStamp> stampOf(const QString &path)
{
    struct stat status { };
    if (::stat(encodeFileName(path).constData(), &status) != 0)
        return std::nullopt;
    return stampFrom(status);
}
