#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <optional>

namespace corvane {

// The four values handed to the updater program, in the order of its command-line arguments.
class SoftwareUpdateParameters {
public:
    enum class CodingKeys { bundleId, shortAppName, urlPath, isInFolder };
    [[nodiscard]] static QString stringValue(CodingKeys key);
    [[nodiscard]] static std::optional<CodingKeys> codingKey(const QString &text);

    QString bundleId;
    QString shortAppName;
    QString urlPath;
    bool isInFolder = false;

    // A JSON object with one member per field, in field order.
    [[nodiscard]] std::string encode() const;
    // The updater program's arguments: three texts and "true" or "false".
    [[nodiscard]] QStringList arguments() const;
    // Nothing unless there are exactly four arguments and the last is "true" or "false".
    [[nodiscard]] static std::optional<SoftwareUpdateParameters> fromArguments(const QStringList &arguments);
};

// Decides whether the running program should be replaced by a newer release and hands the
// replacement to the updater program. Create one per check, owned by a std::shared_ptr: start()
// keeps it alive on its worker thread.
class Updater : public std::enable_shared_from_this<Updater> {
public:
    // Throws a SystemError when the user's data folder cannot be had.
    Updater(const QString &appName, const QString &urlPath, bool isInFolder);
    virtual ~Updater() = default;
    Updater(const Updater &) = delete;
    Updater &operator=(const Updater &) = delete;

    // Runs the check and, when the user agrees, the update on a new worker thread named
    // "Orvel.Updater"; returns at once. A start while another check of this process still runs is
    // refused and logged, so that two checks never work on the same update folder. Returns whether
    // the check was started.
    virtual bool start();

    [[nodiscard]] bool updaterSuccessfullyStarted() const { return m_updaterSuccessfullyStarted; }
    void setUpdaterSuccessfullyStarted(bool started) { m_updaterSuccessfullyStarted = started; }

    // Moves the update folder to the trash, if there is one.
    virtual void cleanUp();
    // True exactly when the updater program was launched. Blocks in the download and while the
    // question is open, so never call it on the UI thread.
    virtual bool checkVersion();
    // The question; on the UI thread only.
    [[nodiscard]] virtual bool askToUpdate(const QString &localVersion, const QString &internetVersion);
    // Copies the updater program into the update folder and launches it there; throws on failure.
    virtual void update();

    [[nodiscard]] const QString &appName() const { return m_appName; }
    [[nodiscard]] const QString &appSuppApp() const { return m_appSuppApp; }
    [[nodiscard]] const QString &urlPath() const { return m_urlPath; }
    [[nodiscard]] bool isInFolder() const { return m_isInFolder; }

    // Whether a check started by start() is still running in this process.
    [[nodiscard]] static bool isCheckRunning();

private:
    QString m_appName;
    QString m_appSuppApp;
    std::atomic<bool> m_updaterSuccessfullyStarted { false };
    QString m_urlPath;
    bool m_isInFolder;
};

} // namespace corvane
