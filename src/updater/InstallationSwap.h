#pragma once

#include "SwapJournal.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Replaces the files of an installation by those of a release tree, all or nothing. Files the
// release does not have stay as they are. First every new file is copied beside its place under a
// temporary name; only then are the files exchanged by renames, each old one kept aside until all
// are in. A failure at any step puts back what was there, so the installation is either wholly old
// or wholly new. The installation's own folders stay; nothing outside it is touched. A journal in
// the installation lets the next program started there finish or take back a swap whose updater
// was killed. Installed files get the user's umask and are never writable by others.
class InstallationSwap {
public:
    InstallationSwap(const QString &installation, const QString &release);

    // The installation's folders that the swap writes into, the installation itself among them
    // (its journal goes there); each must be writable.
    [[nodiscard]] QStringList foldersToWrite() const;
    // Throws, before anything is changed, when the installation's disk cannot hold the staged files:
    // a copy cut short by a full disk reads only as an input/output error. The swap checks it first.
    void checkFreeSpace() const;
    // Throws a corvane::Exception when a step fails, after putting the installation back.
    void run();

    // Called before every step with its number, counting from 0; an exception thrown there stands
    // for a failure of that step. For tests.
    std::function<void(int step)> beforeStep;
    // Called after every change on disk with its number, counting from 0, the journal's own
    // included: the places where a killed updater may leave the installation. For tests.
    std::function<void(int change)> afterChange;

private:
    void plan(const QString &relative);
    void step();
    void changed();
    [[nodiscard]] QString installed(const corvane::SwapJournal::Entry &entry) const;

    QString m_installation;
    QString m_release;
    QList<corvane::SwapJournal::Entry> m_entries;
    int m_step = 0;
    int m_change = 0;
};
