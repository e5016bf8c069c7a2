#pragma once

#include "SystemError.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

namespace corvane {

// Reads which version of a product the update site publishes, and compares versions. One object
// serves one check: nothing resets a finished download.
//
// The page is fetched on a network thread of the library's own. The download's outcome lives in a
// state shared with that thread, so an answer arriving after the wait has given up lands there
// and never in a destroyed VersionCheck1.
class VersionCheck1 : public std::enable_shared_from_this<VersionCheck1> {
public:
    // path is the product's folder on the update site, usable in a URL as it is; name and file
    // appear in the notify-only alert.
    VersionCheck1(const QString &path, const QString &name, const QString &file);
    virtual ~VersionCheck1() = default;
    VersionCheck1(const VersionCheck1 &) = delete;
    VersionCheck1 &operator=(const VersionCheck1 &) = delete;

    // Blocks while the page downloads, up to the wait; never call on the UI thread.
    [[nodiscard]] virtual std::optional<QString> internetVersion();
    [[nodiscard]] virtual std::optional<QString> localVersion() const;

    // Runs the notify-only check on this object's serial worker and returns at once. The worker
    // keeps the object alive, so it must be owned by a std::shared_ptr.
    virtual void startCheck();
    // The notify-only check against a given own version; blocking.
    virtual void checkAgainst(const QString &localVersion);

    [[nodiscard]] std::optional<QByteArray> data() const;
    void setData(std::optional<QByteArray> data);
    [[nodiscard]] std::optional<SystemError> myError() const;
    void setMyError(std::optional<SystemError> error);
    [[nodiscard]] const std::optional<QString> &cachedInternetVersion() const { return m_cachedInternetVersion; }
    void setCachedInternetVersion(std::optional<QString> version) { m_cachedInternetVersion = std::move(version); }

    // Fetches the page and stores the outcome in data or myError; blocks up to the wait.
    virtual void download();

    [[nodiscard]] const QString &root() const { return m_root; }
    [[nodiscard]] const QString &address() const { return m_address; }
    [[nodiscard]] const QString &name() const { return m_name; }
    [[nodiscard]] const QString &file() const { return m_file; }

    // True when the internet version is strictly greater, compared as lists of integers.
    [[nodiscard]] static bool isNewer(const QString &localVersion, const QString &internetVersion);

    // How long download waits for an answer (30 s) and how long the request may stay idle before
    // the network layer gives it up (60 s), for every VersionCheck1 made afterwards. Tests shorten
    // them so they need not sit through the real ones.
    static void setTimeouts(std::chrono::milliseconds wait, std::chrono::milliseconds request);

    // The download's outcome, shared with the network thread (see the class comment).
    struct Join {
        std::mutex mutex;
        std::condition_variable condition;
        std::optional<QByteArray> data;
        std::optional<SystemError> error;
    };

private:
    std::shared_ptr<Join> m_join;
    QString m_root;
    QString m_address;
    QString m_name;
    QString m_file;
    std::optional<QString> m_cachedInternetVersion;
    // The serial queue "VersionCheck": every startCheck holds it for the whole check.
    std::mutex m_taskQueue;
    std::chrono::milliseconds m_wait;
    std::chrono::milliseconds m_requestTimeout;
};

} // namespace corvane
