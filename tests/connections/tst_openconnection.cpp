// Opening a profile's link from the Connections window, with a stand-in SSH client:
// what is started, which windows come and go, and what the user is told.

#include "connections/connection.h"
#include "connections/connectionfolders.h"
#include "connections/connectionlistwidget.h"
#include "link/operationstatusdialog.h"
#include "sessions/sessionlistwidget.h"
#include "support/errorboxes.h"
#include "support/fakeplink.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

namespace {

Connection makeProfile(const QString &name, const QString &sci = QString())
{
    Connection profile;
    profile.setUid(QUuid::createUuid());
    profile.setName(name);
    profile.setHost(QStringLiteral("lab.example"));
    profile.setPort(2222);
    profile.setUser(QStringLiteral("alice"));
    profile.setSci(sci);
    return profile;
}

SessionListWidget *sessionsWindow(const Connection &profile)
{
    const QString key = ConnectionListWidget::windowKey(profile.uid(), QStringLiteral("SessionListWidget"));
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == key)
            return qobject_cast<SessionListWidget *>(widget);
    }
    return nullptr;
}

int sessionsWindowCount()
{
    int count = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        count += qobject_cast<SessionListWidget *>(widget) ? 1 : 0;
    return count;
}

} // namespace

class TestOpenConnection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCoreApplication::setApplicationName(QStringLiteral("Nuvek"));
        QSettings::setDefaultFormat(QSettings::IniFormat);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
        QVERIFY(plink.isValid());
    }

    void cleanup()
    {
        qDeleteAll(visibleErrorBoxes());
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<SessionListWidget *>(widget))
                widget->close();
        }
        QTRY_COMPARE_WITH_TIMEOUT(sessionsWindowCount(), 0, 5000);
    }

    void failedLinkTakesItsWindowAlong_data()
    {
        QTest::addColumn<QString>("sci");
        QTest::addColumn<QString>("command");
        QTest::newRow("default program") << "" << "nuvek2_sci";
        QTest::newRow("own program") << "/opt/nuvek/bin/nuvek2_sci -x" << "/opt/nuvek/bin/nuvek2_sci -x";
    }

    void failedLinkTakesItsWindowAlong()
    {
        QFETCH(QString, sci);
        QFETCH(QString, command);
        plink.setRun("Access granted\nbash: line 1: nuvek2_sci: command not found\n", 127, QByteArray(), 1);
        ConnectionListWidget connections(folder.path(), QString());
        const Connection profile = makeProfile(QStringLiteral("Lab"), sci);
        connections.openConnection(profile);

        QPointer<SessionListWidget> window = sessionsWindow(profile);
        QVERIFY(window);
        QVERIFY(window->isVisible());
        QCOMPARE(window->windowTitle(), QStringLiteral("Lab (lab.example)"));
        QPointer<OperationStatusDialog> status = window->findChild<OperationStatusDialog *>();
        QVERIFY(status);
        QVERIFY(status->isVisible());
        QCOMPARE(status->windowModality(), Qt::WindowModal);

        QTRY_VERIFY_WITH_TIMEOUT(!window, 10000);
        QCOMPARE(visibleErrorBoxes().size(), 1);
        QCOMPARE(visibleErrorBoxes().first()->text(),
                 QStringLiteral("There was a problem with the connection.<br><br>Unable to contact the server. "
                                "Check that the server is properly installed and that the SCI is accessible "
                                "to the user \"alice\"."));

        const QStringList arguments = plink.lastArguments();
        QVERIFY(arguments.size() > 4);
        QCOMPARE(arguments.last(), command);
        QCOMPARE(arguments.mid(arguments.size() - 4, 3), (QStringList{"-l", "alice", "lab.example"}));
        QVERIFY(arguments.join(' ').contains("-P 2222"));
    }

    void abortingEndsTheLinkQuietly()
    {
        plink.setRun(QByteArray(), 0, QByteArray(), 20);
        ConnectionListWidget connections(folder.path(), QString());
        const Connection profile = makeProfile(QStringLiteral("Lab"));
        connections.openConnection(profile);
        QPointer<SessionListWidget> window = sessionsWindow(profile);
        QVERIFY(window);
        QPointer<OperationStatusDialog> status = window->findChild<OperationStatusDialog *>();
        QVERIFY(status);
        QTest::qWait(200);
        QVERIFY(window);

        status->reject();
        QTRY_VERIFY_WITH_TIMEOUT(!window, 5000);
        QTest::qWait(200);
        QVERIFY2(visibleErrorBoxes().isEmpty(), qPrintable(visibleErrorBoxTexts()));
    }

    void activationOpensOneLinkPerProfile()
    {
        plink.setRun(QByteArray(), 0, QByteArray(), 20);
        const Connection profile = makeProfile(QStringLiteral("Lab"));
        QString error;
        QVERIFY2(saveConnection(connectionFilePath(folder.path(), profile.uid()), profile, error),
                 qPrintable(error));
        ConnectionListWidget connections(folder.path(), QString());
        auto *view = connections.findChild<QTableView *>(QStringLiteral("ConnectionListView"));
        QVERIFY(view);
        QCOMPARE(view->model()->rowCount(), 1);
        connections.show();
        view->setCurrentIndex(view->model()->index(0, 0));

        QTest::keyClick(view, Qt::Key_Return);
        QPointer<SessionListWidget> window = sessionsWindow(profile);
        QVERIFY(window);
        window->showMinimized();
        QTest::keyClick(view, Qt::Key_Return);
        QCOMPARE(sessionsWindowCount(), 1);
        QCOMPARE(sessionsWindow(profile), window.data());
        QTRY_VERIFY(!window->isMinimized());

        // The window is closed: the link ends and the window goes with it. The next
        // activation opens a new link.
        window->close();
        QTRY_VERIFY_WITH_TIMEOUT(!window, 5000);
        QTest::keyClick(view, Qt::Key_Return);
        QVERIFY(sessionsWindow(profile));
        QVERIFY(visibleErrorBoxes().isEmpty());
        QVERIFY(QFile::remove(connectionFilePath(folder.path(), profile.uid())));
    }

private:
    FakePlink plink;
    QTemporaryDir folder;
    QTemporaryDir settings;
};

QTEST_MAIN(TestOpenConnection)
#include "tst_openconnection.moc"
