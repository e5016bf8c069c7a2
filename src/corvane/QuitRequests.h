#pragma once

#include <QByteArrayList>
#include <QString>

#include <functional>
#include <memory>

class QLockFile;

// The running program takes requests from the updater program, and from later starts of itself,
// on a local socket in the user's runtime folder. A client sends lines: "where" is answered with the
// installation folder and a line feed; "quit" runs the quit callback; "open " and a file name (its
// bytes in base64), any number of times, then "opened", hands files to the open callback (none:
// a new window) and is answered with "ok". The connection stays open until the program ends, which
// is how the updater learns that it has ended.
namespace corvane {

// The socket's path for a bundle identifier (letters, digits, dots and hyphens), in the user's
// runtime folder; empty for any other identifier.
[[nodiscard]] QString quitRequestSocketName(const QString &bundleId);

// To be called by main() once the QApplication exists. quit runs on the UI thread for a quit
// request and should start the application's normal quit flow, which asks about unsaved work and
// may be cancelled. A request that comes while a question or file panel is up waits until none
// is, and requests that come meanwhile join it, so the flow runs once and never inside a question. Only the user may
// connect. Returns false, and logs why, when the socket cannot be opened; the program works on without it.
bool listenForQuitRequests(std::function<void()> quit);
// Where files handed over by a later start go, on the UI thread; an empty list asks for a new
// window. File names travel as the file system's bytes, so that any name arrives whole.
void setOpenRequestHandler(std::function<void(const QByteArrayList &)> open);
// One program a user session, decided under a lock in the runtime folder. The start that takes
// the lock is the running program (First): it holds the lock until it ends and listens. Any other
// hands its files (absolute names; none for a new window) to the listener, waiting for one to come
// up while the lock's holder lives, and only to a listener that is that very process of this
// user, by the socket's peer credentials (HandedOver). When none such answers within the timeout,
// or the listener is someone else, the start opens its files itself without listening (Alone).
enum class StartRole { First, HandedOver, Alone };
[[nodiscard]] StartRole takeSessionRole(
    const QByteArrayList &files, std::unique_ptr<QLockFile> &lock, int timeoutMilliseconds = 5000);
// The session lock's path for a bundle identifier, beside the socket; empty where there is none.
[[nodiscard]] QString sessionLockName(const QString &bundleId);
// Closes the socket and every connection; the updater then sees the program as ended.
void stopListeningForQuitRequests();

} // namespace corvane
