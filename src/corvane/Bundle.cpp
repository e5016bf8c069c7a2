#include "Bundle.h"

#include "Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QHostAddress>
#include <QMutex>

namespace corvane {

namespace {

QMutex folderMutex;
QString installationOverride;

} // namespace

std::optional<QString> shortVersionString()
{
    const QString version = QStringLiteral(QUILLFERN_VERSION);
    if (version.isEmpty())
        return std::nullopt;
    return version;
}

std::optional<QString> bundleIdentifier()
{
    return QStringLiteral("org.quillfern.Quillfern");
}

QString installationFolder()
{
    {
        QMutexLocker lock(&folderMutex);
        if (!installationOverride.isEmpty())
            return installationOverride;
    }
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1String("/.."));
}

void setInstallationFolder(const QString &folder)
{
    QMutexLocker lock(&folderMutex);
    installationOverride = folder.isEmpty() ? QString() : QDir::cleanPath(folder);
}

QString resourcesFolder()
{
    return installationFolder() + QLatin1String("/lib/quillfern");
}

bool isAcceptableUpdateUrl(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    if (url.scheme() == QLatin1String("https"))
        return true;
    if (url.scheme() != QLatin1String("http"))
        return false;
    if (url.host() == QLatin1String("localhost"))
        return true;
    const QHostAddress address(url.host());
    return !address.isNull() && address.isLoopback();
}

std::optional<QString> redirectRefusal(
    const QStringList &visited, const QUrl &target, const QString &what, const QString &rule)
{
    // Qt's own count of redirects ends a loop without saying so.
    constexpr int mostRedirects = 10;
    if (visited.contains(target.toString()) || visited.size() > mostRedirects)
        return QStringLiteral("The update site sends %1 on and on in a loop of redirects; it is misconfigured. Try "
                              "again later, or tell its publisher.")
            .arg(what);
    if (!isAcceptableUpdateUrl(target))
        return QStringLiteral("The update site sent %1 on to %2, which is not an https address; %3.")
            .arg(what, target.toString(), rule);
    return std::nullopt;
}

QString updateSiteBaseURL()
{
    const QString configured = QStringLiteral(QUILLFERN_UPDATE_SITE_BASE_URL);
    QString base = configured;
    const QString fromEnvironment = qEnvironmentVariable("QUILLFERN_UPDATE_SITE");
    if (!fromEnvironment.isEmpty()) {
        if (isAcceptableUpdateUrl(QUrl(fromEnvironment)))
            base = fromEnvironment;
        else
            qCCritical(lcCorvane).noquote()
                << "ignoring QUILLFERN_UPDATE_SITE" << fromEnvironment << "because releases travel only over https";
    }
    if (!base.endsWith(u'/'))
        base += u'/';
    return base;
}

bool hasUpdateSite()
{
    // Names under .invalid never resolve: the placeholder of a build made without a site.
    const QString host = QUrl(updateSiteBaseURL()).host();
    return !host.isEmpty() && host != QLatin1String("invalid") && !host.endsWith(QLatin1String(".invalid"));
}

} // namespace corvane
