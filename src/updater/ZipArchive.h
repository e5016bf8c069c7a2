#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

struct zip;

// A reader for the release archive that trusts nothing in it. libzip parses the archive and
// inflates its entries; on top of it, opening checks every entry: names must be relative paths
// without "." or ".." components, links must point downwards inside the archive, only files,
// folders and links are taken, and no entry may sit below a file or a link. Unpacking checks each
// file's size and CRC and never writes outside its folder. Every refusal throws a
// corvane::Exception naming the entry and the reason.
class ZipArchive {
public:
    enum class Kind { File, Folder, Link };
    struct Entry {
        QString path; // without a trailing slash
        Kind kind = Kind::File;
        quint64 index = 0; // in the archive's directory
        quint64 size = 0;
        quint32 permissions = 0; // the Unix permission bits, 0 when the archive has none
    };

    // Archives larger than maximumArchiveSize, or stating more than maximumUnpackedSize in all, are refused.
    explicit ZipArchive(QByteArray bytes);
    ZipArchive(ZipArchive &&) noexcept;
    ~ZipArchive();

    [[nodiscard]] const QList<Entry> &entries() const { return m_entries; }
    // An entry's content, inflated and checked against its size and CRC; a link's is its target.
    [[nodiscard]] QByteArray contents(const Entry &entry) const;
    // Unpacks every entry into folder, which is created and must not exist yet.
    void extractTo(const QString &folder) const;

    // A release unpacks to some 50 MiB (the two programs with their debug information) and packs to
    // less than half of that; the limits leave ten times the room, and refuse an archive that would
    // fill the disk before anything of it is written. Every entry is held to its stated size as it
    // is read, so the stated sizes bound what unpacking writes.
    static constexpr quint64 maximumArchiveSize = quint64(256) << 20;
    static constexpr quint64 maximumUnpackedSize = quint64(512) << 20;

private:
    struct Closer {
        void operator()(zip *archive) const;
    };

    void readDirectory();
    void checkPaths();

    QByteArray m_bytes; // libzip reads these in place
    std::unique_ptr<zip, Closer> m_zip;
    QList<Entry> m_entries;
};
