#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Replaces the files of an installation by those of a release tree, all or nothing. Files the
// release does not have stay as they are. First every new file is copied beside its place under a
// temporary name; only then are the files exchanged by renames, each old one kept aside until all
// are in. A failure at any step puts back what was there, so the installation is either wholly old
// or wholly new. The installation's own folders stay; nothing outside it is touched.
class InstallationSwap {
public:
    InstallationSwap(const QString &installation, const QString &release);

    // The installation's folders that the swap writes into; each must be writable.
    [[nodiscard]] QStringList foldersToWrite() const;
    // Throws a corvane::Exception when a step fails, after putting the installation back.
    void run();

    // Called before every step with its number, counting from 0; an exception thrown there stands
    // for a failure of that step. For tests.
    std::function<void(int step)> beforeStep;

    static constexpr const char *newSuffix = ".quillfern-new";
    static constexpr const char *oldSuffix = ".quillfern-old";

private:
    struct Item {
        QString relativePath;
        bool isFolder = false; // a folder the installation lacks, created whole
        bool hadOld = false;
        bool staged = false;
        bool movedAside = false;
        bool placed = false;
    };
    void plan(const QString &relative);
    void step();
    void rollBack();
    [[nodiscard]] QString installed(const Item &item) const;

    QString m_installation;
    QString m_release;
    QList<Item> m_items;
    int m_step = 0;
};
