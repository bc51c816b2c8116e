#include "rdp/rdpchannelprovider.h"
#include "rdp/rdpsettings.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <freerdp/addin.h>

// The settings a connection hands to FreeRDP, read back the way FreeRDP reads them.
class TestRdpSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void desktopSizeForGeometry_data();
    void desktopSizeForGeometry();
    void geometryModeReachesSettings();

    void addressing_data();
    void addressing();
    void commonSettings();
    void rootlessAndFullscreen();

    void zoomForScalingFactor_data();
    void zoomForScalingFactor();
    void storedZoom();

    void exitCodes_data();
    void exitCodes();

    void channelProvider();

private:
    static RdpConnectOptions options();

    QTemporaryDir settingsDir;
    rdpSettings *settings = nullptr;
};

void TestRdpSettings::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    QCoreApplication::setOrganizationName(QStringLiteral("Ostrane Rodorivezozoru"));
    QCoreApplication::setApplicationName(QStringLiteral("Nuvek"));
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
}

void TestRdpSettings::cleanup()
{
    if (settings)
        freerdp_settings_free(settings);
    settings = nullptr;
}

RdpConnectOptions TestRdpSettings::options()
{
    RdpConnectOptions o;
    o.host = QStringLiteral("server.example");
    o.port = 3389;
    o.user = QStringLiteral("jo");
    o.password = QStringLiteral("s3cret");
    o.mode = QStringLiteral("1280x1024");
    o.title = QStringLiteral("Desk");
    o.keyboardLayout = 0x407;
    o.remoteDesktopSize = QSize(1920, 1080);
    return o;
}

void TestRdpSettings::desktopSizeForGeometry_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QSize>("size");
    QTest::newRow("geometry") << "1280x1024" << QSize(1280, 1024);
    QTest::newRow("no x") << "1280" << QSize(1024, 768);
    QTest::newRow("nothing after x") << "800x" << QSize(1024, 768);
    QTest::newRow("nothing before x") << "x600" << QSize(1024, 768);
    QTest::newRow("empty") << "" << QSize(1024, 768);
    QTest::newRow("zero width") << "0x600" << QSize(1024, 600);
    QTest::newRow("zero height") << "640x0" << QSize(640, 768);
    QTest::newRow("not numbers") << "axb" << QSize(1024, 768);
    QTest::newRow("three parts") << "1x2x3" << QSize(1024, 768);
    QTest::newRow("negative") << "-5x600" << QSize(1024, 600);
}

void TestRdpSettings::desktopSizeForGeometry()
{
    QFETCH(QString, mode);
    QFETCH(QSize, size);
    QCOMPARE(rdpDesktopSizeForGeometry(mode), size);
}

void TestRdpSettings::geometryModeReachesSettings()
{
    settings = freerdp_settings_new(0);
    QVERIFY(settings);
    RdpConnectOptions o = options();
    o.mode = QStringLiteral("0x600");
    QVERIFY(applyRdpSettings(settings, o));
    QCOMPARE(freerdp_settings_get_uint32(settings, FreeRDP_DesktopWidth), 1024u);
    QCOMPARE(freerdp_settings_get_uint32(settings, FreeRDP_DesktopHeight), 600u);
    QCOMPARE(QString::fromUtf8(freerdp_settings_get_string(settings, FreeRDP_WindowTitle)),
             QStringLiteral("Desk"));
    QVERIFY(!freerdp_settings_get_bool(settings, FreeRDP_Fullscreen));
    QVERIFY(!freerdp_settings_get_bool(settings, FreeRDP_RemoteApplicationMode));
}

void TestRdpSettings::addressing_data()
{
    QTest::addColumn<bool>("direct");
    QTest::addColumn<int>("tunnelPort");
    QTest::addColumn<QString>("serverHost");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<bool>("proxy");

    QTest::newRow("tunnelled") << false << 41000 << "127.0.0.1" << false << true;
    QTest::newRow("direct") << true << 0 << "server.example" << true << false;
    QTest::newRow("direct wins over tunnel") << true << 41000 << "server.example" << true
                                             << false;
    QTest::newRow("plain") << false << 0 << "server.example" << false << false;
}

void TestRdpSettings::addressing()
{
    QFETCH(bool, direct);
    QFETCH(int, tunnelPort);
    QFETCH(QString, serverHost);
    QFETCH(bool, tls);
    QFETCH(bool, proxy);

    settings = freerdp_settings_new(0);
    QVERIFY(settings);
    RdpConnectOptions o = options();
    o.direct = direct;
    o.tunnelPort = quint16(tunnelPort);
    QVERIFY(applyRdpSettings(settings, o));

    QCOMPARE(QString::fromUtf8(freerdp_settings_get_string(settings, FreeRDP_ServerHostname)),
             serverHost);
    QCOMPARE(freerdp_settings_get_uint32(settings, FreeRDP_ServerPort), 3389u);
    QCOMPARE(bool(freerdp_settings_get_bool(settings, FreeRDP_TlsSecurity)), tls);
    QVERIFY(freerdp_settings_get_bool(settings, FreeRDP_RdpSecurity));
    QVERIFY(!freerdp_settings_get_bool(settings, FreeRDP_NlaSecurity));
    if (proxy) {
        QCOMPARE(freerdp_settings_get_uint32(settings, FreeRDP_ProxyType),
                 quint32(PROXY_TYPE_SOCKS));
        QCOMPARE(QString::fromUtf8(freerdp_settings_get_string(settings, FreeRDP_ProxyHostname)),
                 QStringLiteral("localhost"));
        QCOMPARE(int(freerdp_settings_get_uint16(settings, FreeRDP_ProxyPort)), tunnelPort);
    } else {
        QCOMPARE(freerdp_settings_get_uint32(settings, FreeRDP_ProxyType),
                 quint32(PROXY_TYPE_NONE));
    }
    QCOMPARE(QString::fromUtf8(freerdp_settings_get_string(settings, FreeRDP_Username)),
             QStringLiteral("jo"));
    QCOMPARE(QString::fromUtf8(freerdp_settings_get_string(settings, FreeRDP_Password)),
             QStringLiteral("s3cret"));
}

void TestRdpSettings::commonSettings()
{
    settings = freerdp_settings_new(0);
    QVERIFY(settings);
    QVERIFY(applyRdpSettings(settings, options()));
    QCOMPARE(freerdp_settings_get_uint32(settings, FreeRDP_OsMajorType), 1u);
    QCOMPARE(freerdp_settings_get_uint32(settings, FreeRDP_OsMinorType), 3u);
    QVERIFY(!freerdp_settings_get_bool(settings, FreeRDP_ExtSecurity));
    QVERIFY(freerdp_settings_get_bool(settings, FreeRDP_UseRdpSecurityLayer));
    QVERIFY(freerdp_settings_get_bool(settings, FreeRDP_SoftwareGdi));
    QVERIFY(freerdp_settings_get_bool(settings, FreeRDP_RemoteFxCodec));
    QVERIFY(freerdp_settings_get_bool(settings, FreeRDP_FastPathOutput));
    QCOMPARE(freerdp_settings_get_uint32(settings, FreeRDP_ColorDepth), 32u);
    QCOMPARE(freerdp_settings_get_uint32(settings, FreeRDP_LargePointerFlag), 1u);
    QVERIFY(freerdp_settings_get_bool(settings, FreeRDP_FrameMarkerCommandEnabled));
    QCOMPARE(freerdp_settings_get_uint32(settings, FreeRDP_KeyboardLayout), 0x407u);
    QVERIFY(freerdp_settings_get_bool(settings, FreeRDP_RedirectClipboard));
}

void TestRdpSettings::rootlessAndFullscreen()
{
    settings = freerdp_settings_new(0);
    QVERIFY(settings);
    RdpConnectOptions o = options();
    o.mode = QStringLiteral("rootless");
    QVERIFY(applyRdpSettings(settings, o));
    QCOMPARE(freerdp_settings_get_uint32(settings, FreeRDP_DesktopWidth), 1920u);
    QCOMPARE(freerdp_settings_get_uint32(settings, FreeRDP_DesktopHeight), 1080u);
    QVERIFY(freerdp_settings_get_bool(settings, FreeRDP_RemoteApplicationMode));
    QCOMPARE(QString::fromUtf8(
                 freerdp_settings_get_string(settings, FreeRDP_RemoteApplicationProgram)),
             QStringLiteral("nothing"));
    QVERIFY(freerdp_settings_get_bool(settings, FreeRDP_RemoteAppLanguageBarSupported));
    QVERIFY(freerdp_settings_get_bool(settings, FreeRDP_Workarea));
    QVERIFY(freerdp_settings_get_bool(settings, FreeRDP_DisableWallpaper));
    QVERIFY(freerdp_settings_get_bool(settings, FreeRDP_DisableFullWindowDrag));
    QVERIFY(!freerdp_settings_get_bool(settings, FreeRDP_Fullscreen));
    QVERIFY(!freerdp_settings_get_string(settings, FreeRDP_WindowTitle));

    freerdp_settings_free(settings);
    settings = freerdp_settings_new(0);
    QVERIFY(settings);
    o.mode = QStringLiteral("fullscreen");
    QVERIFY(applyRdpSettings(settings, o));
    QVERIFY(freerdp_settings_get_bool(settings, FreeRDP_Fullscreen));
    QVERIFY(!freerdp_settings_get_bool(settings, FreeRDP_RemoteApplicationMode));
    QCOMPARE(freerdp_settings_get_uint32(settings, FreeRDP_DesktopWidth), 1920u);
    QCOMPARE(freerdp_settings_get_uint32(settings, FreeRDP_DesktopHeight), 1080u);
    QCOMPARE(QString::fromUtf8(freerdp_settings_get_string(settings, FreeRDP_WindowTitle)),
             QStringLiteral("Desk"));
}

void TestRdpSettings::zoomForScalingFactor_data()
{
    QTest::addColumn<double>("factor");
    QTest::addColumn<double>("localToRemote");
    QTest::addColumn<double>("remoteToLocal");
    QTest::newRow("half") << 0.5 << 0.5 << 2.0;
    QTest::newRow("double") << 2.0 << 2.0 << 0.5;
    QTest::newRow("one") << 1.0 << 1.0 << 1.0;
    QTest::newRow("one and a half") << 1.5 << 1.0 << 1.0;
    QTest::newRow("zero") << 0.0 << 1.0 << 1.0;
    QTest::newRow("negative") << -2.0 << 1.0 << 1.0;
}

void TestRdpSettings::zoomForScalingFactor()
{
    QFETCH(double, factor);
    QFETCH(double, localToRemote);
    QFETCH(double, remoteToLocal);
    const RdpZoom zoom = rdpZoomForScalingFactor(factor);
    QCOMPARE(zoom.localToRemote, localToRemote);
    QCOMPARE(zoom.remoteToLocal, remoteToLocal);
}

void TestRdpSettings::storedZoom()
{
    {
        QSettings s;
        s.setValue(QStringLiteral("abc-Settings/ScalingFactor"), 2.0);
        s.setValue(QStringLiteral("odd-Settings/ScalingFactor"), 1.5);
        s.setValue(QStringLiteral("text-Settings/ScalingFactor"), QStringLiteral("big"));
    }
    QCOMPARE(rdpStoredZoom(QStringLiteral("abc")).remoteToLocal, 0.5);
    QCOMPARE(rdpStoredZoom(QStringLiteral("odd")).remoteToLocal, 1.0);
    QCOMPARE(rdpStoredZoom(QStringLiteral("text")).remoteToLocal, 1.0);
    QCOMPARE(rdpStoredZoom(QStringLiteral("missing")).localToRemote, 1.0);
}

void TestRdpSettings::exitCodes_data()
{
    QTest::addColumn<quint32>("reason");
    QTest::addColumn<int>("code");
    QTest::newRow("quit") << 0u << 0;
    QTest::newRow("server disconnect") << 1u << 1;
    QTest::newRow("logoff") << 12u << 12;
    QTest::newRow("just above the server range") << 13u << 255;
    QTest::newRow("refused") << 131u << 131;
    QTest::newRow("128") << 128u << 128;
    QTest::newRow("132") << 132u << 255;
    QTest::newRow("first licensing error") << 256u << 16;
    QTest::newRow("last licensing error") << 266u << 26;
    QTest::newRow("protocol error low") << 4297u << 32;
    QTest::newRow("protocol error high") << 4499u << 32;
    QTest::newRow("past protocol errors") << 4500u << 255;
    QTest::newRow("wait failed") << 255u << 255;
    QTest::newRow("huge") << 0xFFFFFFFFu << 255;
}

void TestRdpSettings::exitCodes()
{
    QFETCH(quint32, reason);
    QFETCH(int, code);
    QCOMPARE(rdpExitCodeForReason(reason), code);
    // Callers tell 0, 1 and 131 apart from the rest: licensing errors must not look like them.
    if (reason >= 256 && reason <= 266)
        QVERIFY(code != 0 && code != 1 && code != 131);
}

void TestRdpSettings::channelProvider()
{
    QVERIFY(rdpChannelProvider("cliprdr", nullptr, nullptr, FREERDP_ADDIN_CHANNEL_STATIC)
            || rdpChannelProvider("cliprdr", nullptr, nullptr,
                                  FREERDP_ADDIN_CHANNEL_STATIC | FREERDP_ADDIN_CHANNEL_ENTRYEX));
    QVERIFY(rdpChannelProvider("rail", nullptr, nullptr, FREERDP_ADDIN_CHANNEL_STATIC)
            || rdpChannelProvider("rail", nullptr, nullptr,
                                  FREERDP_ADDIN_CHANNEL_STATIC | FREERDP_ADDIN_CHANNEL_ENTRYEX));
    QVERIFY(isOwnRdpChannel("oxdesk"));
    QVERIFY(isOwnRdpChannel("oxcfg"));
    QVERIFY(!isOwnRdpChannel("cliprdr"));
    QVERIFY(!isOwnRdpChannel(nullptr));
    // Our clients have only the extended entry point; FreeRDP must never take it for a plain one.
    QVERIFY(rdpChannelProvider("oxshare", nullptr, nullptr,
                               FREERDP_ADDIN_CHANNEL_STATIC | FREERDP_ADDIN_CHANNEL_ENTRYEX));
    QVERIFY(!rdpChannelProvider("oxshare", nullptr, nullptr, FREERDP_ADDIN_CHANNEL_STATIC));
}

QTEST_GUILESS_MAIN(TestRdpSettings)
#include "tst_rdpsettings.moc"
