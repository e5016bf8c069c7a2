#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

// One-call desktop helpers, for the UI thread. The file viewer and notifications are the
// freedesktop D-Bus services on the session bus; where the bus or a service is missing the call
// shows nothing and logs why.
namespace corvane::OsUtil {

// Replaces the clipboard's content with the text as plain text.
void copyToPasteboard(const QString &text);
// The clipboard's plain text, or nothing when it holds no text.
[[nodiscard]] std::optional<QString> stringFromPasteboard();

// Opens the file manager with the files selected (org.freedesktop.FileManager1 ShowItems).
void revealInFileViewer(const QUrl &file);
void revealInFileViewer(const QList<QUrl> &files);
// Opens the file manager's properties window of the files (ShowItemProperties).
void showInfo(const QUrl &file);
void showInfo(const QList<QUrl> &files);

// Opens the URL with the desktop's default handler for it.
void openURL(const QUrl &url);

// Shows a desktop notification with the default sound (org.freedesktop.Notifications Notify).
void deliverNotification(const QString &title, const std::optional<QString> &informativeText = std::nullopt);

} // namespace corvane::OsUtil
