#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// What the running program knows about itself and where it came from: its version and identifier,
// the folders it was installed into, and the site that publishes its releases.
namespace corvane {

// The version the build was made as, from the project's VERSION.
[[nodiscard]] std::optional<QString> shortVersionString();
// "org.quillfern.Quillfern", also the desktop file's id.
[[nodiscard]] std::optional<QString> bundleIdentifier();

// The prefix the program runs from: the folder above the executable's folder. An installation
// holds bin/quillfern there; the build tree holds src/quillfern and the resources beside src/.
[[nodiscard]] QString installationFolder();
// Tests point the program at a temporary installation; an empty path restores the real one.
void setInstallationFolder(const QString &folder);
// lib/quillfern inside the installation folder: the updater program travels there.
[[nodiscard]] QString resourcesFolder();

// The update site's base URL, ending in "/": the environment variable QUILLFERN_UPDATE_SITE when it
// holds an acceptable URL, else the one the build was configured with.
[[nodiscard]] QString updateSiteBaseURL();
// False for a build made without an update site, whose configured address is a placeholder under
// ".invalid"; there is nothing to check then.
[[nodiscard]] bool hasUpdateSite();
// Releases travel only over HTTPS; plain HTTP is accepted for loopback addresses, where tests
// serve them.
[[nodiscard]] bool isAcceptableUpdateUrl(const QUrl &url);
// Why a redirect to target, after the addresses visited (the first one included), is not
// followed: a loop, or an address isAcceptableUpdateUrl refuses; nothing when it may be. what names
// what is sent on ("the page"), rule says what only secure addresses serve.
[[nodiscard]] std::optional<QString> redirectRefusal(
    const QStringList &visited, const QUrl &target, const QString &what, const QString &rule);

} // namespace corvane
