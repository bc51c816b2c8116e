// Rules of the display path that need no server: odd input, sizes and codes.

#include "rdp/rdpkeyboard.h"
#include "rdp/rdpmouse.h"
#include "rdp/rdpsettings.h"

#include <QtTest>

class TestRdpRules : public QObject
{
    Q_OBJECT

private slots:
    void wheelFlags_data()
    {
        QTest::addColumn<int>("delta");
        QTest::addColumn<int>("flags");
        QTest::newRow("one notch down") << -120 << 0x3FF;
        // More notches than the rotation field holds must not wrap into the other direction.
        QTest::newRow("300 notches up") << 300 * 120 << 0x2FF;
        QTest::newRow("300 notches down") << -300 * 120 << 0x301;
    }

    void wheelFlags()
    {
        QFETCH(int, delta);
        QTEST(int(rdpWheelFlags(delta)), "flags");
    }

    void keyStrokes_data()
    {
        QTest::addColumn<quint32>("keyCode");
        QTest::addColumn<bool>("down");
        QTest::addColumn<bool>("autoRepeat");
        QTest::addColumn<QVector<int>>("strokes"); // flags, code pairs
        QTest::newRow("AltGr is right Alt only") << 108u << true << false << QVector<int>{0x4100, 0x38};
        QTest::newRow("repeated release is dropped") << 38u << false << true << QVector<int>{};
        // Past the end of FreeRDP's 256-entry table.
        QTest::newRow("key code 300") << 300u << true << false << QVector<int>{};
        QTest::newRow("huge key code") << 0xFFFFFFFFu << true << false << QVector<int>{};
    }

    void keyStrokes()
    {
        QFETCH(quint32, keyCode);
        QFETCH(bool, down);
        QFETCH(bool, autoRepeat);
        QFETCH(QVector<int>, strokes);
        QCOMPARE(initRdpKeyboard(0x409), quint32(0x409));
        QVector<int> actual;
        for (const RdpKeyStroke &stroke : rdpKeyStrokesForX11Key(keyCode, down, autoRepeat))
            actual << stroke.flags << stroke.code;
        QCOMPARE(actual, strokes);
    }

    void desktopSizeForGeometry_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QSize>("size");
        QTest::newRow("zero width") << "0x600" << QSize(1024, 600);
        QTest::newRow("negative") << "-5x600" << QSize(1024, 600);
        QTest::newRow("not numbers") << "axb" << QSize(1024, 768);
    }

    void desktopSizeForGeometry()
    {
        QFETCH(QString, mode);
        QTEST(rdpDesktopSizeForGeometry(mode), "size");
    }


};

QTEST_MAIN(TestRdpRules)
#include "tst_rdprules.moc"
