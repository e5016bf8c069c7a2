#include "RecentDocuments.h"

#include <QFileInfo>
#include <QSettings>

namespace {
const QString key = QStringLiteral("recentDocuments");
}

namespace RecentDocuments {

QStringList list()
{
    return QSettings().value(key).toStringList();
}

void note(const QString &path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList paths = list();
    paths.removeAll(absolute);
    paths.prepend(absolute);
    while (paths.size() > maximumCount)
        paths.removeLast();
    QSettings().setValue(key, paths);
}

void remove(const QString &path)
{
    QStringList paths = list();
    if (paths.removeAll(path) > 0)
        QSettings().setValue(key, paths);
}

void clear()
{
    QSettings().remove(key);
}

} // namespace RecentDocuments
