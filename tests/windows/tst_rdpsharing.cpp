#include "channels/oxshare/oxshare_main.h"
#include "connections/connectionlistwidget.h"
#include "sessions/sharingkey.h"
#include "windows/rdpsharingdialog.h"
#include "windows/rdpviewermodel.h"

#include "support/testsupport.h"
#include "support/testsupport.h"
#include "support/fakerdpsession.h"

#include <QAction>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QtTest>

namespace {
QStringList sent; // what the dialog asked of the sharing channel
UINT start(OxshareClientContext *, const char *password) { sent << "start " + QString(password); return 0; }
UINT stop(OxshareClientContext *) { sent << "stop"; return 0; }
UINT kick(OxshareClientContext *, UINT32 id) { sent << QString("kick %1").arg(id); return 0; }
UINT give(OxshareClientContext *, UINT32 id) { sent << QString("give %1").arg(id); return 0; }

QString b64(const char *json) { return QString::fromLatin1(QByteArray(json).toBase64()); }

RdpViewer viewer(quint32 id, const char *name, bool controller = false) { return {id, name, id == 0, controller}; }
} // namespace

class TestRdpSharing : public QObject
{
    Q_OBJECT
public slots:
    void mail(const QUrl &url) { mailed << url; }

private slots:
    void init()
    {
        prepareClientEnvironment(dir.path());
        sent.clear();
        qDeleteAll(visibleErrorBoxes());
    }

    // A key and what it gives (host, SSH port, RDP port, password, direct, mode); nothing if invalid.
    void parseKey_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QStringList>("parsed");
        const QStringList defaults{"", "0", "0", "", "0", ""};
        QTest::newRow("all members") << b64(R"({"Hostname":"h.example","SshPort":2222,"RdpPort":3390,)"
                                            R"("Password":"pw","Direct":true,"WindowMode":"rootless"})")
                                     << QStringList{"h.example", "2222", "3390", "pw", "1", "rootless"};
        QTest::newRow("missing members") << b64("{}") << defaults;
        QTest::newRow("wrong types") << b64(R"({"Hostname":5,"SshPort":"22","RdpPort":true,"Password":[],)"
                                            R"("Direct":"yes","WindowMode":{}})") << defaults;
        QTest::newRow("huge and wrapped numbers") << b64(R"({"SshPort":1e300,"RdpPort":70000})")
                                                  << QStringList{"", "0", "4464", "", "0", ""};
        QTest::newRow("broken by a mailer") << b64(R"({"Hostname":"h","RdpPort":4000})").insert(8, " \r\n")
                                            << QStringList{"h", "0", "4000", "", "0", ""};
        for (const char *bad : {"!!!***", "[1,2]", "\"Hostname\"", "{\"Hostname\":\"h\"", ""})
            QTest::addRow("not a key: %s", bad) << (*bad == '!' ? QString(bad) : b64(bad)) << QStringList();
    }
    void parseKey()
    {
        QFETCH(QString, key);
        QFETCH(QStringList, parsed);
        SharingKey k;
        QCOMPARE(SharingKey::parse(key, &k), !parsed.isEmpty());
        if (!parsed.isEmpty())
            QCOMPARE((QStringList{k.hostname, QString::number(k.sshPort), QString::number(k.rdpPort), k.password,
                                  QString::number(k.direct), k.windowMode}),
                     parsed);
    }

    void viewerModel()
    {
        RdpViewerModel model;
        const auto texts = [&model] {
            QStringList l; for (int r = 0; r < model.rowCount(); ++r) l << model.index(r, 0).data().toString(); return l; };
        model.setClientId(0);
        model.setViewers({viewer(7, "zed"), viewer(0, "ann", true), viewer(5, "bob")});
        QCOMPARE(texts(), (QStringList{"ann (me,owner,controller)", "bob", "zed"}));
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

        // Bob leaves, Cy joins, control passes to Zed: one removal, one insertion, two changes.
        model.setViewers({viewer(9, "cy"), viewer(0, "ann"), viewer(7, "zed", true)});
        QCOMPARE(texts(), (QStringList{"ann (me,owner)", "zed (controller)", "cy"}));
        QCOMPARE(removed.size(), 1);
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(changed.size(), 2);

        changed.clear();
        model.setClientId(7); // the "me" tag moves from Ann to Zed
        QCOMPARE(changed.size(), 2);
        QCOMPARE(texts(), (QStringList{"ann (owner)", "zed (me,controller)", "cy"}));
        QCOMPARE(model.viewerAt(3).id, quint32(0xFFFFFFFF));
    }

    // The key leads to the session: the host and SSH port given, the RDP port, the password sent.
    void sharingKey()
    {
        FakeRdpSession session;
        std::unique_ptr<rdpSettings, void (*)(rdpSettings *)> settings{freerdp_settings_new(0), freerdp_settings_free};
        freerdp_settings_set_uint32(settings.get(), FreeRDP_ServerPort, 3390);
        session.context.common.context.settings = settings.get();
        OxshareClientContext channel{nullptr, nullptr, start, stop, kick, give, nullptr, nullptr, nullptr, nullptr};
        session.context.oxshareClient = &channel;

        RdpSharingDialog dialog(&session.context, "ssh.example", 2222);
        dialog.show();
        auto *power = dialog.findChild<QPushButton *>("SharingButton");
        QVERIFY(!power->isEnabled()); // until the server says who we are
        dialog.setClientId(0);
        power->click();
        power->click(); // before the server answered
        QCOMPARE(sent.size(), 1);
        SharingKey key;
        QVERIFY(SharingKey::parse(dialog.sharingKey(), &key));
        QCOMPARE(sent.first(), "start " + key.password);
        QCOMPARE((QStringList{key.hostname, QString::number(key.sshPort), QString::number(key.rdpPort)}),
                 (QStringList{"ssh.example", "2222", "3390"}));

        // The e-mail carries it intact.
        dialog.setServerStatus(true, {viewer(0, "zed"), viewer(7, "ann")});
        QDesktopServices::setUrlHandler("mailto", this, "mail");
        dialog.findChild<QAction *>("EmailAction")->trigger();
        QDesktopServices::unsetUrlHandler("mailto");
        QCOMPARE(mailed.size(), 1);
        QVERIFY(QUrlQuery(mailed.first()).queryItemValue("body", QUrl::FullyDecoded).endsWith(dialog.sharingKey()));

        // The row buttons act on the selected viewer, whatever the view's order.
        auto *view = dialog.findChild<QTableView *>("ViewerListView");
        view->selectRow(0);
        dialog.findChild<QPushButton *>("KickViewerButton")->click();
        dialog.findChild<QPushButton *>("GiveControlButton")->click();
        QCOMPARE(sent.mid(1), (QStringList{"kick 7", "give 7"}));

        // Sharing off forgets the key; the next start has a new password.
        power->click();
        dialog.setServerStatus(false, {});
        QVERIFY(dialog.sharingKey().isEmpty());
        power->click();
        QCOMPARE(sent.size(), 5);
        QVERIFY(sent.last() != sent.first());
    }

    void joinWithBadKey()
    {
        ConnectionListWidget window(dir.filePath("profiles"), QString());
        window.findChild<QPushButton *>("JoinSessionButton")->click();
        auto *dialog = window.findChild<QDialog *>("JoinSessionDialog");
        QVERIFY(dialog);
        QPushButton *ok = dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
        dialog->findChild<QLineEdit *>("IdLineEdit")->setText("viewer");
        dialog->findChild<QLineEdit *>("SharingKeyLineEdit")->setText(b64("[1,2]"));
        ok->click();
        QTRY_COMPARE(visibleErrorBoxes().size(), 1);
        QCOMPARE(visibleErrorBoxes().first()->text(),
                 QString("There was a problem joining the session.<br><br>Invalid sharing key."));
    }

private:
    QTemporaryDir dir;
    QList<QUrl> mailed;
};

QTEST_MAIN(TestRdpSharing)
#include "tst_rdpsharing.moc"
