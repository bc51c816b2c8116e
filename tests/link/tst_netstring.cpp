#include "link/netstring.h"

#include <QBuffer>
#include <QtTest>

class TestNetString : public QObject
{
    Q_OBJECT

private slots:
    void encodesByteLength()
    {
        QCOMPARE(encodeNetString("hello"), QByteArray("5:hello,"));
        QCOMPARE(encodeNetString(QString()), QByteArray("0:,"));
        // Length counts UTF-8 bytes, not characters.
        QCOMPARE(encodeNetString(QString::fromUtf8("\xc3\xa4:,")), QByteArray("4:\xc3\xa4:,,"));
    }

    void parseStep_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("error");
        const int P = int(NetStringReader::Take::Payload), M = int(NetStringReader::Take::NeedMore),
                  F = int(NetStringReader::Take::Failure);
        QTest::newRow("complete") << QByteArray("3:abc,") << P << QByteArray("abc") << QString();
        QTest::newRow("empty payload") << QByteArray("0:,") << P << QByteArray("") << QString();
        QTest::newRow("any terminator") << QByteArray("3:abcX") << P << QByteArray("abc") << QString();
        QTest::newRow("line break before length") << QByteArray("\n2:ab,") << P << QByteArray("ab") << QString();
        QTest::newRow("plus sign") << QByteArray("+2:ab,") << P << QByteArray("ab") << QString();
        QTest::newRow("split in length") << QByteArray("1") << M << QByteArray() << QString();
        QTest::newRow("split in payload") << QByteArray("5:ab") << M << QByteArray() << QString();
        QTest::newRow("missing terminator") << QByteArray("2:ab") << M << QByteArray() << QString();
        QTest::newRow("seven without colon") << QByteArray("1234567") << M << QByteArray() << QString();
        QTest::newRow("eight without colon") << QByteArray("12345678") << F << QByteArray()
                                             << QString("Got an invalid NetString");
        QTest::newRow("colon first") << QByteArray(":abc,") << F << QByteArray()
                                     << QString("Got an invalid NetString");
        QTest::newRow("colon too late") << QByteArray("12345678:") << F << QByteArray()
                                        << QString("Got an invalid NetString");
        QTest::newRow("letters") << QByteArray("1a:b,") << F << QByteArray()
                                 << QString("Got an invalid NetString length");
        QTest::newRow("negative") << QByteArray("-1:") << F << QByteArray()
                                  << QString("Got an invalid NetString length");
        QTest::newRow("trailing blank") << QByteArray("1 :a,") << F << QByteArray()
                                        << QString("Got an invalid NetString length");
        QTest::newRow("largest") << QByteArray("65536:") << M << QByteArray() << QString();
        QTest::newRow("too big") << QByteArray("65537:") << F << QByteArray()
                                 << QString("Got a NetString length that is too big");
    }

    void parseStep()
    {
        QFETCH(QByteArray, input);
        QFETCH(int, result);
        QFETCH(QByteArray, payload);
        QFETCH(QString, error);
        QBuffer device;
        device.open(QIODevice::ReadWrite);
        NetStringReader reader(&device, "Test");
        reader.buffer() = input;
        QByteArray got;
        QCOMPARE(int(reader.takeNetString(got)), result);
        QCOMPARE(got, payload);
        QCOMPARE(reader.errorString(), error);
        if (!error.isEmpty()) {
            QCOMPARE(reader.state(), int(NetStringReader::Failed));
            QVERIFY(!device.isOpen());
        }
    }

    void largestPayloadIsDelivered()
    {
        QBuffer device;
        device.open(QIODevice::ReadWrite);
        NetStringReader reader(&device, "Test");
        reader.buffer() = "65536:" + QByteArray(65536, 'x') + ",";
        QByteArray got;
        QCOMPARE(reader.takeNetString(got), NetStringReader::Take::Payload);
        QCOMPARE(got.size(), 65536);
        QVERIFY(reader.buffer().isEmpty());
    }

    // The stream loop, fed in chunks as the SSH client's output would arrive.
    void streamSplitsAndMarker()
    {
        QByteArray data = "banner text\r\nmore noise ---- BEGIN Nuvek";
        QByteArray rest = " NetString ----\n3:one,3:two,0:,5:th";
        QByteArray tail = "ree,";

        QBuffer device;
        device.open(QIODevice::ReadWrite);
        NetStringReader reader(&device, "Test");
        QList<QByteArray> got;
        auto feed = [&](const QByteArray &bytes) {
            const qint64 pos = device.pos();
            device.buffer().append(bytes);
            device.seek(pos);
            reader.readStream([&](const QByteArray &p) { got << p; return true; });
        };
        feed(data);
        QCOMPARE(reader.state(), 0);
        QVERIFY(reader.buffer().size() <= NetStringStartMarker.size());
        feed(rest);
        QCOMPARE(got, (QList<QByteArray>{"one", "two", ""}));
        feed(tail);
        QCOMPARE(got, (QList<QByteArray>{"one", "two", "", "three"}));
    }

    void streamStopsWhenHandlerRejects()
    {
        QBuffer device;
        device.setData(NetStringStartMarker + "1:a,1:b,");
        device.open(QIODevice::ReadOnly);
        NetStringReader reader(&device, "Test");
        QList<QByteArray> got;
        reader.readStream([&](const QByteArray &p) {
            got << p;
            reader.fail("Got invalid JSON");
            return false;
        });
        QCOMPARE(got, QList<QByteArray>{"a"});
        QCOMPARE(reader.errorString(), QString("Got invalid JSON"));
        QVERIFY(!device.isOpen());
    }

    void singleFrameLeavesTheRest()
    {
        QBuffer device;
        device.setData("5:hello,3:more,");
        device.open(QIODevice::ReadOnly);
        NetStringReader reader(&device, "Test");
        QByteArray payload;
        QVERIFY(reader.readSingleFrame(payload));
        QCOMPARE(payload, QByteArray("hello"));
        QCOMPARE(reader.state(), 1);
        QVERIFY(!reader.readSingleFrame(payload));
    }
};

QTEST_GUILESS_MAIN(TestNetString)
#include "tst_netstring.moc"
