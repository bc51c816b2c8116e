#include "rdp/rdpcertificateprompt.h"
#include "rdp/rdpinstance.h"

#include "support/testsupport.h"
#include "support/shadowserverfixture.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

class TestRdpCertificate : public QObject
{
    Q_OBJECT

    static QMessageBox *question()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->objectName() == "RdpCertificatePrompt" && w->isVisible()) return qobject_cast<QMessageBox *>(w);
        return nullptr;
    }

private slots:
    void initTestCase()
    {
        if (!ShadowServerFixture::isAvailable())
            QSKIP("needs Xvfb and freerdp-shadow-cli");
        qputenv("XDG_DATA_HOME", dir.path().toLocal8Bit());
        prepareClientEnvironment(dir.filePath("settings"));
        server.setSecurity("tls");
        QString why;
        QVERIFY2(server.start(QSize(800, 600), &why), qPrintable(why));
    }

    // In order: the answer given to the question (none: the connection is ended while asking,
    // which must answer it, or the worker would wait for ever), whether one is asked, whether
    // the session comes up.
    void answers()
    {
        struct Step { const char *answer; bool asked; bool up; };
        const Step steps[] = {{nullptr, true, false}, {"Cancel", true, false}, {"Connect Once", true, true},
                              {"Trust Always", true, true}, {"", false, true}};
        for (const Step &step : steps) {
            RdpInstance rdp;
            QSignalSpy connected(&rdp, &RdpInstance::connected);
            QSignalSpy finished(&rdp, &RdpInstance::finished);
            rdp.connectToSession("127.0.0.1", server.port(), "viewer", "", 0, "800x600", "t", true, {});
            QTRY_VERIFY_WITH_TIMEOUT(question() || !connected.isEmpty() || !finished.isEmpty(), 30000);
            QCOMPARE(question() != nullptr, step.asked);
            if (QMessageBox *box = question()) {
                QVERIFY(box->informativeText().contains("Fingerprint: "));
                if (!step.answer)
                    rdp.quit();
                for (QAbstractButton *button : box->buttons()) {
                    if (step.answer && button->text() == step.answer)
                        button->click();
                }
                QTRY_VERIFY_WITH_TIMEOUT(!connected.isEmpty() || !finished.isEmpty(), 30000);
                QTRY_VERIFY(!question());
            }
            QCOMPARE(!connected.isEmpty(), step.up);
            rdp.quit();
        }
        QFile store(RdpCertificatePrompt::storeFolder() + "/known_hosts2");
        QVERIFY(store.open(QIODevice::ReadOnly));
        QVERIFY(store.readAll().startsWith(QString("127.0.0.1 %1 ").arg(server.port()).toLatin1()));
    }

private:
    QTemporaryDir dir;
    ShadowServerFixture server;
};

QTEST_MAIN(TestRdpCertificate)
#include "tst_rdpcertificate.moc"
