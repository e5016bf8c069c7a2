#include "Updater.h"

#include "Alerts.h"
#include "Bundle.h"
#include "Exception.h"
#include "Log.h"
#include "SystemError.h"
#include "Trash.h"
#include "UpdaterLock.h"
#include "VersionCheck1.h"
#include "WorkerThread.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <nlohmann/json.hpp>

#include <filesystem>

namespace corvane {

namespace {

std::atomic<bool> checkRunning { false };

using namespace std::chrono_literals;
// How long a check waits for another process's change of the update folder, and for the updater
// it launched to hold its lock. Both take well under a second.
constexpr std::chrono::milliseconds folderLockWait = 10s;

const QString updaterBundle = QStringLiteral("SoftwareUpdater.app");
const QString updaterExecutable = QStringLiteral("Contents/MacOS/SoftwareUpdater");

void logInfo(const QString &text)
{
    qCInfo(lcCorvane).noquote() << text;
}

QString quoted(const QString &text)
{
    return u'"' + text + u'"';
}

// The argument list as the log shows it: ["a", "b"].
QString describeList(const QStringList &list)
{
    QStringList quotedItems;
    for (const QString &item : list)
        quotedItems.append(quoted(item));
    return u'[' + quotedItems.join(QLatin1String(", ")) + u']';
}

bool existsAt(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// A copy of the updater that is the user's own to change, whatever modes the installation has: a
// read-only system installation would otherwise give a copy that cannot even be filled, and the
// updater would never get to say why it cannot update there.
void copyAsOwn(const QString &source, const QString &target)
{
    namespace fs = std::filesystem;
    const fs::path from(source.toStdString());
    const fs::path to(target.toStdString());
    const auto own = [](const fs::path &original, const fs::path &copied, fs::perms owner) {
        fs::permissions(copied, fs::status(original).permissions() | owner);
    };
    fs::create_directory(to);
    own(from, to, fs::perms::owner_all);
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(from)) {
        const fs::path copied = to / fs::relative(entry.path(), from);
        if (entry.is_symlink()) {
            fs::copy_symlink(entry.path(), copied);
        } else if (entry.is_directory()) {
            fs::create_directory(copied);
            own(entry.path(), copied, fs::perms::owner_all);
        } else {
            fs::copy_file(entry.path(), copied);
            own(entry.path(), copied, fs::perms::owner_read | fs::perms::owner_write);
        }
    }
}

} // namespace

QString SoftwareUpdateParameters::stringValue(CodingKeys key)
{
    switch (key) {
    case CodingKeys::bundleId:
        return QStringLiteral("bundleId");
    case CodingKeys::shortAppName:
        return QStringLiteral("shortAppName");
    case CodingKeys::urlPath:
        return QStringLiteral("urlPath");
    case CodingKeys::isInFolder:
        break;
    }
    return QStringLiteral("isInFolder");
}

std::optional<SoftwareUpdateParameters::CodingKeys> SoftwareUpdateParameters::codingKey(const QString &text)
{
    for (const CodingKeys key :
        { CodingKeys::bundleId, CodingKeys::shortAppName, CodingKeys::urlPath, CodingKeys::isInFolder }) {
        if (stringValue(key) == text)
            return key;
    }
    return std::nullopt;
}

std::string SoftwareUpdateParameters::encode() const
{
    nlohmann::ordered_json json;
    json[stringValue(CodingKeys::bundleId).toStdString()] = bundleId.toStdString();
    json[stringValue(CodingKeys::shortAppName).toStdString()] = shortAppName.toStdString();
    json[stringValue(CodingKeys::urlPath).toStdString()] = urlPath.toStdString();
    json[stringValue(CodingKeys::isInFolder).toStdString()] = isInFolder;
    return json.dump();
}

QStringList SoftwareUpdateParameters::arguments() const
{
    return { bundleId, shortAppName, urlPath, isInFolder ? QStringLiteral("true") : QStringLiteral("false") };
}

std::optional<SoftwareUpdateParameters> SoftwareUpdateParameters::fromArguments(const QStringList &arguments)
{
    if (arguments.size() != 4)
        return std::nullopt;
    const QString &flag = arguments.at(3);
    if (flag != QLatin1String("true") && flag != QLatin1String("false"))
        return std::nullopt;
    SoftwareUpdateParameters parameters;
    parameters.bundleId = arguments.at(0);
    parameters.shortAppName = arguments.at(1);
    parameters.urlPath = arguments.at(2);
    parameters.isInFolder = flag == QLatin1String("true");
    return parameters;
}

Updater::Updater(const QString &appName, const QString &urlPath, bool isInFolder)
    : m_appName(appName)
    , m_urlPath(urlPath)
    , m_isInFolder(isInFolder)
{
    const QString dataFolder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataFolder.isEmpty())
        throw SystemError(QStringLiteral("The folder for application data could not be found."),
            QStringLiteral("Check that the HOME environment variable names your home folder."));
    if (!QDir().mkpath(dataFolder))
        throw SystemError(QStringLiteral("The folder for application data could not be created."), std::nullopt,
            { { QStringLiteral("Folder"), dataFolder } });
    m_appSuppApp = dataFolder + u'/' + appName + QLatin1String("/update");
}

bool Updater::isCheckRunning()
{
    return checkRunning.load();
}

bool Updater::start()
{
    bool expected = false;
    if (!checkRunning.compare_exchange_strong(expected, true)) {
        qCCritical(lcCorvane).noquote() << "[Updater.start] a version check is still running; this one is refused";
        return false;
    }
    startWorkerThread(QStringLiteral("Orvel.Updater"), [self = shared_from_this()] {
        struct Done {
            ~Done() { checkRunning = false; }
        } done;
        bool launched = false;
        try {
            launched = self->checkVersion();
        } catch (...) {
            showError(std::current_exception(), QStringLiteral("error in automatic version check/update"));
            return;
        }
        if (!launched)
            self->cleanUp();
    });
    return true;
}

void Updater::cleanUp()
{
    if (!existsAt(m_appSuppApp))
        return;
    QString reason;
    const std::unique_ptr<QLockFile> guard = lockUpdateFolderChanges(m_appSuppApp, folderLockWait, &reason);
    if (!guard) {
        logInfo(QStringLiteral("[Updater.cleanUp] \"%1\" stays: %2").arg(m_appSuppApp, reason));
        return;
    }
    // An updater still at work there needs its release and staging folder.
    if (isUpdaterRunningIn(m_appSuppApp)) {
        logInfo(QStringLiteral("[Updater.cleanUp] an updater is at work in \"%1\"; it stays").arg(m_appSuppApp));
        return;
    }
    try {
        moveToTrash(m_appSuppApp);
    } catch (const SystemError &error) {
        showError(error, QLatin1String("Cannot delete ") + m_appSuppApp + u'.');
    }
}

bool Updater::checkVersion()
{
    const auto check = std::make_shared<VersionCheck1>(m_urlPath, m_appName, m_appName + QLatin1String(".zip"));
    const std::optional<QString> local = check->localVersion();
    if (!local) {
        showMessage(QStringLiteral("Cannot determine own version. Please report this as a bug!"), AlertStyle::Critical);
        return false;
    }
    const std::optional<QString> internet = check->internetVersion();
    if (!internet) {
        showMessage(QLatin1String("Cannot determine version at ") + updateSiteBaseURL() + u'.', AlertStyle::Critical);
        return false;
    }
    if (!VersionCheck1::isNewer(*local, *internet))
        return false;

    bool yes = false;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app) {
        qCCritical(lcCorvane).noquote() << "[Updater.checkVersion] no application to ask whether to update";
        return false;
    }
    if (QThread::currentThread() == app->thread())
        yes = askToUpdate(*local, *internet);
    else
        QMetaObject::invokeMethod(
            app, [&] { yes = askToUpdate(*local, *internet); }, Qt::BlockingQueuedConnection);
    if (!yes)
        return false;

    try {
        update();
    } catch (...) {
        showError(std::current_exception());
        return false;
    }
    return true;
}

bool Updater::askToUpdate(const QString &localVersion, const QString &internetVersion)
{
    Alert alert;
    alert.style = AlertStyle::Informational;
    alert.message = QStringLiteral("Automatic Update");
    alert.informativeText = m_appName + QLatin1String(" has version ") + localVersion
        + QLatin1String(", but a newer version, ") + internetVersion
        + QLatin1String(", is available.\nDo you want to automatically update to the new version?");
    alert.buttons = { QStringLiteral("Yes"), QStringLiteral("No") };
    return presenter().runAlert(alert) == FirstButton;
}

void Updater::update()
{
    const QString resource = resourcesFolder() + u'/' + updaterBundle;
    if (!QFileInfo(resource).isDir())
        throw Exception(QStringLiteral("Cannot find SoftwareUpdater.app in my own guts. Please report this as a bug!"));
    const std::optional<QString> bundleId = bundleIdentifier();
    if (!bundleId)
        throw Exception(QStringLiteral("Cannot find own bundle ID. Please report this as a bug!"));
    const QString source = resource + u'/' + updaterExecutable;
    if (!QFileInfo(source).isExecutable() || !QFileInfo(source).isFile())
        throw Exception(quoted(source) + QLatin1String(" is not executable"));

    // Held until the updater launched here holds its own lock: nothing else, in this session or
    // another, may empty the folder in between.
    QString reason;
    const std::unique_ptr<QLockFile> guard = lockUpdateFolderChanges(m_appSuppApp, folderLockWait, &reason);
    if (!guard)
        throw Exception(QStringLiteral("%1 is already being updated.").arg(m_appName),
            reason + QStringLiteral(" Let that update finish, then look for updates again."));
    const QFileInfo folder(m_appSuppApp);
    const bool exists = folder.exists() || folder.isSymLink();
    const bool isFolder = exists && folder.isDir() && !folder.isSymLink();
    logInfo(QStringLiteral("[Updater.update] appSuppApp \"%1\" exists: %2").arg(m_appSuppApp).arg(exists ? 1 : 0));
    if (isFolder && isUpdaterRunningIn(m_appSuppApp))
        throw Exception(QStringLiteral("%1 is already being updated.").arg(m_appName),
            QStringLiteral("The updater started earlier is still at work in %1. Let it finish, or end it and look "
                           "for updates again.")
                .arg(m_appSuppApp));
    if (isFolder) {
        logInfo(QStringLiteral("[Updater.update] trashing contents of \"%1\"").arg(m_appSuppApp));
        QDir dir(m_appSuppApp);
        if (!dir.isReadable())
            throw SystemError::fromFile(
                SystemError::FileOperation::Read, m_appSuppApp, QStringLiteral("The folder cannot be listed."));
        const QStringList entries
            = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
        for (const QString &entry : entries)
            moveToTrash(dir.filePath(entry));
    } else {
        if (exists) {
            std::error_code error;
            std::filesystem::remove(m_appSuppApp.toStdString(), error);
            if (error)
                throw std::filesystem::filesystem_error("cannot delete", m_appSuppApp.toStdString(), error);
        }
        logInfo(QStringLiteral("[Updater.update] trying to create \"%1\"").arg(m_appSuppApp));
        std::filesystem::create_directories(m_appSuppApp.toStdString());
    }

    const QString copy = m_appSuppApp + u'/' + updaterBundle;
    if (existsAt(copy))
        throw std::filesystem::filesystem_error(
            "cannot copy", resource.toStdString(), copy.toStdString(), std::make_error_code(std::errc::file_exists));
    copyAsOwn(resource, copy);
    logInfo(QStringLiteral("[Updater.update] copied \"%1\" to \"%2\"").arg(resource, copy));

    const QString target = copy + u'/' + updaterExecutable;
    const QFileInfo targetInfo(target);
    if (!targetInfo.exists())
        throw Exception(quoted(target) + QLatin1String(" does not exist"));
    if (!targetInfo.isExecutable())
        throw Exception(quoted(target) + QLatin1String(" is not executable"));

    SoftwareUpdateParameters parameters;
    parameters.bundleId = *bundleId;
    parameters.shortAppName = m_appName;
    parameters.urlPath = m_urlPath;
    parameters.isInFolder = m_isInFolder;
    const QStringList arguments = parameters.arguments();
    logInfo(QStringLiteral("[Updater.update] trying to start \"%1\" in directory \"%2\" with parameters %3")
                .arg(target, m_appSuppApp, describeList(arguments)));
    qint64 pid = 0;
    if (!QProcess::startDetached(target, arguments, m_appSuppApp, &pid))
        throw SystemError(QStringLiteral("The program \u201cSoftwareUpdater\u201d could not be started."), std::nullopt,
            { { QStringLiteral("File"), target } });
    logInfo(QStringLiteral("[Updater.update] started \"%1\"").arg(target));
    m_updaterSuccessfullyStarted = true;
    if (!waitForUpdaterLock(m_appSuppApp, pid, folderLockWait))
        qCWarning(lcCorvane).noquote() << "[Updater.update] the updater did not take its lock in" << m_appSuppApp;
}

} // namespace corvane
