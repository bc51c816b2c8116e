#include "app/cookie.h"
#include "sessions/servermethods.h"
#include "sessions/startsessiondialog.h"
#include "sessions/windowmodewidget.h"
#include "support/errorboxes.h"
#include "support/fakelink.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include <memory>

namespace {

QJsonObject entry(const QString &id, const QString &name, const QString &command,
                  const QString &geometry)
{
    return QJsonObject{{"id", id}, {"name", name}, {"command", command}, {"geometry", geometry}};
}

// The reply every dialog test starts from: one entry of each kind, plus one without
// an id that must never show up.
QJsonObject standardList()
{
    return QJsonObject{
        {"suggestions", QJsonArray{entry("s1", "Desktop", "startxfce4", "1280x800")}},
        {"bookmarks", QJsonArray{entry("b1", "", "xterm -ls", "rootless"),
                                 entry("", "Ghost", "ghost", "640x480")}},
        {"history", QJsonArray{entry("h1", "", "gimp", "1024x768")}}};
}

QStringList texts(const QList<QAction *> &actions)
{
    QStringList result;
    for (QAction *action : actions)
        result << action->text();
    return result;
}

} // namespace

class TestStartSessionDialog : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<FakeLink> link;
    FakeRpcServer *server = nullptr;
    JsonRpcHandler *handler = nullptr;

    QLineEdit *commandEdit(StartSessionDialog &dialog)
    {
        return dialog.findChild<QLineEdit *>("CommandLineEdit");
    }
    QLineEdit *sizeEdit(QWidget &widget) { return widget.findChild<QLineEdit *>("GeometryLineEdit"); }
    QCheckBox *singleBox(QWidget &widget)
    {
        return widget.findChild<QCheckBox *>("SingleApplicationBox");
    }
    QDialogButtonBox *buttonBox(StartSessionDialog &dialog)
    {
        return dialog.findChild<QDialogButtonBox *>("ButtonBox");
    }
    QPushButton *suggestionsButton(StartSessionDialog &dialog)
    {
        for (QAbstractButton *button : buttonBox(dialog)->buttons()) {
            if (buttonBox(dialog)->buttonRole(button) == QDialogButtonBox::ActionRole)
                return qobject_cast<QPushButton *>(button);
        }
        return nullptr;
    }

    // Answers the dialog's list request with `result`.
    void answerList(const QJsonValue &result)
    {
        const QList<QJsonObject> requests = server->takeRequests();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.first().value("method").toString(), QString("Nuvek.bookmark"));
        QCOMPARE(requests.first().value("params").toObject(), QJsonObject({{"op", "list"}}));
        server->replyResult(requests.first().value("id").toString(), result);
    }

    void pick(StartSessionDialog &dialog, const QString &id)
    {
        QPushButton *button = suggestionsButton(dialog);
        QVERIFY(button && button->menu());
        for (QAction *action : button->menu()->actions()) {
            if (action->data().toString() == id) {
                action->trigger();
                return;
            }
        }
        QFAIL(qPrintable("no menu entry " + id));
    }

private slots:
    void init()
    {
        link.reset(new FakeLink);
        server = &link->server;
        handler = &link->handler;
    }

    void cleanup()
    {
        qDeleteAll(visibleErrorBoxes());
        link.reset();
    }

    void windowModeRoundTrip_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("checked");
        QTest::addColumn<QString>("sizeText");
        QTest::addColumn<QString>("result");

        QTest::newRow("size") << "" << "1024x768" << false << "1024x768" << "1024x768";
        QTest::newRow("rootless keeps the typed size") << "800x600" << "rootless" << true << "800x600" << "rootless";
        QTest::newRow("empty clears the size") << "800x600" << "" << false << "" << "";
        QTest::newRow("only exactly rootless") << "" << "Rootless" << false << "Rootless" << "Rootless";
        QTest::newRow("free text") << "" << "big" << false << "big" << "big";
    }

    void windowModeRoundTrip()
    {
        QFETCH(QString, typed);
        QFETCH(QString, value);
        QFETCH(bool, checked);
        QFETCH(QString, sizeText);
        QFETCH(QString, result);

        WindowModeWidget widget;
        QCOMPARE(widget.modeOrGeometry(), QString());
        sizeEdit(widget)->setText(typed);
        widget.setModeOrGeometry(value);
        QCOMPARE(singleBox(widget)->isChecked(), checked);
        QCOMPARE(sizeEdit(widget)->isEnabled(), !checked);
        QCOMPARE(sizeEdit(widget)->text(), sizeText);
        QCOMPARE(widget.modeOrGeometry(), result);
    }

    void singleApplicationOverridesSize()
    {
        WindowModeWidget widget;
        widget.show();
        QVERIFY(QTest::qWaitForWindowActive(&widget));
        QLineEdit *size = sizeEdit(widget);
        size->setText("1280x1024");

        singleBox(widget)->click();
        QVERIFY(!size->isEnabled());
        QCOMPARE(widget.modeOrGeometry(), QString("rootless"));
        size->setText("640x480"); // still ignored while the box is checked
        QCOMPARE(widget.modeOrGeometry(), QString("rootless"));

        singleBox(widget)->setFocus();
        singleBox(widget)->click();
        QVERIFY(size->isEnabled());
        QVERIFY(size->hasFocus());
        QCOMPARE(size->selectedText(), QString("640x480"));
        QCOMPARE(widget.modeOrGeometry(), QString("640x480"));
    }

    void commandValidation_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("acceptable");

        QTest::newRow("empty") << "" << false;
        QTest::newRow("leading space") << " xterm" << false;
        QTest::newRow("leading tab") << "\txterm" << false;
        QTest::newRow("only spaces") << "   " << false;
        QTest::newRow("one character") << "x" << true;
        QTest::newRow("with arguments") << "xterm -ls " << true;
    }

    void commandValidation()
    {
        QFETCH(QString, command);
        QFETCH(bool, acceptable);

        StartSessionDialog dialog(nullptr);
        QPushButton *ok = buttonBox(dialog)->button(QDialogButtonBox::Ok);
        QVERIFY(!ok->isEnabled());
        commandEdit(dialog)->setText("first");
        QVERIFY(ok->isEnabled());

        commandEdit(dialog)->setText(command);
        QCOMPARE(ok->isEnabled(), acceptable);

        dialog.show();
        dialog.accept(); // a refused accept leaves the dialog open
        QCOMPARE(dialog.isVisible(), !acceptable);
        QCOMPARE(dialog.result(), acceptable ? int(QDialog::Accepted) : int(QDialog::Rejected));
        if (acceptable)
            QCOMPARE(dialog.sessionCommand(), command);
    }

    void menuFromReply_data()
    {
        QTest::addColumn<QJsonObject>("result");
        QTest::addColumn<QStringList>("menu");
        QTest::addColumn<QStringList>("data");

        QTest::newRow("all three")
            << standardList()
            << QStringList{"Suggestions", "   Desktop", "Bookmarks", "   xterm -ls (Single Application)",
                           "History", "   gimp (1024x768)"}
            << QStringList{"", "s1", "", "b1", "", "h1"};
        QTest::newRow("only history")
            << QJsonObject{{"history", QJsonArray{entry("h1", "Paint", "gimp", "")}}}
            << QStringList{"History", "   Paint"} << QStringList{"", "h1"};
        QTest::newRow("wrong types are empty lists")
            << QJsonObject{{"suggestions", "xterm"},
                           {"bookmarks", QJsonArray{entry("b2", "", "emacs", "")}},
                           {"history", QJsonObject{{"id", "h9"}}}}
            << QStringList{"Bookmarks", "   emacs ()"} << QStringList{"", "b2"};
        QTest::newRow("nothing") << QJsonObject{} << QStringList{} << QStringList{};
        QTest::newRow("only entries without id")
            << QJsonObject{{"bookmarks", QJsonArray{entry("", "x", "y", "z"), QJsonObject{{"id", 7}}}}}
            << QStringList{} << QStringList{};
    }

    void menuFromReply()
    {
        QFETCH(QJsonObject, result);
        QFETCH(QStringList, menu);
        QFETCH(QStringList, data);

        StartSessionDialog dialog(handler);
        QVERIFY(!suggestionsButton(dialog));
        answerList(result);

        QPushButton *button = suggestionsButton(dialog);
        if (menu.isEmpty()) {
            QVERIFY(!button);
            QCOMPARE(buttonBox(dialog)->buttons().size(), 2);
            return;
        }
        QVERIFY(button);
        QCOMPARE(button->text(), QString("Suggestions"));
        QVERIFY(button->menu());
        const QList<QAction *> actions = button->menu()->actions();
        QCOMPARE(texts(actions), menu);
        for (int i = 0; i < actions.size(); ++i) {
            QCOMPARE(actions.at(i)->data().toString(), data.at(i));
            // Section headers are the entries without data, and cannot be chosen.
            QCOMPARE(actions.at(i)->isEnabled(), !data.at(i).isEmpty());
        }
    }

    void bookmarkErrorLeavesTypingOnly()
    {
        StartSessionDialog dialog(handler);
        const QList<QJsonObject> requests = server->takeRequests();
        QCOMPARE(requests.size(), 1);
        server->replyError(requests.first().value("id").toString(),
                           QJsonObject{{"code", 1}, {"message", "no bookmarks here"}});
        QVERIFY(!suggestionsButton(dialog));
        QVERIFY(visibleErrorBoxes().isEmpty());
        commandEdit(dialog)->setText("xterm");
        dialog.accept();
        QCOMPARE(dialog.sessionCommand(), QString("xterm"));
    }

    void closingCancelsTheListRequest()
    {
        auto *dialog = new StartSessionDialog(handler);
        QCOMPARE(handler->pendingIds().size(), 1);
        const QString id = handler->pendingIds().first();
        delete dialog;
        QVERIFY(handler->pendingIds().isEmpty());
        server->replyResult(id, standardList()); // dropped, nothing to reach
        QVERIFY(handler->isOk());
    }

    void withoutLinkTypingStillWorks()
    {
        StartSessionDialog dialog(nullptr);
        QVERIFY(!suggestionsButton(dialog));
        commandEdit(dialog)->setText("xterm -ls");
        sizeEdit(dialog)->setText("800x600");
        buttonBox(dialog)->button(QDialogButtonBox::Ok)->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.sessionCommand(), QString("xterm -ls"));
        QCOMPARE(dialog.sessionGeometry(), QString("800x600"));
        QCOMPARE(dialog.sessionName(), QString());
    }

    // What the dialog yields, and the "Nuvek.start" request the Sessions window makes
    // of it.
    void startRequest_data()
    {
        QTest::addColumn<QString>("sizeBefore");
        QTest::addColumn<QString>("picked");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("size");
        QTest::addColumn<bool>("toggleSingle");
        QTest::addColumn<QString>("wantCommand");
        QTest::addColumn<QString>("wantGeometry");
        QTest::addColumn<QString>("wantName");
        QTest::addColumn<QJsonObject>("params");

        const QString keep; // a null text: leave the field as it is
        QTest::newRow("picked named entry")
            << "" << "s1" << keep << keep << false << "startxfce4" << "1280x800" << "Desktop"
            << QJsonObject{{"command", "startxfce4"}, {"geometry", "1280x800"}, {"name", "Desktop"}};
        QTest::newRow("command changed after picking")
            << "" << "s1" << "startxfce4 --replace" << keep << false
            << "startxfce4 --replace" << "1280x800" << ""
            << QJsonObject{{"command", "startxfce4 --replace"}, {"geometry", "1280x800"}};
        QTest::newRow("size changed after picking")
            << "" << "s1" << keep << "1920x1080" << false << "startxfce4" << "1920x1080" << ""
            << QJsonObject{{"command", "startxfce4"}, {"geometry", "1920x1080"}};
        QTest::newRow("typed with a size")
            << "" << "" << "xterm -ls" << "1024x768" << false << "xterm -ls" << "1024x768" << ""
            << QJsonObject{{"command", "xterm -ls"}, {"geometry", "1024x768"}};
        QTest::newRow("typed without a size")
            << "" << "" << "xterm" << keep << false << "xterm" << "" << ""
            << QJsonObject{{"command", "xterm"}, {"geometry", "1024x768"}};
        QTest::newRow("typed single application")
            << "" << "" << "xclock" << "800x600" << true << "xclock" << "rootless" << ""
            << QJsonObject{{"command", "xclock"}, {"geometry", "rootless"}};
        QTest::newRow("rootless entry keeps the typed size")
            << "800x600" << "b1" << keep << keep << false << "xterm -ls" << "rootless" << ""
            << QJsonObject{{"command", "xterm -ls"}, {"geometry", "rootless"}};
        QTest::newRow("rootless entry switched back to its size")
            << "800x600" << "b1" << keep << keep << true << "xterm -ls" << "800x600" << ""
            << QJsonObject{{"command", "xterm -ls"}, {"geometry", "800x600"}};
    }

    void startRequest()
    {
        QFETCH(QString, sizeBefore);
        QFETCH(QString, picked);
        QFETCH(QString, command);
        QFETCH(QString, size);
        QFETCH(bool, toggleSingle);
        QFETCH(QString, wantCommand);
        QFETCH(QString, wantGeometry);
        QFETCH(QString, wantName);
        QFETCH(QJsonObject, params);

        StartSessionDialog dialog(handler);
        answerList(standardList());
        sizeEdit(dialog)->setText(sizeBefore);
        if (!picked.isEmpty())
            pick(dialog, picked);
        if (!command.isNull())
            commandEdit(dialog)->setText(command);
        if (!size.isNull())
            sizeEdit(dialog)->setText(size);
        if (toggleSingle)
            singleBox(dialog)->click();
        buttonBox(dialog)->button(QDialogButtonBox::Ok)->click();

        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.sessionCommand(), wantCommand);
        QCOMPARE(dialog.sessionGeometry(), wantGeometry);
        QCOMPARE(dialog.sessionName(), wantName);

        QString sessionId, error;
        QVERIFY(generateCookie(sessionId, error));
        handler->call("Nuvek.start", startParams(sessionId, dialog.sessionCommand(),
                                                 dialog.sessionGeometry(), dialog.sessionName()));
        const QList<QJsonObject> requests = server->takeRequests();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.first().value("method").toString(), QString("Nuvek.start"));
        params.insert("id", sessionId);
        QCOMPARE(requests.first().value("params").toObject(), params);
    }

    void failedStartShowsErrorBox()
    {
        StartSessionDialog dialog(handler);
        answerList(standardList());
        pick(dialog, "h1");
        dialog.accept();

        bool started = false;
        handler->call("Nuvek.start",
                      startParams("0123", dialog.sessionCommand(), dialog.sessionGeometry(),
                                  dialog.sessionName()),
                      [&](const QString &, const QJsonValue &result, const QJsonValue &error) {
                          started = checkReply(result, error, QJsonValue::Object,
                                               "Failed to start the session.");
                      });
        const QList<QJsonObject> requests = server->takeRequests();
        QCOMPARE(requests.size(), 1);
        server->replyError(requests.first().value("id").toString(),
                           QJsonObject{{"code", -1}, {"message", "gimp: not found"}});
        QVERIFY(!started);
        const QList<QMessageBox *> boxes = visibleErrorBoxes();
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first()->text(), QString("Failed to start the session.<br><br>gimp: not found"));
        QCOMPARE(boxes.first()->icon(), QMessageBox::Warning);
    }
};

QTEST_MAIN(TestStartSessionDialog)
#include "tst_startsessiondialog.moc"
