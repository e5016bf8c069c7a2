#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace corvane {

// The record of one exchange of an installation's files for a release's, kept in the installation
// while the exchange runs, so that one cut short by a kill or a crash is finished or taken back by
// whichever program starts there next. It lists what the exchange changes; which renames have
// happened is read from the files themselves. The program doing the exchange holds a lock on it,
// so that nobody repairs an exchange that is still running; the kernel drops the lock of a killed
// process.
//
// A file P is exchanged in two steps: P gets a second name P.quillfern-old (when there was one),
// then P.quillfern-new is renamed over P, so that P always names a whole file. The old files are
// removed once every new one is in place.
class SwapJournal {
public:
    struct Entry {
        QString path; // relative to the installation
        bool isFolder = false; // a folder the installation lacks, created by the exchange
        bool hadOld = false; // a file was there before, kept aside until the exchange is complete
    };

    static constexpr const char *fileName = ".quillfern-swap";
    static constexpr const char *newSuffix = ".quillfern-new";
    static constexpr const char *oldSuffix = ".quillfern-old";

    // Writes the journal, locked, and syncs it with the installation folder before returning, so
    // that it is on disk before the first change. Throws std::system_error; nothing is left then.
    [[nodiscard]] static SwapJournal create(const QString &installation, const QList<Entry> &entries);
    // The journal an interrupted exchange left, locked; none when there is none or its exchange is
    // still running.
    [[nodiscard]] static std::optional<SwapJournal> openInterrupted(const QString &installation);

    SwapJournal(SwapJournal &&other) noexcept;
    SwapJournal &operator=(SwapJournal &&other) = delete;
    SwapJournal(const SwapJournal &) = delete;
    SwapJournal &operator=(const SwapJournal &) = delete;
    // Releases the lock; the journal stays on disk until finished one way or the other.
    ~SwapJournal();

    [[nodiscard]] const QList<Entry> &entries() const { return m_entries; }
    [[nodiscard]] QString installed(const Entry &entry) const { return m_installation + u'/' + entry.path; }

    // Syncs every staged new file and its folder, then records that all are staged: from here on an
    // interruption is finished rather than taken back. Throws std::system_error.
    void markStaged();
    // Whether the exchange can be finished: all new files were staged and each is beside its place
    // or in it, and no taking back has begun.
    [[nodiscard]] bool canRollForward() const;
    // Puts every staged file in place, removes the old ones and then the journal. afterChange runs
    // after each change on disk. Returns false, having logged why, when something could not be done;
    // the journal then stays for another try.
    bool rollForward(const std::function<void()> &afterChange = {});
    // Puts every old file back and removes what the exchange added, then the journal.
    bool rollBack();

private:
    SwapJournal(QString installation, int fd);
    bool appendLine(const QByteArray &line);
    void syncFolders() const;
    bool removeJournal();

    QString m_installation;
    int m_fd = -1;
    QList<Entry> m_entries;
    bool m_complete = false; // the list of entries was written whole
    bool m_staged = false;
    bool m_rollingBack = false;
};

enum class SwapRepair { NothingToDo, RolledForward, RolledBack, Failed };

// Finishes or takes back an exchange interrupted in installation. Each program that runs from an
// installation or changes it calls this before anything else.
SwapRepair repairInterruptedSwap(const QString &installation);

// The first call of main(): repairs the installation this executable belongs to (the folder above
// its own). When that put a new copy of this program in place, the new one is run instead, with
// the same arguments, so that the new release is what runs.
void repairOwnInstallation(char *argv[]);

} // namespace corvane
