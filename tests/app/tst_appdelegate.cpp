#include <QTest>

class TestAppDelegate : public QObject {
    Q_OBJECT
};

QTEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
