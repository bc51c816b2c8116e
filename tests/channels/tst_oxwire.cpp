// The wire format of our own channels: the byte examples both sides must
// produce, and what a receiver makes of short, unterminated or broken input.

#include "channels/oxcfg/oxcfg_common.h"
#include "channels/oxdesk/oxdesk_common.h"
#include "channels/oxrail/oxrail_common.h"
#include "channels/oxshare/oxshare_common.h"

#include <QtTest>

Q_DECLARE_METATYPE(OxBytes)

static QByteArray hex(const OxBytes &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size())).toHex(' ');
}

static OxBytes fromHex(const char *text)
{
    const QByteArray raw = QByteArray::fromHex(text);
    return OxBytes(raw.begin(), raw.end());
}

class TestOxWire : public QObject
{
    Q_OBJECT

private slots:
    void encode_data();
    void encode();
    void monitorLayoutIsCut();
    void serverStatus_data();
    void serverStatus();
    void roundTrips();
    void shortMessagesAreRefused_data();
    void shortMessagesAreRefused();
};

void TestOxWire::encode_data()
{
    QTest::addColumn<OxBytes>("message");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("size request 1280x800")
        << oxdesk::encodeSize(oxdesk::SizeRequest, 1280, 800) << QByteArray("01 00 00 00 04 00 00 00 00 05 20 03");
    QTest::newRow("min/max info")
        << oxdesk::encodeMinMaxInfo(1, 2, 3, 0xfffe)
        << QByteArray("02 00 00 00 08 00 00 00 01 00 02 00 03 00 fe ff");
    QTest::newRow("geometry with negative corner")
        << oxrail::encodeGeometry({7, -1, -1, 0, 0})
        << QByteArray("05 00 00 00 14 00 00 00 07 00 00 00 ff ff ff ff ff ff ff ff 00 00 00 00 00 00 00 00");
    QTest::newRow("z-order") << oxrail::encodeZOrder(1, 2)
                             << QByteArray("07 00 00 00 08 00 00 00 01 00 00 00 02 00 00 00");
    QTest::newRow("activate") << oxrail::encodeWindowId(oxrail::Activate, 0x01020304)
                              << QByteArray("08 00 00 00 04 00 00 00 04 03 02 01");
    QTest::newRow("stop sharing") << oxshare::encodeStopSharing() << QByteArray("04 00 00 00 00 00 00 00");
    QTest::newRow("start sharing, non-ASCII")
        << oxshare::encodeStartSharing("k\xc3\xa9")
        << QByteArray("03 00 00 00 06 00 00 00 6b 00 e9 00 00 00");
    QTest::newRow("mouse event") << oxshare::encodeMouseEvent(10, 20, 0x8000)
                                 << QByteArray("08 00 00 00 08 00 00 00 0a 00 14 00 00 80 00 00");
    QTest::newRow("empty options text") << oxcfg::encodeText(oxcfg::OptionsUpdatedNotify, std::string())
                                        << QByteArray("01 00 00 00 00 00 00 00");
}

void TestOxWire::encode()
{
    QFETCH(OxBytes, message);
    QFETCH(QByteArray, expected);
    QCOMPARE(hex(message), expected);
}

void TestOxWire::monitorLayoutIsCut()
{
    std::vector<oxrail::Rect16> monitors(40, oxrail::Rect16{0, 0, 1920, 1080});
    const OxBytes message = oxrail::encodeMonitorLayout(monitors);
    QCOMPARE(message.size(), size_t(8 + 4 + 32 * 8));
    OxPduReader reader;
    QVERIFY(reader.open(message));
    std::vector<oxrail::Rect16> read;
    QVERIFY(oxrail::decodeMonitorLayout(reader, read));
    QCOMPARE(read.size(), size_t(32));
    QCOMPARE(read[31].right, int16_t(1920));

    // A key of 32 ASCII characters: 64 bytes of characters and the zero.
    QCOMPARE(oxshare::encodeStartSharing(std::string(32, 'a')).size(), size_t(8 + 66));
}

void TestOxWire::serverStatus_data()
{
    QTest::addColumn<OxBytes>("message");
    QTest::addColumn<bool>("active");
    QTest::addColumn<QStringList>("viewers"); // "id/flags/name"
    QTest::addColumn<bool>("overrun");

    QTest::newRow("active byte only") << fromHex("0200000001000000 01") << true << QStringList() << false;
    QTest::newRow("two viewers")
        << fromHex("0200000017000000 00 00000000 0000 41004200 0000 07000000 0300 63000000")
        << false << QStringList{"0/0/AB", "7/3/c"} << false;
    QTest::newRow("last name without its zero")
        << fromHex("0200000015000000 01 00000000 0000 41000000 05000000 0100 4200 4300")
        << true << QStringList{"0/0/A", "5/1/"} << true;
    QTest::newRow("lone surrogate gives an empty name")
        << fromHex("020000000b000000 01 09000000 0000 00d8 0000") << true << QStringList{"9/0/"} << false;
    QTest::newRow("trailing bytes shorter than an entry")
        << fromHex("0200000008000000 01 01020304 050607") << true << QStringList() << false;
}

void TestOxWire::serverStatus()
{
    QFETCH(OxBytes, message);
    QFETCH(bool, active);
    QFETCH(QStringList, viewers);
    QFETCH(bool, overrun);

    OxPduReader reader;
    QVERIFY(reader.open(message));
    QCOMPARE(reader.type(), uint16_t(oxshare::ServerStatus));
    oxshare::Status status;
    QVERIFY(oxshare::decodeServerStatus(reader, status));
    QCOMPARE(status.active, active);
    QCOMPARE(status.nameOverrun, overrun);
    QStringList read;
    for (const auto &e : status.entries)
        read << QStringLiteral("%1/%2/%3").arg(e.id).arg(e.flags).arg(QString::fromStdString(e.name));
    QCOMPARE(read, viewers);
}

void TestOxWire::roundTrips()
{
    oxshare::Status status;
    status.active = true;
    status.entries = {{0, 0, "owner"}, {12, oxshare::ControlFlags, "J\xc3\xbcrgen \xf0\x9f\x98\x80"}};
    OxBytes message = oxshare::encodeServerStatus(status);
    OxPduReader reader;
    QVERIFY(reader.open(message));
    oxshare::Status back;
    QVERIFY(oxshare::decodeServerStatus(reader, back));
    QCOMPARE(back.entries.size(), size_t(2));
    QCOMPARE(back.entries[1].name, status.entries[1].name);
    QCOMPARE(back.entries[1].flags, oxshare::ControlFlags);

    std::string key;
    message = oxshare::encodeStartSharing("eyJrZXkiOjF9\xe2\x82\xac");
    QVERIFY(reader.open(message));
    QVERIFY(oxshare::decodeStartSharing(reader, key));
    QCOMPARE(key, std::string("eyJrZXkiOjF9\xe2\x82\xac"));

    // Broken UTF-8 goes out as U+FFFD rather than as garbage.
    message = oxshare::encodeStartSharing("a\xff");
    QVERIFY(reader.open(message));
    QVERIFY(oxshare::decodeStartSharing(reader, key));
    QCOMPARE(key, std::string("a\xef\xbf\xbd"));

    message = oxcfg::encodeText(oxcfg::SetOptionsRequest, "{\"FPSLimit\":30}");
    QVERIFY(reader.open(message));
    QCOMPARE(oxcfg::decodeText(reader), std::string("{\"FPSLimit\":30}"));
}

void TestOxWire::shortMessagesAreRefused_data()
{
    QTest::addColumn<OxBytes>("message");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<bool>("decodes");

    QTest::newRow("seven bytes") << fromHex("01000000040000") << false << false;
    QTest::newRow("size request without height") << fromHex("0100000004000000 0005") << true << false;
    QTest::newRow("length field lies, body is what arrived") << fromHex("01000000ff000000 00052003") << true << true;
}

void TestOxWire::shortMessagesAreRefused()
{
    QFETCH(OxBytes, message);
    QFETCH(bool, opens);
    QFETCH(bool, decodes);
    OxPduReader reader;
    QCOMPARE(reader.open(message), opens);
    uint16_t w = 0, h = 0;
    QCOMPARE(opens && oxdesk::decodeSize(reader, w, h), decodes);
    if (decodes)
        QCOMPARE(QSize(w, h), QSize(1280, 800));
}

QTEST_GUILESS_MAIN(TestOxWire)
#include "tst_oxwire.moc"
