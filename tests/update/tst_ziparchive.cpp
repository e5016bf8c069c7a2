#include "Exception.h"
#include "InstallationSwap.h"
#include "UpdateTestSupport.h"
#include "ZipArchive.h"

#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <stdexcept>

using UpdateTest::makeZip;
using UpdateTest::readFile;
using UpdateTest::snapshot;
using UpdateTest::ZipItem;

Q_DECLARE_METATYPE(QList<UpdateTest::ZipItem>)
Q_DECLARE_METATYPE(UpdateTest::ZipStyle)

class TestZipArchive : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void unpacksARelease_data();
    void unpacksARelease();
    void refusesHostileArchives_data();
    void refusesHostileArchives();
    void damagedArchivesUnpackNothingForeign_data();
    void damagedArchivesUnpackNothingForeign();
    void swapReplacesFiles();
    void swapFailureAtEveryStepLeavesTheOldInstallation();
    void swapRefusesAFolderWhereAFileWas();
    void installedModesFollowTheUmask_data();
    void installedModesFollowTheUmask();
};

void TestZipArchive::unpacksARelease_data()
{
    QTest::addColumn<UpdateTest::ZipStyle>("style");
    QTest::newRow("plain") << UpdateTest::ZipStyle::Plain;
    QTest::newRow("streamed, as the packager writes it") << UpdateTest::ZipStyle::Streamed;
}

void TestZipArchive::unpacksARelease()
{
    QFETCH(UpdateTest::ZipStyle, style);
    const QByteArray big(200000, 'q');
    const QByteArray zip = makeZip(
        {
            { "Quillfern/", {}, S_IFDIR | 0755 },
            { "Quillfern/bin/quillfern", "#!/bin/sh\necho new\n", S_IFREG | 0755 },
            { "Quillfern/lib/quillfern/notes.txt", big, S_IFREG | 0644 },
            { "Quillfern/lib/quillfern/stored.txt", "plain", S_IFREG | 0600, false },
            { "Quillfern/lib/quillfern/empty", {}, S_IFREG | 0644 },
            { "Quillfern/lib/current", "quillfern/notes.txt", S_IFLNK | 0777 },
        },
        style);
    const ZipArchive archive(zip);
    QCOMPARE(archive.entries().size(), 6);

    QTemporaryDir dir;
    const QString staging = dir.filePath(QStringLiteral("staging"));
    archive.extractTo(staging);
    const QString root = staging + QLatin1String("/Quillfern");
    QCOMPARE(readFile(root + QLatin1String("/bin/quillfern")), QByteArray("#!/bin/sh\necho new\n"));
    QVERIFY(QFileInfo(root + QLatin1String("/bin/quillfern")).isExecutable());
    QVERIFY(!QFileInfo(root + QLatin1String("/lib/quillfern/notes.txt")).isExecutable());
    QCOMPARE(readFile(root + QLatin1String("/lib/quillfern/notes.txt")), big);
    QCOMPARE(readFile(root + QLatin1String("/lib/quillfern/stored.txt")), QByteArray("plain"));
    QVERIFY(QFileInfo::exists(root + QLatin1String("/lib/quillfern/empty")));
    QCOMPARE(QFileInfo(root + QLatin1String("/lib/current")).symLinkTarget(),
        root + QLatin1String("/lib/quillfern/notes.txt"));

    // The folder must be new: unpacking over an existing one could follow links placed there.
    QVERIFY_THROWS_EXCEPTION(corvane::Exception, archive.extractTo(staging));
}

void TestZipArchive::refusesHostileArchives_data()
{
    QTest::addColumn<QList<ZipItem>>("items");
    QTest::addColumn<QString>("reason");

    const ZipItem ok { "Quillfern/bin/quillfern", "program", S_IFREG | 0755 };
    const auto row = [&](const char *name, QList<ZipItem> items, const char *reason) {
        items.prepend(ok);
        QTest::newRow(name) << items << QString::fromLatin1(reason);
    };
    row("parent folder", { { "../evil", "x" } }, "outside");
    row("parent inside the path", { { "Quillfern/../../evil", "x" } }, "outside");
    row("absolute path", { { "/tmp/evil", "x" } }, "outside");
    row("backslashes", { { "..\\evil", "x" } }, "outside");
    row("dot component", { { "Quillfern/./x", "x" } }, "outside");
    row("empty component", { { "Quillfern//x", "x" } }, "outside");
    row("control character", { { "Quillfern/a\nb", "x" } }, "outside");
    row("absolute link", { { "Quillfern/passwd", "/etc/passwd", S_IFLNK | 0777 } }, "link pointing outside");
    row("link upwards", { { "Quillfern/up", "../../evil", S_IFLNK | 0777 } }, "link pointing outside");
    row("link upwards inside the tree", { { "Quillfern/lib/up", "../bin", S_IFLNK | 0777 } }, "link pointing outside");
    row("file through a link", { { "Quillfern/down", "bin", S_IFLNK | 0777 }, { "Quillfern/down/x", "x" } },
        "below a file or a link");
    row("file below a file", { { "Quillfern/bin/quillfern/x", "x" } }, "below a file or a link");
    row("twice", { { "Quillfern/bin/quillfern", "other", S_IFREG | 0755 } }, "appears twice");
    row("device", { { "Quillfern/dev", "", S_IFCHR | 0644 } }, "neither a file");
    row("fifo", { { "Quillfern/fifo", "", S_IFIFO | 0644 } }, "neither a file");
    row("wrong checksum", { { "Quillfern/a", "abc", S_IFREG | 0644, true, 0, -1, 12345 } }, "checksum");
    row("unpacks larger than stated", { { "Quillfern/bomb", QByteArray(100000, 'b'), S_IFREG | 0644, true, 0, 100 } },
        "not the size it claims");
    // A gigabyte of zeros deflates to a megabyte; it is refused from the directory, before anything is written.
    row("unpacks to far more than a release", { { "Quillfern/zeros", "0", S_IFREG | 0644, true, 0, qint64(1) << 30 } },
        "unpacks to more than any release can be");
    row("stored size lie", { { "Quillfern/a", "abcdef", S_IFREG | 0644, false, 0, 3 } }, "damaged");
    row("encrypted", { { "Quillfern/a", "abc", S_IFREG | 0644, false, 1 } }, "encrypted");
    row("non-UTF-8 name", { { "Quillfern/caf\xe9", "x", S_IFREG | 0644, true, 0x0800 } }, "neither ASCII nor");
    QTest::newRow("not a zip") << QList<ZipItem>() << QStringLiteral("not a zip archive");
}

void TestZipArchive::refusesHostileArchives()
{
    QFETCH(QList<ZipItem>, items);
    QFETCH(QString, reason);
    const QByteArray zip = items.isEmpty() ? QByteArray("<html>Not Found</html>") : makeZip(items);

    QTemporaryDir dir;
    const QString staging = dir.filePath(QStringLiteral("work/staging"));
    QDir().mkpath(dir.filePath(QStringLiteral("work")));
    try {
        const ZipArchive archive(zip);
        archive.extractTo(staging);
        QFAIL("the archive was accepted");
    } catch (const corvane::Exception &error) {
        const QString text = error.information().value_or(QString());
        QVERIFY2(text.contains(reason), qPrintable(text));
    }
    // Nothing beside the staging folder, and nothing at all outside the temporary folder's work.
    QCOMPARE(
        QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList { QStringLiteral("work") });
    QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/evil")));
}

void TestZipArchive::damagedArchivesUnpackNothingForeign_data()
{
    QTest::addColumn<int>("seed");
    QTest::addColumn<UpdateTest::ZipStyle>("style");
    for (int seed = 0; seed < 8; ++seed) {
        const bool streamed = seed % 2 == 1;
        QTest::newRow(
            qPrintable(QStringLiteral("%1 seed %2").arg(QLatin1String(streamed ? "streamed" : "plain")).arg(seed)))
            << seed << (streamed ? UpdateTest::ZipStyle::Streamed : UpdateTest::ZipStyle::Plain);
    }
}

// Cut short or with bytes changed anywhere, a release either is refused with a reason or unpacks
// inside its folder, and never yields a file whose bytes the release did not have.
void TestZipArchive::damagedArchivesUnpackNothingForeign()
{
    QFETCH(int, seed);
    QFETCH(UpdateTest::ZipStyle, style);
    const QList<ZipItem> items {
        { "Quillfern/", {}, S_IFDIR | 0755 },
        { "Quillfern/bin/quillfern", "#!/bin/sh\necho new\n", S_IFREG | 0755 },
        { "Quillfern/lib/quillfern/notes.txt", QByteArray(5000, 'n') + "end", S_IFREG | 0644 },
        { "Quillfern/lib/quillfern/stored.txt", "plain", S_IFREG | 0600, false },
        { "Quillfern/lib/current", "quillfern/notes.txt", S_IFLNK | 0777 },
    };
    QSet<QByteArray> contents;
    for (const ZipItem &item : items)
        contents.insert(item.content);
    const QByteArray good = makeZip(items, style);
    QRandomGenerator random { quint32(seed) };
    int refused = 0;
    for (int round = 0; round < 150; ++round) {
        QByteArray zip = good;
        if (round % 3 == 0) {
            zip.truncate(random.bounded(zip.size()));
        } else {
            for (int flips = random.bounded(1, 4); flips > 0; --flips)
                zip[random.bounded(zip.size())] = char(random.bounded(256));
        }
        QTemporaryDir dir;
        QDir().mkpath(dir.filePath(QStringLiteral("work")));
        const QString staging = dir.filePath(QStringLiteral("work/staging"));
        try {
            ZipArchive(zip).extractTo(staging);
        } catch (const corvane::Exception &error) {
            QVERIFY(!error.information().value_or(QString()).isEmpty());
            ++refused;
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            QStringList { QStringLiteral("work") });
        const QMap<QString, QByteArray> tree = snapshot(staging);
        for (auto it = tree.cbegin(); it != tree.cend(); ++it) {
            if (it.key().endsWith(u'/') || it.value().startsWith("link:"))
                continue;
            // Snapshots write files as "<permissions>:<bytes>".
            const QByteArray bytes = it.value().mid(it.value().indexOf(':') + 1);
            QVERIFY2(contents.contains(bytes), qPrintable(it.key()));
        }
    }
    // Most changes hit data, a size or a checksum, which must be caught; the rest hit times, owners
    // and other fields nothing is taken from.
    QVERIFY2(refused > 75, qPrintable(QString::number(refused)));
}

namespace {

// An installation with a program, the updater's folder and a file the release does not have.
void makeInstallation(const QString &root, const QByteArray &flavour)
{
    UpdateTest::writeFile(
        root + QLatin1String("/bin/quillfern"), "#!/bin/sh\necho " + flavour + '\n', UpdateTest::executable);
    UpdateTest::writeFile(root + QLatin1String("/lib/quillfern/SoftwareUpdater.app/Contents/MacOS/SoftwareUpdater"),
        "updater " + flavour, UpdateTest::executable);
    UpdateTest::writeFile(root + QLatin1String("/lib/quillfern/readme"), "readme " + flavour);
}

void makeRelease(const QString &root)
{
    makeInstallation(root, "new");
    UpdateTest::writeFile(root + QLatin1String("/share/quillfern/help/index.html"), "help");
    QFile::link(QStringLiteral("index.html"), root + QLatin1String("/share/quillfern/help/start.html"));
}

} // namespace

void TestZipArchive::swapReplacesFiles()
{
    QTemporaryDir dir;
    const QString installation = dir.filePath(QStringLiteral("opt/quillfern"));
    const QString release = dir.filePath(QStringLiteral("release"));
    makeInstallation(installation, "old");
    UpdateTest::writeFile(installation + QLatin1String("/lib/quillfern/local-only"), "kept");
    makeRelease(release);

    InstallationSwap swap(installation, release);
    QCOMPARE(swap.foldersToWrite(),
        QStringList({ installation + QLatin1String("/bin"),
            installation + QLatin1String("/lib/quillfern/SoftwareUpdater.app/Contents/MacOS"),
            installation + QLatin1String("/lib/quillfern"), installation }));
    swap.run();

    QMap<QString, QByteArray> expected = snapshot(release);
    expected.insert(QStringLiteral("lib/quillfern/local-only"),
        snapshot(installation).value(QStringLiteral("lib/quillfern/local-only")));
    QCOMPARE(snapshot(installation), expected);
    QCOMPARE(readFile(installation + QLatin1String("/lib/quillfern/local-only")), QByteArray("kept"));
}

void TestZipArchive::swapFailureAtEveryStepLeavesTheOldInstallation()
{
    // Each failure logs that it is taken back.
    QLoggingCategory::setFilterRules(QStringLiteral("quillfern.critical=false"));
    const auto restore = qScopeGuard([] { QLoggingCategory::setFilterRules(QString()); });
    int failedSteps = 0;
    for (int failAt = 0;; ++failAt) {
        QTemporaryDir dir;
        const QString installation = dir.filePath(QStringLiteral("opt/quillfern"));
        const QString release = dir.filePath(QStringLiteral("release"));
        makeInstallation(installation, "old");
        makeRelease(release);
        const QMap<QString, QByteArray> before = snapshot(installation);

        InstallationSwap swap(installation, release);
        bool failed = false;
        swap.beforeStep = [failAt, &failed](int step) {
            if (step == failAt) {
                failed = true;
                throw std::runtime_error("disk full");
            }
        };
        if (!failed) {
            try {
                swap.run();
            } catch (const corvane::Exception &error) {
                QVERIFY(failed);
                QVERIFY(error.information()->contains(QLatin1String("disk full")));
            }
        }
        if (!failed) {
            QCOMPARE(snapshot(installation), snapshot(release));
            break;
        }
        ++failedSteps;
        QCOMPARE(snapshot(installation), before);
    }
    // Five files staged and three folders created, then each file swapped in two renames.
    QCOMPARE(failedSteps, 8 + 2 * 5);
}

void TestZipArchive::swapRefusesAFolderWhereAFileWas()
{
    QTemporaryDir dir;
    const QString installation = dir.filePath(QStringLiteral("installation"));
    const QString release = dir.filePath(QStringLiteral("release"));
    makeInstallation(installation, "old");
    makeRelease(release);
    QFile::remove(installation + QLatin1String("/lib/quillfern/readme"));
    QDir().mkpath(installation + QLatin1String("/lib/quillfern/readme/sub"));
    QVERIFY_THROWS_EXCEPTION(corvane::Exception, InstallationSwap(installation, release));
}

void TestZipArchive::installedModesFollowTheUmask_data()
{
    QTest::addColumn<int>("mask");
    QTest::addColumn<int>("program");
    QTest::addColumn<int>("entry");
    QTest::addColumn<int>("folder");
    QTest::newRow("022") << 022 << 0755 << 0644 << 0755;
    QTest::newRow("002 still keeps others from writing") << 002 << 0755 << 0644 << 0755;
    QTest::newRow("027") << 027 << 0750 << 0640 << 0750;
    QTest::newRow("077") << 077 << 0700 << 0600 << 0700;
}

// An archive asking for files everyone may write gets what the user's umask allows, never more.
void TestZipArchive::installedModesFollowTheUmask()
{
    QFETCH(int, mask);
    QFETCH(int, program);
    QFETCH(int, entry);
    QFETCH(int, folder);
    const mode_t saved = ::umask(mode_t(mask));
    const auto restore = qScopeGuard([saved] { ::umask(saved); });
    QTemporaryDir dir;
    const QString installation = dir.filePath(QStringLiteral("opt/quillfern"));
    makeInstallation(installation, "old");
    const ZipArchive archive(makeZip({
        { "Quillfern/bin/quillfern", "#!/bin/sh\necho new\n", S_IFREG | 0777 },
        { "Quillfern/share/applications/", {}, S_IFDIR | 0777 },
        { "Quillfern/share/applications/org.quillfern.Quillfern.desktop", "[Desktop Entry]\n", S_IFREG | 0666 },
    }));
    const QString staging = dir.filePath(QStringLiteral("staging"));
    archive.extractTo(staging);
    const auto modeOf = [](const QString &root, const char *path) {
        struct stat info { };
        ::lstat(QFile::encodeName(root + u'/' + QLatin1String(path)).constData(), &info);
        return int(info.st_mode & 07777);
    };
    // Staged, whatever the umask: nobody but the user writes them, and the program stays executable.
    QCOMPARE(modeOf(staging, "Quillfern/bin/quillfern"), 0755);
    QCOMPARE(modeOf(staging, "Quillfern/share/applications/org.quillfern.Quillfern.desktop"), 0644);
    InstallationSwap(installation, staging + QLatin1String("/Quillfern")).run();

    QCOMPARE(modeOf(installation, "bin/quillfern"), program);
    QCOMPARE(modeOf(installation, "share/applications/org.quillfern.Quillfern.desktop"), entry);
    QCOMPARE(modeOf(installation, "share"), folder);
    QCOMPARE(modeOf(installation, "share/applications"), folder);
}

QTEST_MAIN(TestZipArchive)
#include "tst_ziparchive.moc"
