#include "Preferences.h"

#include "Alerts.h"
#include "Bundle.h"
#include "Log.h"
#include "Updater.h"

#include <QCoreApplication>
#include <QSettings>
#include <QThread>

namespace {
const QString checkVersionKey = QStringLiteral("check version");
}

Preferences::Preferences()
{
    if (const QCoreApplication *app = QCoreApplication::instance(); app && thread() != app->thread())
        moveToThread(app->thread());
    reload();
}

Preferences &Preferences::shared()
{
    // Initialising a function's static is serialised by the language: concurrent first uses
    // create one instance.
    static Preferences preferences;
    return preferences;
}

void Preferences::reload()
{
    m_isCheckVersion = !QSettings().value(checkVersionKey, false).toBool();
}

void Preferences::setCheckVersion(bool checkVersion)
{
    Q_EMIT checkVersionAboutToChange(checkVersion);
    m_isCheckVersion = checkVersion;
    QSettings().setValue(checkVersionKey, !checkVersion);
    Q_EMIT checkVersionChanged(checkVersion);
    if (checkVersion)
        startUpdateCheck();
}

void Preferences::startUpdateCheck()
{
    // Otherwise every start of such a build would report a site that cannot exist.
    if (!corvane::hasUpdateSite()) {
        qCInfo(corvane::lcCorvane, "this build has no update site, so there is nothing to check");
        return;
    }
    try {
        std::make_shared<corvane::Updater>(QStringLiteral("Quillfern"), QStringLiteral("Quillfern"), false)->start();
    } catch (const std::exception &error) {
        corvane::showError(error);
    }
}
