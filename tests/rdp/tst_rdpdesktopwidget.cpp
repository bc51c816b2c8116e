#include "rdp/rdpdesktopwidget.h"
#include "rdp/rdpkeyboard.h"
#include "rdp/rdppointer.h"
#include "windows/rdpmainwidget.h"

#include "support/fakerdpsession.h"
#include "support/privatexserver.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <freerdp/graphics.h>

#include <cstdio>
#include <memory>

namespace {
PrivateXServer *xserver = nullptr;
}

class TestRdpDesktopWidget : public QObject
{
    Q_OBJECT

private slots:
    void mouseMovesAreCoalesced();
    void pointerShapesBecomeCursors_data();
    void pointerShapesBecomeCursors();
    void lockStateWithoutNewConnections();
};

// One move per pass of the event loop; the timer then sends where the last event put the
// pointer, whatever the real cursor does meanwhile.
void TestRdpDesktopWidget::mouseMovesAreCoalesced()
{
    FakeRdpSession session(2.0);
    session.setFramebuffer(200, 200);
    RdpDesktopWidget widget(&session.context);
    widget.setInputSender(session.recorder());
    QCursor::setPos(QPoint(3, 3));
    for (const QPoint &pos : {QPoint(20, 20), QPoint(30, 30), QPoint(40, 41)}) {
        QMouseEvent event(QEvent::MouseMove, pos, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&widget, &event);
    }
    QCOMPARE(session.sent, QList<SentInput>{mouseInput(0x0800, 10, 10)});
    QTRY_COMPARE(session.sent, (QList<SentInput>{mouseInput(0x0800, 10, 10), mouseInput(0x0800, 20, 20)}));
    QCoreApplication::processEvents();
    QCOMPARE(session.sent.size(), 2);
}

void TestRdpDesktopWidget::pointerShapesBecomeCursors_data()
{
    QTest::addColumn<bool>("widgetFirst");
    QTest::newRow("set while the window is up") << true;
    // The server sets its shape while connecting, before there is a desktop widget.
    QTest::newRow("set before the window") << false;
}

void TestRdpDesktopWidget::pointerShapesBecomeCursors()
{
    QFETCH(bool, widgetFirst);
    FakeRdpSession session;
    session.setFramebuffer(64, 64);
    std::unique_ptr<RdpMainWidget> window;
    RdpDesktopWidget *widget = nullptr;
    const auto openWindow = [&] {
        window = std::make_unique<RdpMainWidget>(&session.context);
        session.context.mainWidget = window.get();
        widget = new RdpDesktopWidget(&session.context);
        window->setDesktopWidget(widget);
    };
    if (widgetFirst)
        openWindow();

    rdpContext *context = session.context.rdp();
    rdpGraphics *graphics = graphics_new(context);
    QVERIFY(graphics);
    context->graphics = graphics;
    registerRdpPointer(graphics);

    quint32 colours[16 * 16];
    std::fill(std::begin(colours), std::end(colours), 0xFF2040A0u);
    quint8 andMask[16 * 2] = {};
    rdpPointer *pointer = Pointer_Alloc(context);
    QVERIFY(pointer);
    pointer->xPos = 3;
    pointer->yPos = 5;
    pointer->width = 16;
    pointer->height = 16;
    pointer->xorBpp = 32;
    pointer->xorMaskData = reinterpret_cast<BYTE *>(colours);
    pointer->lengthXorMask = sizeof colours;
    pointer->andMaskData = andMask;
    pointer->lengthAndMask = sizeof andMask;
    // While connecting, FreeRDP works on another thread: the shape waits for the GUI thread.
    bool made = false;
    bool set = false;
    QThread *worker = QThread::create([&] {
        made = pointer->New(context, pointer);
        set = pointer->Set(context, pointer);
    });
    worker->start();
    QVERIFY(worker->wait(5000));
    delete worker;
    QVERIFY(made && set);
    if (widgetFirst) {
        QCOMPARE(widget->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(pointer->Set(context, pointer));
    } else {
        openWindow();
        applyLastRdpPointer(&session.context);
    }
    QCOMPARE(widget->cursor().shape(), Qt::BitmapCursor);
    QCOMPARE(widget->cursor().hotSpot(), QPoint(3, 5));
    QCOMPARE(widget->cursor().pixmap().toImage().pixel(8, 8), 0xFF2040A0u);

    // Hiding or resetting the pointer keeps the last shape.
    QVERIFY(pointer->SetNull(context));
    QVERIFY(pointer->SetDefault(context));
    QCOMPARE(widget->cursor().shape(), Qt::BitmapCursor);

    // A freed shape is not applied later.
    pointer->Free(context, pointer);
    free(pointer);
    QVERIFY(!session.context.lastPointer);
    context->graphics = nullptr;
    graphics_free(graphics);
    session.context.mainWidget = nullptr;
}

// Focus changes ask for the lock keys' state again and again: that must not take a new
// connection to the X server each time. Once new clients cannot connect, the state is
// still known.
void TestRdpDesktopWidget::lockStateWithoutNewConnections()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X server (Xvfb)");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("needs xdotool");
    QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Caps_Lock")}), 0);
    QTRY_COMPARE(localLockFlags(), quint32(RdpSyncCapsLock));

    const QByteArray socket = xserver->socketPath();
    QCOMPARE(std::rename(socket.constData(), (socket + ".away").constData()), 0);
    const quint32 flags = localLockFlags();
    QCOMPARE(std::rename((socket + ".away").constData(), socket.constData()), 0);
    QCOMPARE(flags, quint32(RdpSyncCapsLock));
}

int main(int argc, char *argv[])
{
    PrivateXServer server;
    server.startForApplication();
    xserver = &server;
    QApplication app(argc, argv);
    TestRdpDesktopWidget test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_rdpdesktopwidget.moc"
