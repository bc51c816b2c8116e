#include "channels/oxcfg/oxcfg_main.h"
#include "rdp/rdpsettings.h"
#include "windows/rdpmainwidget.h"
#include "windows/rdpoptionsdialog.h"

#include "support/testsupport.h"
#include "support/fakerdpsession.h"

#include <QGroupBox>
#include <QLabel>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QStringList sent; // what the dialog handed to the options channel
UINT recordOptions(OxcfgClientContext *, const char *text) { sent << QString::fromUtf8(text); return CHANNEL_RC_OK; }

// Manual mode, compression 1, 30 fps, a window of 5 frames, maxima 3 and 60.
const QString report = QStringLiteral(R"({"BandwidthThrottleAdjust":false,"Compression":1,"FPSLimit":30,)"
                                      R"("FrameAcknowledgeWindow":5,"CompressionMax":3,"FPSLimitMax":60})");
} // namespace

class TestRdpOptionsDialog : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        prepareClientEnvironment(settingsDir.path());
        QSettings().clear();
        freerdp_settings_set_uint32(remoteSettings.get(), FreeRDP_DesktopWidth, 800);
        freerdp_settings_set_uint32(remoteSettings.get(), FreeRDP_DesktopHeight, 600);
        sent.clear();
        session = std::make_unique<FakeRdpSession>();
        session->context.oxcfgClient = &oxcfg;
        session->context.common.context.settings = remoteSettings.get();
    }

    // What the server reports (or the session's zoom), where the slider shows it, its label, and
    // what a user's move there does: the value sent, or the zoom's local-to-remote factor.
    void sliders_data()
    {
        QTest::addColumn<QString>("report");
        QTest::addColumn<QString>("slider");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<double>("effect");
        const char *const quality[] = {"Very Low", "Lower", "Medium", "Higher", "Highest"};
        for (int p = 0; p <= 4; ++p) // a server offering compression levels 0 to 4
            QTest::addRow("quality %d", p) << QString(R"({"CompressionMax":4,"Compression":%1})").arg(4 - p)
                                           << "Quality" << p << QString("Image Quality: ") + quality[p] << 4.0 - p;
        const QString window = R"({"FrameAcknowledgeWindow":%1})";
        QTest::newRow("window off") << window.arg(0) << "FrameAck" << 0 << "Frame Window: Off" << 0.0;
        QTest::newRow("largest window") << window.arg(60) << "FrameAck" << 1 << "Frame Window: 60 frames" << 60.0;
        QTest::newRow("one frame") << window.arg(1) << "FrameAck" << 60 << "Frame Window: 1 frames" << 1.0;
        QTest::newRow("window over the maximum") << window.arg(100) << "FrameAck" << 1 << "Frame Window: 60 frames" << 60.0;
        QTest::newRow("zoom 2x") << "{}" << "Scale" << 0 << "Zoom: 2x" << 0.5;
        QTest::newRow("zoom 1x") << "{}" << "Scale" << 1 << "Zoom: 1x" << 1.0;
        QTest::newRow("zoom 0.5x") << "{}" << "Scale" << 2 << "Zoom: 0.5x" << 2.0;
    }
    void sliders()
    {
        QFETCH(QString, report);
        QFETCH(QString, slider);
        QFETCH(int, position);
        QFETCH(QString, shown);
        QFETCH(double, effect);
        RdpMainWidget window(&session->context);
        window.setDesktopWidget(new QWidget);
        session->context.mainWidget = &window;
        if (slider == "Scale") // the zoom the session starts with
            session->setZoom(1.0 / effect);
        RdpOptionsDialog dialog(&session->context, "h", "s");
        dialog.handleOptionsUpdated(R"({"BandwidthThrottleAdjust":false})");
        dialog.handleOptionsUpdated(report);
        auto *control = dialog.findChild<QSlider *>(slider + "Slider");
        QCOMPARE(control->value(), position);
        QCOMPARE(dialog.findChild<QLabel *>(slider == "Quality" ? "CompressionLabel" : slider + "Label")->text(), shown);
        control->setSliderPosition(position ? 0 : 1);
        control->setSliderPosition(position);
        if (slider == "Scale") {
            QCOMPARE(session->context.localToRemoteScale, effect);
            QCOMPARE(window.desktopWidget()->size(), QSize(800, 600) / effect);
            QCOMPARE(rdpStoredZoom("s").localToRemote, effect);
        } else {
            const QJsonObject options = QJsonDocument::fromJson(sent.value(sent.size() - 1).toUtf8()).object();
            QCOMPARE(options.value(slider == "Quality" ? "Compression" : "FrameAcknowledgeWindow").toDouble(-1), effect);
        }
    }

    void userClicksSendAndErrorsRestore()
    {
        RdpOptionsDialog dialog(&session->context, "h", "s");
        dialog.handleOptionsUpdated(report);
        QVERIFY(sent.isEmpty()); // the report turned the box on: nothing goes back
        QTest::keyClick(dialog.findChild<QGroupBox *>("UpdateBox"), Qt::Key_Space);
        QCOMPARE(sent.last(), R"({"BandwidthThrottleAdjust":true,"FrameAcknowledgeWindow":5})");
        QTest::keyClick(dialog.findChild<QGroupBox *>("UpdateBox"), Qt::Key_Space);
        QCOMPARE(sent.last(), R"({"BandwidthThrottleAdjust":false,"Compression":1,"FPSLimit":30,"FrameAcknowledgeWindow":5})");
        auto *quality = dialog.findChild<QSlider *>("QualitySlider");
        quality->setSliderPosition(0);
        dialog.handleSetOptionsResponse(R"({"success":true})");
        QCOMPARE(quality->value(), 0);
        dialog.handleSetOptionsResponse(R"({"error":"refused"})"); // back to what the server holds
        QCOMPARE(quality->value(), 2);
        QCOMPARE(sent.size(), 3);
    }

    // The user's choice in one connection (20 fps), and the first two reports of the next one.
    void savedValues_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("nextReport");
        QTest::addColumn<QString>("pushed");
        QTest::newRow("differs") << "h" << report
                                 << R"({"BandwidthThrottleAdjust":false,"Compression":1,"FPSLimit":20,"FrameAcknowledgeWindow":5})";
        QTest::newRow("equal") << "h" << QString(report).replace(":30", ":20") << "";
        QTest::newRow("other quality maximum") << "h" << QString(report).replace("Max\":3", "Max\":4") << "";
        QTest::newRow("other rate maximum") << "h" << QString(report).replace(":60", ":50") << "";
        QTest::newRow("no host") << "" << report << "";
    }
    void savedValues()
    {
        QFETCH(QString, host);
        QFETCH(QString, nextReport);
        QFETCH(QString, pushed);
        RdpOptionsDialog first(&session->context, host, QString());
        first.handleOptionsUpdated(report);
        first.findChild<QSlider *>("FpsSlider")->setSliderPosition(20);
        first.findChild<QSlider *>("ScaleSlider")->setSliderPosition(0); // rootless, no windows yet
        QCOMPARE(QSettings().allKeys().isEmpty(), host.isEmpty());
        sent.clear();
        RdpOptionsDialog next(&session->context, host, "s");
        next.handleOptionsUpdated(nextReport);
        next.handleOptionsUpdated(nextReport);
        QCOMPARE(sent, pushed.isEmpty() ? QStringList() : QStringList{pushed});
    }

private:
    QTemporaryDir settingsDir;
    std::unique_ptr<rdpSettings, void (*)(rdpSettings *)> remoteSettings{freerdp_settings_new(0), freerdp_settings_free};
    OxcfgClientContext oxcfg{nullptr, nullptr, nullptr, recordOptions, nullptr};
    std::unique_ptr<FakeRdpSession> session;
};

QTEST_MAIN(TestRdpOptionsDialog)
#include "tst_rdpoptionsdialog.moc"
