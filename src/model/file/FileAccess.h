#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <stdexcept>
#include <sys/types.h>

// Project files are read and written whole through the POSIX calls, so that a failure keeps the
// operating system's own reason, and a path's bytes reach the file system as they came.

// Far above any real plan (100,000 tasks take some 8 MB) and far below what exhausts memory.
inline constexpr qint64 largestProjectFileSize = qint64(1) << 30;

// Why a file could not be read or written, in words for the user: the path as given, the reason
// (the operating system's, such as "No space left on device", or one in its manner), and what
// the user can do about it, which may be empty.
class FileAccessError : public std::runtime_error {
public:
    // What went wrong, where the caller may offer a way out.
    enum class Kind { Other, NotWritable, Cancelled };
    FileAccessError(const QString &path, const QString &reason, const QString &advice = {}, Kind kind = Kind::Other);
    [[nodiscard]] const QString &path() const { return m_path; }
    [[nodiscard]] const QString &reason() const { return m_reason; }
    [[nodiscard]] const QString &advice() const { return m_advice; }
    [[nodiscard]] Kind kind() const { return m_kind; }

private:
    QString m_path;
    QString m_reason;
    QString m_advice;
    Kind m_kind;
};

// What tells one version of a file from another without reading it: which file the name leads
// to, its size, and when it was last written and when its inode last changed, to the
// nanosecond. The change time cannot be set back, so a rewrite that restores the modification
// time is still seen.
struct FileStamp {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedSeconds = 0;
    qint64 modifiedNanoseconds = 0;
    qint64 changedSeconds = 0;
    qint64 changedNanoseconds = 0;
    friend bool operator==(const FileStamp &, const FileStamp &) = default;
};
// The stamp of the file a path leads to, following links; none when there is no such file.
[[nodiscard]] std::optional<FileStamp> stampOf(const QString &path);

struct ReadOptions {
    qint64 sizeLimit = largestProjectFileSize;
    // A name that is a symbolic link is refused rather than followed.
    bool refuseLinks = false;
    // Receives the stamp of exactly the version whose bytes were read.
    FileStamp *stamp = nullptr;
    // Told the bytes read so far and the size; false stops the read with a Cancelled error.
    std::function<bool(qint64 done, qint64 total)> progress;
};

// The content of the regular file at path. Folders, pipes, devices and sockets are refused
// before anything is read, and so is a file larger than the size limit; nothing here waits for
// a pipe's writer, even when the name is swapped for a pipe while it is being opened. A file
// written to while it is read is read again, so the bytes are one version of it.
[[nodiscard]] QByteArray readWholeFile(const QString &path, qint64 sizeLimit = largestProjectFileSize);
[[nodiscard]] QByteArray readWholeFile(const QString &path, const ReadOptions &options);

// Replaces the file at path with bytes, or leaves it as it was and throws FileAccessError. The
// bytes go to a temporary file beside it, named ".<name>.saving-XXXXXX" (the name cut short
// where the whole would not fit) so that one left by a crash says what it is, which is synced
// and renamed over the file; such copies that killed saves left are removed. The file keeps
// its permission bits; a symbolic link is followed and the file it names is replaced. A file
// the user may not write is refused (NotWritable), as the folder's permission alone would let
// it be replaced. Returns the stamp of the file written.
FileStamp replaceFile(const QString &path, const QByteArray &bytes);

// Writes a file only its owner may read, never through a symbolic link: the name is replaced
// by a private temporary file renamed over it. For copies in a folder of the program's own.
void replacePrivateFile(const QString &path, const QByteArray &bytes);

// The write(2) that replaceFile calls; tests put another in its place to make saving fail as a
// full disk does. Returns the call in use before; nullptr restores write(2).
using WriteCall = ssize_t (*)(int descriptor, const void *data, size_t size);
WriteCall setWriteCallForTesting(WriteCall call);

// File names are bytes. One that is valid UTF-8 decodes as such; in one that is not (Latin-1
// names from older systems and archives), each byte that does not decode becomes the lone
// surrogate U+DC80 + (byte - 0x80), which encodeFileName turns back into that byte, so that the
// file can be opened and saved again. Shown, such a character appears as a replacement mark.
[[nodiscard]] QString decodeFileName(const QByteArray &name);
[[nodiscard]] QByteArray encodeFileName(const QString &path);
// The program's arguments decoded as file names are, so that one naming a file reaches it.
[[nodiscard]] QStringList decodedArguments(int argc, char *argv[]);

// An absolute file name as text that survives being stored as UTF-8 (settings, JSON), which
// would replace a decoded name's lone surrogates: the name itself when it is valid Unicode, else
// "base64:" and its bytes, which no absolute name begins with. Stored text that is neither an
// absolute name nor such bytes gives none.
[[nodiscard]] QString storableFileName(const QString &path);
[[nodiscard]] std::optional<QString> fileNameFromStorable(const QString &stored);
