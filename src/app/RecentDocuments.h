#pragma once

#include <QStringList>

// The recently opened and saved project files, newest first, kept in the settings.
namespace RecentDocuments {

constexpr int maximumCount = 10;

[[nodiscard]] QStringList list();
void note(const QString &path);
void remove(const QString &path);
void clear();

} // namespace RecentDocuments
