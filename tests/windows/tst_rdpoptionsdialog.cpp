#include "channels/oxcfg/oxcfg_main.h"
#include "rdp/rdpsettings.h"
#include "windows/rdpmainwidget.h"
#include "windows/rdpoptionsdialog.h"

#include "support/clientenvironment.h"
#include "support/fakerdpsession.h"

#include <QGroupBox>
#include <QLabel>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QStringList sent; // what the dialog handed to the options channel

UINT recordOptions(OxcfgClientContext *, const char *text)
{
    sent << QString::fromUtf8(text);
    return CHANNEL_RC_OK;
}

// Manual mode, compression 1, 30 fps, a window of 5 frames, maxima 3 and 60.
const char *const serverReport = R"({"BandwidthThrottleAdjust":false,"Compression":1,"FPSLimit":30,)"
                                 R"("FrameAcknowledgeWindow":5,"CompressionMax":3,"FPSLimitMax":60})";

} // namespace

class TestRdpOptionsDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(settingsDir.isValid()); prepareClientEnvironment(settingsDir.path()); }
    void init()
    {
        QSettings().clear();
        sent.clear();
        session = std::make_unique<FakeRdpSession>();
        session->context.oxcfgClient = &oxcfg;
    }
    void cleanup() { dialog.reset(); session.reset(); }

    void qualityLabel_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("quality");
        const char *const names[] = {"Very Low", "Lower", "Medium", "Higher", "Highest"};
        for (int p = 0; p <= 4; ++p)
            QTest::addRow("%d", p) << p << QString::fromLatin1(names[p]);
    }
    void qualityLabel()
    {
        QFETCH(int, position);
        QFETCH(QString, quality);
        makeDialog()->handleOptionsUpdated(QStringLiteral(R"({"CompressionMax":4,"Compression":%1})").arg(4 - position));
        QCOMPARE(slider("QualitySlider")->value(), position);
        QCOMPARE(text("CompressionLabel"), QStringLiteral("Image Quality: ") + quality);
    }

    void frameWindow_data()
    {
        QTest::addColumn<int>("reported");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("window"); // what the position sends
        QTest::addColumn<QString>("shown");
        QTest::newRow("off") << 0 << 0 << 0 << "Off";
        QTest::newRow("largest") << 60 << 1 << 60 << "60 frames";
        QTest::newRow("one frame") << 1 << 60 << 1 << "1 frames";
        QTest::newRow("over the maximum") << 100 << 1 << 60 << "60 frames";
        QTest::newRow("negative") << -3 << 0 << 0 << "Off";
    }
    void frameWindow()
    {
        QFETCH(int, reported);
        QFETCH(int, position);
        QFETCH(int, window);
        QFETCH(QString, shown);
        makeDialog()->handleOptionsUpdated(QStringLiteral(R"({"FrameAcknowledgeWindow":%1})").arg(reported));
        QCOMPARE(slider("FrameAckSlider")->value(), position);
        QCOMPARE(text("FrameAckLabel"), QStringLiteral("Frame Window: ") + shown);
        QVERIFY(sent.isEmpty());
        slider("FrameAckSlider")->setSliderPosition(30);
        slider("FrameAckSlider")->setSliderPosition(position);
        QCOMPARE(lastSent().value("FrameAcknowledgeWindow").toInt(), window);
    }

    void updateBoxSendsOnlyOnUserClicks()
    {
        makeDialog()->handleOptionsUpdated(QLatin1String(serverReport));
        QVERIFY(sent.isEmpty()); // the report turned the box on: nothing goes back
        auto *box = dialog->findChild<QGroupBox *>(QStringLiteral("UpdateBox"));
        QTest::keyClick(box, Qt::Key_Space);
        QCOMPARE(lastSent(), QJsonObject({{"BandwidthThrottleAdjust", true}, {"FrameAcknowledgeWindow", 5}}));
        QTest::keyClick(box, Qt::Key_Space);
        QCOMPARE(lastSent(), QJsonObject({{"BandwidthThrottleAdjust", false}, {"Compression", 1},
                                          {"FPSLimit", 30}, {"FrameAcknowledgeWindow", 5}}));
    }

    void serverAnswer_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("restored");
        QTest::newRow("error") << R"({"error":"refused"})" << true;
        QTest::newRow("success") << R"({"success":true})" << false;
        QTest::newRow("both") << R"({"success":true,"error":"x"})" << false;
        QTest::newRow("not an object") << R"(["error"])" << false;
    }
    void serverAnswer()
    {
        QFETCH(QString, answer);
        QFETCH(bool, restored);
        makeDialog()->handleOptionsUpdated(QLatin1String(serverReport));
        slider("QualitySlider")->setSliderPosition(0);
        slider("FpsSlider")->setSliderPosition(10);
        const int sends = sent.size();
        dialog->handleSetOptionsResponse(answer);
        QCOMPARE(slider("QualitySlider")->value(), restored ? 2 : 0);
        QCOMPARE(slider("FpsSlider")->value(), restored ? 30 : 10);
        QCOMPARE(sent.size(), sends);
    }

    // What the user chose in one connection goes to the server on the next one's first report.
    void savedValues_data()
    {
        QTest::addColumn<QString>("report");
        QTest::addColumn<QString>("pushed");
        const QString report = QLatin1String(serverReport);
        QTest::newRow("differs") << report << R"({"BandwidthThrottleAdjust":false,"Compression":1,"FPSLimit":20,"FrameAcknowledgeWindow":5})";
        QTest::newRow("equal") << QString(report).replace("\"FPSLimit\":30", "\"FPSLimit\":20") << QString();
        QTest::newRow("other quality maximum") << QString(report).replace("\"CompressionMax\":3", "\"CompressionMax\":4") << QString();
        QTest::newRow("other rate maximum") << QString(report).replace("\"FPSLimitMax\":60", "\"FPSLimitMax\":50") << QString();
    }
    void savedValues()
    {
        QFETCH(QString, report);
        QFETCH(QString, pushed);
        makeDialog()->handleOptionsUpdated(QLatin1String(serverReport));
        slider("FpsSlider")->setSliderPosition(20);
        sent.clear();
        makeDialog()->handleOptionsUpdated(report);
        dialog->handleOptionsUpdated(report);
        QCOMPARE(sent, pushed.isEmpty() ? QStringList() : QStringList{pushed});
    }

    void emptyNamesWriteNothing()
    {
        makeDialog(QString(), QString())->handleOptionsUpdated(QLatin1String(serverReport));
        slider("FpsSlider")->setSliderPosition(20);
        slider("ScaleSlider")->setSliderPosition(0);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(QSettings().allKeys(), QStringList());
    }

    void zoom_data()
    {
        QTest::addColumn<double>("startZoom");
        QTest::addColumn<int>("position");
        QTest::addColumn<double>("localToRemote");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("desktop");
        QTest::newRow("2x") << 1.0 << 0 << 0.5 << "2x" << true;
        QTest::newRow("1x") << 2.0 << 1 << 1.0 << "1x" << true;
        QTest::newRow("0.5x") << 1.0 << 2 << 2.0 << "0.5x" << true;
        QTest::newRow("rootless 2x") << 0.5 << 0 << 0.5 << "2x" << false;
    }
    void zoom()
    {
        QFETCH(double, startZoom);
        QFETCH(int, position);
        QFETCH(double, localToRemote);
        QFETCH(QString, shown);
        QFETCH(bool, desktop);
        session->setZoom(startZoom);
        std::unique_ptr<rdpSettings, void (*)(rdpSettings *)> settings(freerdp_settings_new(0), freerdp_settings_free);
        freerdp_settings_set_uint32(settings.get(), FreeRDP_DesktopWidth, 800);
        freerdp_settings_set_uint32(settings.get(), FreeRDP_DesktopHeight, 600);
        session->context.common.context.settings = settings.get();
        RdpMainWidget window(&session->context);
        auto *remoteDesktop = new QWidget;
        window.setDesktopWidget(remoteDesktop);
        session->context.mainWidget = desktop ? &window : nullptr;

        makeDialog();
        slider("ScaleSlider")->setSliderPosition(position);
        QCOMPARE(session->context.localToRemoteScale, localToRemote);
        QCOMPARE(session->context.remoteToLocalScale, 1.0 / localToRemote);
        QCOMPARE(text("ScaleLabel"), QStringLiteral("Zoom: ") + shown);
        if (desktop)
            QCOMPARE(remoteDesktop->size(), QSize(800, 600) / localToRemote);
        QCOMPARE(rdpStoredZoom(QStringLiteral("session-1")).localToRemote, localToRemote);
        dialog.reset();
        session->context.common.context.settings = nullptr;
    }

private:
    RdpOptionsDialog *makeDialog(const QString &host = QStringLiteral("server.example"),
                                 const QString &sessionId = QStringLiteral("session-1"))
    {
        dialog = std::make_unique<RdpOptionsDialog>(&session->context, host, sessionId);
        return dialog.get();
    }
    QSlider *slider(const char *name) const { return dialog->findChild<QSlider *>(QLatin1String(name)); }
    QString text(const char *name) const { return dialog->findChild<QLabel *>(QLatin1String(name))->text(); }
    static QJsonObject lastSent() { return sent.isEmpty() ? QJsonObject() : QJsonDocument::fromJson(sent.last().toUtf8()).object(); }

    QTemporaryDir settingsDir;
    OxcfgClientContext oxcfg{nullptr, nullptr, nullptr, recordOptions, nullptr};
    std::unique_ptr<FakeRdpSession> session;
    std::unique_ptr<RdpOptionsDialog> dialog;
};

QTEST_MAIN(TestRdpOptionsDialog)
#include "tst_rdpoptionsdialog.moc"
