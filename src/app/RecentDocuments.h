#pragma once

#include <QStringList>

#include <optional>

// The recently opened and saved project files, newest first, kept in the settings.
namespace RecentDocuments {

constexpr int maximumCount = 10;

[[nodiscard]] QStringList list();
void note(const QString &path);
void remove(const QString &path);
void clear();

// Where a file panel opens: the folder of the project's file, else the folder of the last file
// chosen in a panel, else the home folder; never the working folder, which means nothing to a
// person who started the program from a menu.
[[nodiscard]] QString panelFolder(const std::optional<QString> &projectFile = std::nullopt);
// The file a person chose in a panel; its folder is where the next panel opens.
void notePanelChoice(const QString &path);

} // namespace RecentDocuments
