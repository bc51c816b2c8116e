#include "rdp/rdpkeyboard.h"
#include "rdp/rdpmouse.h"
#include "rdp/rdppointer.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

class TestRdpInput : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void buttonFlags_data();
    void buttonFlags();
    void wheelFlags_data();
    void wheelFlags();
    void mouseCoordinates();
    void scanCodesFromFreeRdpTable_data();
    void scanCodesFromFreeRdpTable();
    void scanCodeRules_data();
    void scanCodeRules();
    void keyStrokes_data();
    void keyStrokes();
    void lockFlagsWithoutDisplay();
    void lockFlagsFromX();
    void pointerImage();
    void pointerImageRejectsBadShapes();
};

void TestRdpInput::initTestCase()
{
    QCOMPARE(initRdpKeyboard(0x409), quint32(0x409));
}

void TestRdpInput::buttonFlags_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("flags");
    QTest::newRow("left") << int(Qt::LeftButton) << 0x1000;
    QTest::newRow("right") << int(Qt::RightButton) << 0x2000;
    QTest::newRow("middle") << int(Qt::MiddleButton) << 0x4000;
    QTest::newRow("back") << int(Qt::BackButton) << 0;
    QTest::newRow("none") << int(Qt::NoButton) << 0;
}

void TestRdpInput::buttonFlags()
{
    QFETCH(int, button);
    QFETCH(int, flags);
    QCOMPARE(int(rdpMouseButtonFlags(Qt::MouseButton(button))), flags);
}

void TestRdpInput::wheelFlags_data()
{
    QTest::addColumn<int>("delta");
    QTest::addColumn<int>("flags");
    QTest::newRow("two notches down") << -240 << 0x3FE;
    QTest::newRow("one notch down") << -120 << 0x3FF;
    QTest::newRow("one notch up") << 120 << 0x201;
    QTest::newRow("two notches up") << 240 << 0x202;
    QTest::newRow("half a notch up") << 60 << 0;
    QTest::newRow("half a notch down") << -60 << 0;
    QTest::newRow("one and a half notches truncated") << -180 << 0x3FF;
    QTest::newRow("no rotation") << 0 << 0;
    // More notches than the rotation field holds must not wrap into the other direction.
    QTest::newRow("300 notches up") << 300 * 120 << 0x2FF;
    QTest::newRow("300 notches down") << -300 * 120 << 0x301;
    QTest::newRow("256 notches up") << 256 * 120 << 0x2FF;
}

void TestRdpInput::wheelFlags()
{
    QFETCH(int, delta);
    QFETCH(int, flags);
    QCOMPARE(int(rdpWheelFlags(delta)), flags);
}

void TestRdpInput::mouseCoordinates()
{
    QCOMPARE(rdpMouseCoordinate(-5), quint16(0));
    QCOMPARE(rdpMouseCoordinate(0), quint16(0));
    QCOMPARE(rdpMouseCoordinate(1023), quint16(1023));
    QCOMPARE(rdpMouseCoordinate(70000), quint16(65535));
}

void TestRdpInput::scanCodesFromFreeRdpTable_data()
{
    QTest::addColumn<quint32>("keyCode");
    QTest::addColumn<quint32>("scanCode");
    QTest::newRow("Escape") << 9u << 0x01u;
    QTest::newRow("Return") << 36u << 0x1Cu;
    QTest::newRow("left Shift") << 50u << 0x2Au;
    QTest::newRow("right Control") << 105u << 0x11Du;
    QTest::newRow("AltGr") << 108u << 0x138u;
    QTest::newRow("left Windows") << 133u << 0x15Bu;
    QTest::newRow("no key") << 0u << 0u;
    // Past the end of FreeRDP's 256-entry table.
    QTest::newRow("key code 300") << 300u << 0u;
    QTest::newRow("huge key code") << 0xFFFFFFFFu << 0u;
}

void TestRdpInput::scanCodesFromFreeRdpTable()
{
    QFETCH(quint32, keyCode);
    QFETCH(quint32, scanCode);
    QCOMPARE(rdpScanCodeFromX11KeyCode(keyCode), scanCode);
}

void TestRdpInput::scanCodeRules_data()
{
    QTest::addColumn<quint32>("scanCode");
    QTest::addColumn<quint32>("sent");
    QTest::newRow("Num Lock loses the extended bit") << 0x145u << 0x45u;
    QTest::newRow("right Shift loses the extended bit") << 0x136u << 0x36u;
    QTest::newRow("left Control is sent") << 0x1Du << 0x1Du;
    QTest::newRow("right Control keeps the extended bit") << 0x11Du << 0x11Du;
    QTest::newRow("AltGr is right Alt") << 0x138u << 0x138u;
    QTest::newRow("nothing stays nothing") << 0u << 0u;
}

void TestRdpInput::scanCodeRules()
{
    QFETCH(quint32, scanCode);
    QFETCH(quint32, sent);
    QCOMPARE(rdpScanCodeToSend(scanCode), sent);
}

void TestRdpInput::keyStrokes_data()
{
    QTest::addColumn<quint32>("keyCode");
    QTest::addColumn<bool>("down");
    QTest::addColumn<bool>("autoRepeat");
    QTest::addColumn<QVector<int>>("strokes"); // flags, code pairs

    QTest::newRow("Escape down") << 9u << true << false << QVector<int>{0x4000, 0x01};
    QTest::newRow("Escape up") << 9u << false << false << QVector<int>{0x8000, 0x01};
    QTest::newRow("AltGr down is right Alt only")
        << 108u << true << false << QVector<int>{0x4100, 0x38};
    QTest::newRow("left Control down is sent") << 37u << true << false
                                               << QVector<int>{0x4000, 0x1D};
    QTest::newRow("right Control up") << 105u << false << false << QVector<int>{0x8100, 0x1D};
    QTest::newRow("right Shift without extended flag")
        << 62u << true << false << QVector<int>{0x4000, 0x36};
    QTest::newRow("Num Lock without extended flag")
        << 77u << true << false << QVector<int>{0x4000, 0x45};
    QTest::newRow("left Windows") << 133u << true << false << QVector<int>{0x4100, 0x5B};
    QTest::newRow("repeated press is sent") << 38u << true << true << QVector<int>{0x4000, 0x1E};
    QTest::newRow("repeated release is dropped") << 38u << false << true << QVector<int>{};
    QTest::newRow("unknown key sends nothing") << 300u << true << false << QVector<int>{};
}

void TestRdpInput::keyStrokes()
{
    QFETCH(quint32, keyCode);
    QFETCH(bool, down);
    QFETCH(bool, autoRepeat);
    QFETCH(QVector<int>, strokes);
    QVector<int> actual;
    for (const RdpKeyStroke &stroke : rdpKeyStrokesForX11Key(keyCode, down, autoRepeat))
        actual << stroke.flags << stroke.code;
    QCOMPARE(actual, strokes);
}

void TestRdpInput::lockFlagsWithoutDisplay()
{
    // The test runs on the offscreen platform: no X display is asked.
    QCOMPARE(localLockFlags(), 0u);
    QCOMPARE(x11LockFlags(QByteArray()), 0u);
    QCOMPARE(x11LockFlags(":4711"), 0u);
}

void TestRdpInput::lockFlagsFromX()
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        QSKIP("Xvfb is needed");

    // Xvfb picks a free display and writes its number to standard output.
    QProcess server;
    server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"),
                        QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                        QStringLiteral("-screen"), QStringLiteral("0"),
                        QStringLiteral("320x200x24")});
    QVERIFY(server.waitForStarted());
    QByteArray number;
    QTRY_VERIFY_WITH_TIMEOUT((number += server.readAllStandardOutput()).contains('\n'), 10000);
    const QByteArray display = ':' + number.trimmed();

    // A fresh server starts with every lock off; asking twice shows the display is released.
    QCOMPARE(x11LockFlags(display), 0u);
    QCOMPARE(x11LockFlags(display), 0u);

    server.terminate();
    QVERIFY(server.waitForFinished(10000));
}

// A 2 × 2 pointer with 32-bit colours; FreeRDP's rows are stored bottom up.
void TestRdpInput::pointerImage()
{
    const quint32 xorBottomUp[] = {0xFF0000FF, 0xFF00FF00, 0xFFFF0000, 0x80FFFFFF};
    const quint8 andMask[] = {0, 0, 0, 0, 0, 0, 0, 0};
    rdpPointer pointer = {};
    pointer.width = 2;
    pointer.height = 2;
    pointer.xorBpp = 32;
    pointer.xorMaskData = const_cast<BYTE *>(reinterpret_cast<const BYTE *>(xorBottomUp));
    pointer.lengthXorMask = sizeof xorBottomUp;
    pointer.andMaskData = const_cast<BYTE *>(andMask);
    pointer.lengthAndMask = sizeof andMask;

    const QImage image = rdpPointerImage(&pointer);
    QCOMPARE(image.size(), QSize(2, 2));
    QCOMPARE(image.format(), QImage::Format_ARGB32);
    QCOMPARE(image.pixel(0, 0), 0xFFFF0000u);
    QCOMPARE(image.pixel(1, 0), 0x80FFFFFFu);
    QCOMPARE(image.pixel(0, 1), 0xFF0000FFu);
    QCOMPARE(image.pixel(1, 1), 0xFF00FF00u);
}

void TestRdpInput::pointerImageRejectsBadShapes()
{
    quint32 colours[4] = {};
    rdpPointer pointer = {};
    pointer.width = 2;
    pointer.height = 2;
    pointer.xorBpp = 32;
    pointer.xorMaskData = reinterpret_cast<BYTE *>(colours);
    pointer.lengthXorMask = 3; // shorter than the shape needs
    QVERIFY(rdpPointerImage(&pointer).isNull());

    pointer.lengthXorMask = sizeof colours;
    pointer.width = 0;
    QVERIFY(rdpPointerImage(&pointer).isNull());
    pointer.width = 100000;
    QVERIFY(rdpPointerImage(&pointer).isNull());
}

QTEST_MAIN(TestRdpInput)
#include "tst_rdpinput.moc"
