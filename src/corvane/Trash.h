#pragma once

#include <QString>

// The freedesktop trash, for the clean-up of the update folder.
namespace corvane {

// The user's home trash: $XDG_DATA_HOME/Trash, by default ~/.local/share/Trash.
[[nodiscard]] QString homeTrash();

// Moves the file or folder at path into the user's home trash or into the trash of the mount it
// lies on. Throws a SystemError that names the item and says why when it cannot; the item then
// stays where it was.
void moveToTrash(const QString &path);

} // namespace corvane
