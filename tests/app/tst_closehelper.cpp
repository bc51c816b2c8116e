#include "app/closehelper.h"
#include "app/mainwindowhelper.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include <memory>

namespace {

const int Stayed = 42;

// Runs the application's event loop with `action` queued first. Returns 0 when
// the action made the application quit, Stayed when the loop was still running
// a moment later.
int runLoop(const std::function<void()> &action)
{
    QTimer fallback;
    fallback.setSingleShot(true);
    QObject::connect(&fallback, &QTimer::timeout, [] { QCoreApplication::exit(Stayed); });
    fallback.start(300);
    QTimer::singleShot(0, qApp, action);
    return QCoreApplication::exec();
}

int checkForQuitResult()
{
    return runLoop([] { CloseHelper::instance()->checkForQuit(); });
}

} // namespace

class TestCloseHelper : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        CloseHelper::instance();
        QVERIFY(!QGuiApplication::quitOnLastWindowClosed());
    }

    void cleanup()
    {
        // No window of a previous case may keep the application running.
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (QWidget *window : windows)
            window->hide();
    }

    void quitRules_data()
    {
        QTest::addColumn<bool>("visible");
        QTest::addColumn<bool>("quitOnClose");
        QTest::addColumn<bool>("withParent");
        QTest::addColumn<bool>("quits");
        QTest::newRow("visible main window") << true << true << false << false;
        QTest::newRow("hidden main window") << false << true << false << true;
        QTest::newRow("visible, quit-on-close off") << true << false << false << true;
        QTest::newRow("visible dialog with a parent") << true << true << true << true;
    }

    void quitRules()
    {
        QFETCH(bool, visible);
        QFETCH(bool, quitOnClose);
        QFETCH(bool, withParent);
        QFETCH(bool, quits);

        QWidget owner;
        owner.setAttribute(Qt::WA_QuitOnClose, false);
        QDialog window(withParent ? &owner : nullptr);
        window.setAttribute(Qt::WA_QuitOnClose, quitOnClose);
        window.setVisible(visible);
        QCOMPARE(checkForQuitResult(), quits ? 0 : Stayed);
    }

    void nothingLeftQuits()
    {
        QCOMPARE(checkForQuitResult(), 0);
    }

    void closingLastWindowQuits()
    {
        QWidget window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(runLoop([&window] { window.close(); }), 0);
    }

    void registeredObjectKeepsRunningUntilDestroyed()
    {
        auto *session = new QObject;
        CloseHelper::instance()->addObject(session);
        // Registered twice: every occurrence goes when it is destroyed.
        CloseHelper::instance()->addObject(session);

        QWidget window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(runLoop([&window] { window.close(); }), Stayed);
        QCOMPARE(checkForQuitResult(), Stayed);

        QCOMPARE(runLoop([session] { delete session; }), 0);
        QCOMPARE(checkForQuitResult(), 0);
    }

    void destroyingOneOfTwoObjectsKeepsRunning()
    {
        auto *first = new QObject;
        auto *second = new QObject;
        CloseHelper::instance()->addObject(first);
        CloseHelper::instance()->addObject(second);
        QCOMPARE(runLoop([first] { delete first; }), Stayed);
        QCOMPARE(runLoop([second] { delete second; }), 0);
    }

    void applicationCloseDeletesObjectsWithoutQuitting()
    {
        auto *parent = new QObject;
        auto *child = new QObject(parent);
        auto *other = new QObject;
        QPointer<QObject> parentGuard(parent), childGuard(child), otherGuard(other);
        // The child is deleted with its parent before its own turn comes.
        CloseHelper::instance()->addObject(parent);
        CloseHelper::instance()->addObject(child);
        CloseHelper::instance()->addObject(other);

        // No window is open, so a removeObject() call would quit at once.
        const int result = runLoop([] {
            QCloseEvent event;
            QCoreApplication::sendEvent(qApp, &event);
        });
        QCOMPARE(result, Stayed);
        QVERIFY(!parentGuard);
        QVERIFY(!childGuard);
        QVERIFY(!otherGuard);

        // The list is empty now.
        QCOMPARE(checkForQuitResult(), 0);
    }

    void applicationCloseDoesNotConsumeTheEvent()
    {
        QCloseEvent event;
        event.setAccepted(true);
        QVERIFY(!CloseHelper::instance()->eventFilter(qApp, &event));
        QVERIFY(!CloseHelper::instance()->eventFilter(this, &event));
    }

    void activateShowsRaisesAndRestores()
    {
        QWidget window;
        MainWindowHelper helper(&window);

        helper.activate();
        QVERIFY(window.isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        window.setWindowState(window.windowState() | Qt::WindowMinimized | Qt::WindowMaximized);
        QVERIFY(window.isMinimized());
        helper.activate();
        QVERIFY(!window.isMinimized());
        // Restoring keeps the other state flags.
        QVERIFY(window.windowState() & Qt::WindowMaximized);

        // Visible and not minimised: raised, nothing else changes.
        helper.activate();
        QVERIFY(window.isVisible());
        QVERIFY(!window.isMinimized());
    }

    void activateAfterWindowIsGone()
    {
        auto window = std::make_unique<QWidget>();
        MainWindowHelper helper(window.get());
        window.reset();
        helper.activate();
    }
};

QTEST_MAIN(TestCloseHelper)
#include "tst_closehelper.moc"
