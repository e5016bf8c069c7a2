#include "Exception.h"
#include "ZipArchive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QMimeDatabase>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

namespace {

const QString appId = QStringLiteral("org.quillfern.Quillfern");
const QString projectType = QStringLiteral("application/x-quillfern");

QString packaged(const QString &suffix)
{
    return QStringLiteral(QUILLFERN_SOURCE_DIR "/packaging/") + appId + suffix;
}

// Relative to the installation prefix.
QString installedFile(const char *folder, const char *suffix)
{
    return QLatin1String(folder) + u'/' + appId + QLatin1String(suffix);
}

struct Run {
    int exitCode = -1;
    QString output; // stdout and stderr together
};

Run run(const QString &program, const QStringList &arguments,
    const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit) {
        result.output = program + QLatin1String(" did not run: ") + process.errorString();
        return result;
    }
    result.exitCode = process.exitCode();
    result.output = QString::fromLocal8Bit(process.readAll());
    return result;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The [Desktop Entry] group's keys; localised keys and other groups are not needed here.
QHash<QString, QString> desktopEntry(const QString &path)
{
    QHash<QString, QString> keys;
    bool inEntry = false;
    for (const QByteArray &raw : readFile(path).split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(u'['))
            inEntry = line == QLatin1String("[Desktop Entry]");
        else if (inEntry && !line.startsWith(u'#') && line.contains(u'='))
            keys.insert(line.section(u'=', 0, 0).trimmed(), line.section(u'=', 1).trimmed());
    }
    return keys;
}

QStringList declaredMimeTypes(const QString &path)
{
    QStringList types;
    QXmlStreamReader xml(readFile(path));
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("mime-type"))
            types.append(xml.attributes().value(QLatin1String("type")).toString());
    }
    if (xml.hasError())
        return { QLatin1String("malformed: ") + xml.errorString() };
    return types;
}

} // namespace

class TestInstall : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void desktopEntryValidates();
    void desktopEntryNamesTheShippedTypeAndIcon();
    void mimeDatabaseRegistersTheProjectType();
    void fileNamesMapToTheProjectType_data();
    void fileNamesMapToTheProjectType();
    void installedTree_data();
    void installedTree();
    void installedLauncherOpensProjects();
    void installedMetainfoValidates();
    void installedMetainfoNamesTheLauncherAndScreenshot();
    void iconRendersSmall_data();
    void iconRendersSmall();
    void releaseArchiveUnpacksAndRuns();

private:
    bool install();

    QTemporaryDir m_dataHome;
    QTemporaryDir m_prefix;
    Run m_install;
    bool m_installed = false;
};

void TestInstall::initTestCase()
{
    for (const char *tool :
        { "desktop-file-validate", "update-desktop-database", "update-mime-database", "appstreamcli" })
        QVERIFY2(!QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty(),
            qPrintable(QLatin1String(tool) + QLatin1String(" is missing; scripts/install-deps.sh installs it")));
    QVERIFY(m_dataHome.isValid());
    QVERIFY(m_prefix.isValid());

    // A private data home ahead of /usr/share, so QMimeDatabase sees the package beside the system's types.
    const QString mime = m_dataHome.filePath(QStringLiteral("mime"));
    QVERIFY(QDir().mkpath(mime + QLatin1String("/packages")));
    QVERIFY(QFile::copy(packaged(QStringLiteral(".xml")), mime + QLatin1String("/packages/") + appId + u".xml"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dataHome.path()));
    const Run update = run(QStringLiteral("update-mime-database"), { mime });
    QCOMPARE(update.output, QString());
    QCOMPARE(update.exitCode, 0);
}

void TestInstall::desktopEntryValidates()
{
    // Any output fails, hints included: what the validator warns about, some desktops ignore or misread.
    const Run validate = run(QStringLiteral("desktop-file-validate"), { packaged(QStringLiteral(".desktop")) });
    QCOMPARE(validate.output, QString());
    QCOMPARE(validate.exitCode, 0);
}

void TestInstall::desktopEntryNamesTheShippedTypeAndIcon()
{
    const QHash<QString, QString> entry = desktopEntry(packaged(QStringLiteral(".desktop")));
    const QStringList declared = declaredMimeTypes(packaged(QStringLiteral(".xml")));
    QCOMPARE(declared, QStringList { projectType });
    QVERIFY(entry.value(QStringLiteral("MimeType")).split(u';').contains(projectType));
    QCOMPARE(entry.value(QStringLiteral("Icon")), appId);
    // %F: every chosen file arrives as a local path, the only kind of argument the program opens.
    QCOMPARE(entry.value(QStringLiteral("Exec")), QStringLiteral("quillfern %F"));
}

void TestInstall::mimeDatabaseRegistersTheProjectType()
{
    const QString mime = m_dataHome.filePath(QStringLiteral("mime"));
    QVERIFY(QFileInfo::exists(mime + QLatin1String("/application/x-quillfern.xml")));
    QVERIFY(readFile(mime + QLatin1String("/globs2")).contains("application/x-quillfern:*.quillfern\n"));

    const QMimeType type = QMimeDatabase().mimeTypeForName(projectType);
    QVERIFY(type.isValid());
    QCOMPARE(type.comment(), QStringLiteral("Quillfern project"));
    // Without the parent, editors that open JSON would not be offered for a project.
    QVERIFY(type.inherits(QStringLiteral("application/json")));
    QVERIFY(!type.genericIconName().isEmpty());
    QCOMPARE(type.preferredSuffix(), QStringLiteral("quillfern"));
}

void TestInstall::fileNamesMapToTheProjectType_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("type");

    QTest::newRow("project") << "plan.quillfern" << projectType;
    QTest::newRow("capitals") << "Plan.QUILLFERN" << projectType;
    QTest::newRow("dots and spaces") << "launch plan.v2.quillfern" << projectType;
    QTest::newRow("backup copy") << "plan.quillfern~" << QStringLiteral("application/x-trash");
    QTest::newRow("plain JSON stays JSON") << "plan.json" << QStringLiteral("application/json");
    QTest::newRow("name without extension") << "quillfern" << QStringLiteral("application/octet-stream");
}

void TestInstall::fileNamesMapToTheProjectType()
{
    QFETCH(QString, fileName);
    QFETCH(QString, type);
    QCOMPARE(QMimeDatabase().mimeTypeForFile(fileName, QMimeDatabase::MatchExtension).name(), type);
}

bool TestInstall::install()
{
    if (!m_installed) {
        m_installed = true;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // A DESTDIR inherited from a packaging shell would put the tree elsewhere.
        environment.remove(QStringLiteral("DESTDIR"));
        m_install = run(QStringLiteral(QUILLFERN_CMAKE),
            { QStringLiteral("--install"), QStringLiteral(QUILLFERN_BUILD_DIR), QStringLiteral("--prefix"),
                m_prefix.path() },
            environment);
        if (m_install.exitCode != 0)
            qWarning().noquote() << m_install.output;
    }
    return m_install.exitCode == 0;
}

void TestInstall::installedTree_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("program");

    QTest::newRow("program") << "bin/quillfern" << true;
    QTest::newRow("updater") << "lib/quillfern/SoftwareUpdater.app/Contents/MacOS/SoftwareUpdater" << true;
    QTest::newRow("release version") << "lib/quillfern/version" << false;
    QTest::newRow("launcher") << installedFile("share/applications", ".desktop") << false;
    QTest::newRow("file type") << installedFile("share/mime/packages", ".xml") << false;
    QTest::newRow("icon") << installedFile("share/icons/hicolor/scalable/apps", ".svg") << false;
    QTest::newRow("software centre entry") << installedFile("share/metainfo", ".metainfo.xml") << false;
}

void TestInstall::installedTree()
{
    QFETCH(QString, path);
    QFETCH(bool, program);
    QVERIFY(install());
    const QFileInfo file(m_prefix.filePath(path));
    QVERIFY2(file.isFile(), qPrintable(file.filePath()));
    QCOMPARE(file.isExecutable(), program);
}

void TestInstall::installedLauncherOpensProjects()
{
    QVERIFY(install());
    // What file managers consult to choose the program for a type.
    const QString applications = m_prefix.filePath(QStringLiteral("share/applications"));
    const Run update = run(QStringLiteral("update-desktop-database"), { applications });
    QCOMPARE(update.output, QString());
    QCOMPARE(update.exitCode, 0);
    const QByteArray cache = readFile(applications + QLatin1String("/mimeinfo.cache"));
    QVERIFY2(
        cache.contains(QString(projectType + u'=' + appId + QLatin1String(".desktop;")).toUtf8()), cache.constData());
}

void TestInstall::installedMetainfoValidates()
{
    QVERIFY(install());
    const Run validate = run(QStringLiteral("appstreamcli"),
        { QStringLiteral("validate"), QStringLiteral("--no-net"),
            m_prefix.filePath(installedFile("share/metainfo", ".metainfo.xml")) });
    QCOMPARE(validate.exitCode, 0);
    // Errors, warnings and hints alike: software centres may drop or misshow what they point at.
    static const QRegularExpression issue(QStringLiteral("^[EWI]: "), QRegularExpression::MultilineOption);
    QVERIFY2(!validate.output.contains(issue), qPrintable(validate.output));
}

void TestInstall::installedMetainfoNamesTheLauncherAndScreenshot()
{
    QVERIFY(install());
    QXmlStreamReader xml(readFile(m_prefix.filePath(installedFile("share/metainfo", ".metainfo.xml"))));
    QHash<QString, QString> found;
    QSize screenshotSize;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QString name = xml.name().toString();
        if (name == QLatin1String("release")) {
            found.insert(name, xml.attributes().value(QLatin1String("version")).toString());
        } else if (name == QLatin1String("image")) {
            screenshotSize = QSize(xml.attributes().value(QLatin1String("width")).toInt(),
                xml.attributes().value(QLatin1String("height")).toInt());
            found.insert(name, xml.readElementText());
        } else if (name == QLatin1String("id") || name == QLatin1String("launchable")) {
            found.insert(name, xml.readElementText());
        }
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(found.value(QStringLiteral("id")), appId);
    QCOMPARE(found.value(QStringLiteral("launchable")), appId + QLatin1String(".desktop"));
    QVERIFY(QFileInfo::exists(packaged(QStringLiteral(".desktop"))));
    QCOMPARE(found.value(QStringLiteral("release")), QStringLiteral(QUILLFERN_VERSION));
    QVERIFY2(found.value(QStringLiteral("image")).endsWith(QLatin1String("/docs/screenshot.png")),
        qPrintable(found.value(QStringLiteral("image"))));
    QCOMPARE(screenshotSize, QImageReader(QStringLiteral(QUILLFERN_SOURCE_DIR "/docs/screenshot.png")).size());
}

void TestInstall::iconRendersSmall_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("menu") << 16;
    QTest::newRow("launcher") << 48;
}

void TestInstall::iconRendersSmall()
{
    QFETCH(int, size);
    QVERIFY(install());
    QImageReader reader(m_prefix.filePath(installedFile("share/icons/hicolor/scalable/apps", ".svg")));
    reader.setScaledSize(QSize(size, size));
    const QImage icon = reader.read();
    QVERIFY2(!icon.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(icon.size(), QSize(size, size));
    // A rounded tile: clear corners, a solid middle.
    QCOMPARE(qAlpha(icon.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(icon.pixel(size / 2, size / 2)), 255);
}

// The archive the build packs for publishing, read by the updater's own reader: a packager that
// writes what the reader refuses would leave every installation on its release for good.
void TestInstall::releaseArchiveUnpacksAndRuns()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const Run pack = run(QStringLiteral(QUILLFERN_CPACK),
        { QStringLiteral("--config"), QStringLiteral(QUILLFERN_BUILD_DIR "/CPackConfig.cmake"), QStringLiteral("-G"),
            QStringLiteral("ZIP"), QStringLiteral("-B"), work.path() });
    QVERIFY2(pack.exitCode == 0, qPrintable(pack.output));
    const QByteArray bytes = readFile(work.filePath(QStringLiteral("Quillfern.zip")));
    QVERIFY(!bytes.isEmpty());
    const QString staging = work.filePath(QStringLiteral("staging"));
    try {
        ZipArchive(bytes).extractTo(staging);
    } catch (const corvane::Exception &error) {
        QFAIL(qPrintable(error.information().value_or(error.message())));
    }
    const QString root = staging + QLatin1String("/Quillfern");
    QVERIFY(QFileInfo(root + QLatin1String("/lib/quillfern/SoftwareUpdater.app/Contents/MacOS/SoftwareUpdater"))
                .isExecutable());
    QCOMPARE(readFile(root + QLatin1String("/lib/quillfern/version")), QByteArray(QUILLFERN_VERSION "\n"));
    QProcessEnvironment headless = QProcessEnvironment::systemEnvironment();
    headless.remove(QStringLiteral("DISPLAY"));
    const Run version = run(root + QLatin1String("/bin/quillfern"), { QStringLiteral("--version") }, headless);
    QCOMPARE(version.exitCode, 0);
    QVERIFY2(version.output.contains(QStringLiteral(QUILLFERN_VERSION)), qPrintable(version.output));
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
