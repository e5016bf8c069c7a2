// The reader over a public JSON conformance suite: y_ files must parse, n_ files must be refused,
// i_ files may go either way. None of them is a project, so all must fail, never crash or hang.

#include "ProjectFile.h"

#include "Project.h"

#include <QDir>
#include <QFile>
#include <QTest>

class TestJsonSuite : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // A few suite files are whole projects in all but name; their repair may log.
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    }

    void everyFileFailsClearly_data()
    {
        QTest::addColumn<QString>("path");
        const QDir suite(QStringLiteral(QUILLFERN_JSON_SUITE));
        const QStringList files = suite.entryList({ QStringLiteral("*.json") }, QDir::Files, QDir::Name);
        QCOMPARE(files.size(), 318);
        for (const QString &file : files)
            QTest::newRow(qPrintable(file)) << suite.filePath(file);
    }

    void everyFileFailsClearly()
    {
        QFETCH(QString, path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const QString name = QFileInfo(path).fileName();

        QString message;
        try {
            const std::unique_ptr<Project> project = readProject(bytes);
            QVERIFY2(!name.startsWith(QLatin1String("n_")), "an invalid JSON text was read as a project");
            return;
        } catch (const ProjectFileError &error) {
            message = error.message();
        }
        QVERIFY(!message.isEmpty());
        // Valid JSON must be refused for what it holds, not as broken text.
        if (name.startsWith(QLatin1String("y_")))
            QVERIFY2(!message.startsWith(QLatin1String("The file is not valid JSON")), qPrintable(message));
    }
};

QTEST_GUILESS_MAIN(TestJsonSuite)
#include "tst_jsonsuite.moc"
