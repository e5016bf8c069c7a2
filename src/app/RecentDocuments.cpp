#include "RecentDocuments.h"

#include "FileAccess.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {
const QString key = QStringLiteral("recentDocuments");
const QString panelFolderKey = QStringLiteral("lastPanelFolder");

bool isFolder(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isAbsolute() && QFileInfo(path).isDir();
}
} // namespace

namespace RecentDocuments {

QStringList list()
{
    QStringList paths;
    for (const QString &stored : QSettings().value(key).toStringList()) {
        if (const std::optional<QString> path = fileNameFromStorable(stored))
            paths.append(*path);
    }
    return paths;
}

namespace {

// Settings are UTF-8 text: a name that is not stays reachable as its bytes.
void store(const QStringList &paths)
{
    QStringList stored;
    for (const QString &path : paths)
        stored.append(storableFileName(path));
    QSettings().setValue(key, stored);
}

} // namespace

void note(const QString &path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList paths = list();
    paths.removeAll(absolute);
    paths.prepend(absolute);
    while (paths.size() > maximumCount)
        paths.removeLast();
    store(paths);
}

void remove(const QString &path)
{
    QStringList paths = list();
    if (paths.removeAll(path) > 0)
        store(paths);
}

void clear()
{
    QSettings().remove(key);
}

QString panelFolder(const std::optional<QString> &projectFile)
{
    if (projectFile) {
        const QString folder = QFileInfo(*projectFile).absolutePath();
        if (isFolder(folder))
            return folder;
    }
    const std::optional<QString> last = fileNameFromStorable(QSettings().value(panelFolderKey).toString());
    if (last && isFolder(*last))
        return *last;
    return QDir::homePath();
}

void notePanelChoice(const QString &path)
{
    QSettings().setValue(panelFolderKey, storableFileName(QFileInfo(path).absolutePath()));
}

} // namespace RecentDocuments
