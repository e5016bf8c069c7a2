#include <QTest>

class TestApplication : public QObject {
    Q_OBJECT
};

QTEST_MAIN(TestApplication)
#include "tst_application.moc"
