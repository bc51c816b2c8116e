#include "app/cookie.h"

#include <QRegularExpression>
#include <QSet>
#include <QtTest>

class TestCookie : public QObject
{
    Q_OBJECT

private slots:
    void cookieIs32LowercaseHexDigits()
    {
        const QRegularExpression form(QStringLiteral("^[0-9a-f]{32}$"));
        QSet<QString> seen;
        for (int i = 0; i < 20; ++i) {
            QString cookie, error;
            QVERIFY(generateCookie(cookie, error));
            QVERIFY(error.isEmpty());
            QVERIFY2(form.match(cookie).hasMatch(), qPrintable(cookie));
            seen.insert(cookie);
        }
        QCOMPARE(seen.size(), 20);
    }

    void randomBytesHaveTheAskedLength()
    {
        QByteArray bytes;
        QString error;
        QVERIFY(generateRandomBytes(0, bytes, error));
        QVERIFY(bytes.isEmpty());
        QVERIFY(generateRandomBytes(1000, bytes, error));
        QCOMPARE(bytes.size(), 1000);
    }

    void failureLeavesOutputsAlone()
    {
        QByteArray bytes("keep");
        QString error;
        QVERIFY(!generateRandomBytes(-1, bytes, error));
        QCOMPARE(bytes, QByteArray("keep"));
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCookie)
#include "tst_cookie.moc"
