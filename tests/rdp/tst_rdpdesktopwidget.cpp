#include "rdp/rdpdesktopwidget.h"
#include "rdp/rdpkeyboard.h"
#include "rdp/rdppointer.h"
#include "windows/rdpmainwidget.h"

#include "support/fakerdpsession.h"

#include <QPainter>
#include <QtTest>

#include <freerdp/graphics.h>

namespace {

// Records the areas it is asked to paint.
class PaintRecorder : public RdpDesktopWidget
{
public:
    using RdpDesktopWidget::RdpDesktopWidget;
    QRegion painted;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        painted += event->region();
        RdpDesktopWidget::paintEvent(event);
    }
};

} // namespace

class TestRdpDesktopWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sizeFollowsZoom_data();
    void sizeFollowsZoom();
    void paintsFramebuffer_data();
    void paintsFramebuffer();
    void paintsOverlayPointer();
    void mouseButtons();
    void mouseMovesAreCoalesced();
    void wheel();
    void keys();
    void deadKey();
    void focusSynchronizesLocks();
    void overlayClickAnimation();
    void showRegionRepaintsLocalArea();
    void pointerShapesBecomeCursors();

private:
    static void fillPattern(QImage &image);
};

void TestRdpDesktopWidget::initTestCase()
{
    initRdpKeyboard(0x409);
}

// Every remote pixel differs from its neighbours; the unused fourth byte stays 0, as FreeRDP
// need not fill it.
void TestRdpDesktopWidget::fillPattern(QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = qRgb(x * 7 % 256, y * 11 % 256, (x + 3 * y) % 256) & 0xFFFFFF;
    }
}

void TestRdpDesktopWidget::sizeFollowsZoom_data()
{
    QTest::addColumn<double>("zoom");
    QTest::addColumn<QSize>("size");
    QTest::newRow("zoom 1") << 1.0 << QSize(1024, 768);
    QTest::newRow("zoom 2") << 2.0 << QSize(2048, 1536);
    QTest::newRow("zoom 0.5") << 0.5 << QSize(512, 384);
}

void TestRdpDesktopWidget::sizeFollowsZoom()
{
    QFETCH(double, zoom);
    QFETCH(QSize, size);
    FakeRdpSession session(zoom);
    session.setFramebuffer(1024, 768);
    RdpDesktopWidget widget(&session.context);
    QCOMPARE(widget.sizeHint(), size);
}

void TestRdpDesktopWidget::paintsFramebuffer_data()
{
    QTest::addColumn<double>("zoom");
    QTest::newRow("zoom 1") << 1.0;
    QTest::newRow("zoom 2") << 2.0;
}

void TestRdpDesktopWidget::paintsFramebuffer()
{
    QFETCH(double, zoom);
    const int factor = int(zoom);
    FakeRdpSession session(zoom);
    QImage &framebuffer = session.setFramebuffer(40, 30);
    fillPattern(framebuffer);
    RdpDesktopWidget widget(&session.context);
    widget.resize(widget.sizeHint());

    const QImage shown = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.size(), QSize(40 * factor, 30 * factor));
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            if (shown.pixel(x, y) != framebuffer.pixel(x / factor, y / factor))
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 is %3, not %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(shown.pixel(x, y), 0, 16)
                                     .arg(framebuffer.pixel(x / factor, y / factor), 0, 16)));

    // The image wraps FreeRDP's buffer: a change there shows at the next paint.
    framebuffer.setPixel(5, 6, qRgb(1, 2, 3));
    const QImage again = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(again.pixel(5 * factor, 6 * factor), qRgb(1, 2, 3));
    QCOMPARE(RdpDesktopWidget::framebufferImage(&session.context).constBits(),
             framebuffer.constBits());

    // Where the widget is larger than the desktop (while it changes size), it is black.
    widget.resize(widget.width() + 7, widget.height() + 5);
    const QImage larger = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(larger.pixel(larger.width() - 1, 0), qRgb(0, 0, 0));
    QCOMPARE(larger.pixel(0, larger.height() - 1), qRgb(0, 0, 0));
    QCOMPARE(larger.pixel(5 * factor, 6 * factor), qRgb(1, 2, 3));
}

void TestRdpDesktopWidget::paintsOverlayPointer()
{
    FakeRdpSession session;
    session.setFramebuffer(100, 100).fill(Qt::black);
    RdpDesktopWidget widget(&session.context);
    widget.resize(100, 100);
    const auto nonBlack = [&] {
        const QImage shown = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
        QRect area;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                if (shown.pixel(x, y) != qRgb(0, 0, 0))
                    area |= QRect(x, y, 1, 1);
        return area;
    };
    QVERIFY(nonBlack().isEmpty());

    widget.handleOverlayMouseEvent(QPoint(30, 40), 0);
    const QRect drawn = nonBlack();
    QVERIFY(!drawn.isEmpty());
    QVERIFY(QRect(30, 40, 70, 60).contains(drawn));

    widget.handleOverlayMouseEvent(QPoint(-1, -1), 0);
    QVERIFY(nonBlack().isEmpty());
}

void TestRdpDesktopWidget::mouseButtons()
{
    FakeRdpSession session(2.0);
    session.setFramebuffer(1024, 768);
    RdpDesktopWidget widget(&session.context);
    widget.setInputSender(session.recorder());

    const auto send = [&](QEvent::Type type, QPoint pos, Qt::MouseButton button) {
        QMouseEvent event(type, pos, button, button, Qt::NoModifier);
        QApplication::sendEvent(&widget, &event);
    };
    send(QEvent::MouseButtonPress, QPoint(101, 51), Qt::LeftButton);
    send(QEvent::MouseButtonRelease, QPoint(101, 51), Qt::LeftButton);
    send(QEvent::MouseButtonPress, QPoint(100, 50), Qt::RightButton); // same remote pixel
    send(QEvent::MouseButtonRelease, QPoint(120, 50), Qt::RightButton);
    send(QEvent::MouseButtonPress, QPoint(-7, -3), Qt::MiddleButton);
    // The second press of a double click is a press like any other.
    send(QEvent::MouseButtonDblClick, QPoint(-7, -3), Qt::MiddleButton);
    QCOMPARE(session.sent, (QList<SentInput>{
                               mouseInput(0x8000 | 0x1000 | 0x0800, 50, 25),
                               mouseInput(0x1000, 50, 25),
                               mouseInput(0x8000 | 0x2000, 50, 25),
                               mouseInput(0x2000 | 0x0800, 60, 25),
                               mouseInput(0x8000 | 0x4000 | 0x0800, 0, 0),
                               mouseInput(0x8000 | 0x4000, 0, 0),
                           }));
}

void TestRdpDesktopWidget::mouseMovesAreCoalesced()
{
    FakeRdpSession session(2.0);
    session.setFramebuffer(200, 200);
    RdpDesktopWidget widget(&session.context);
    widget.setInputSender(session.recorder());
    widget.resize(widget.sizeHint());
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    session.sent.clear();

    const auto move = [&](QPoint pos) {
        QMouseEvent event(QEvent::MouseMove, pos, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&widget, &event);
    };
    // Moving the pointer makes moves of its own; let them pass first.
    QCursor::setPos(widget.mapToGlobal(QPoint(20, 20)));
    QTest::qWait(20);
    session.sent.clear();

    move(QPoint(20, 20));
    move(QPoint(40, 40)); // same pass of the event loop: not sent
    QCOMPARE(session.sent, QList<SentInput>{mouseInput(0x0800, 10, 10)});
    // The timer finds the pointer where it was sent last: nothing more.
    QTest::qWait(20);
    QCOMPARE(session.sent, QList<SentInput>{mouseInput(0x0800, 10, 10)});

    // The timer sends where the pointer is by then.
    move(QPoint(20, 22));
    QCursor::setPos(widget.mapToGlobal(QPoint(61, 41)));
    QTRY_VERIFY(session.sent.size() >= 3);
    QCOMPARE(session.sent.at(1), mouseInput(0x0800, 10, 11));
    QCOMPARE(session.sent.at(2), mouseInput(0x0800, 30, 20));
}

void TestRdpDesktopWidget::wheel()
{
    FakeRdpSession session;
    RdpDesktopWidget widget(&session.context);
    widget.setInputSender(session.recorder());
    for (int delta : {-240, 120, 60}) {
        QWheelEvent event(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, delta),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&widget, &event);
    }
    QCOMPARE(session.sent, (QList<SentInput>{mouseInput(0x3FE, 0, 0), mouseInput(0x201, 0, 0),
                                             mouseInput(0, 0, 0)}));
}

void TestRdpDesktopWidget::keys()
{
    FakeRdpSession session;
    RdpDesktopWidget widget(&session.context);
    widget.setInputSender(session.recorder());
    const auto key = [&](QEvent::Type type, int qtKey, quint32 keyCode, bool repeat = false) {
        QKeyEvent event(type, qtKey, Qt::NoModifier, keyCode, 0, 0, QString(), repeat);
        QApplication::sendEvent(&widget, &event);
        QVERIFY(event.isAccepted());
    };
    key(QEvent::KeyPress, Qt::Key_AltGr, 108);
    key(QEvent::KeyRelease, Qt::Key_AltGr, 108);
    key(QEvent::KeyPress, Qt::Key_Control, 37);
    key(QEvent::KeyPress, Qt::Key_Shift, 62);
    key(QEvent::KeyPress, Qt::Key_A, 38);
    key(QEvent::KeyRelease, Qt::Key_A, 38, true);
    key(QEvent::KeyPress, Qt::Key_A, 38, true);
    key(QEvent::KeyRelease, Qt::Key_A, 38);
    key(QEvent::KeyPress, Qt::Key_Tab, 23);
    QCOMPARE(session.sent, (QList<SentInput>{
                               keyInput(0x4100, 0x38),
                               keyInput(0x8100, 0x38),
                               keyInput(0x4000, 0x1D),
                               keyInput(0x4000, 0x36),
                               keyInput(0x4000, 0x1E),
                               keyInput(0x4000, 0x1E),
                               keyInput(0x8000, 0x1E),
                               keyInput(0x4000, 0x0F),
                           }));
}

void TestRdpDesktopWidget::deadKey()
{
    FakeRdpSession session;
    RdpDesktopWidget widget(&session.context);
    widget.setInputSender(session.recorder());
    QVERIFY(widget.handleDeadKey(0x29));
    QVERIFY(widget.handleDeadKey(0x11D));
    QCOMPARE(session.sent, (QList<SentInput>{keyInput(0x4000, 0x29), keyInput(0x8000, 0x29),
                                             keyInput(0x4100, 0x1D), keyInput(0x8100, 0x1D)}));
}

void TestRdpDesktopWidget::focusSynchronizesLocks()
{
    FakeRdpSession session;
    RdpDesktopWidget widget(&session.context);
    widget.setInputSender(session.recorder());
    QCOMPARE(widget.focusPolicy(), Qt::ClickFocus);
    QVERIFY(widget.hasMouseTracking());

    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(&widget, &out);
    QFocusEvent in(QEvent::FocusIn);
    QApplication::sendEvent(&widget, &in);
    // No X display on the offscreen platform: every lock counts as off.
    QCOMPARE(session.sent, (QList<SentInput>{syncInput(0), syncInput(localLockFlags())}));
}

void TestRdpDesktopWidget::overlayClickAnimation()
{
    FakeRdpSession session;
    RdpDesktopWidget widget(&session.context);
    QCOMPARE(widget.overlayMousePosition(), QPoint(-1, -1));
    QCOMPARE(widget.property("overlayMouseClickRadius").toDouble(), 0.0);

    widget.handleOverlayMouseEvent(QPoint(10, 10), 0x8000 | 0x1000);
    QCOMPARE(widget.overlayMousePosition(), QPoint(10, 10));
    QTRY_COMPARE_WITH_TIMEOUT(widget.overlayMouseClickRadius(), 10.0, 1000);

    // Still pressed: a second press changes nothing.
    widget.handleOverlayMouseEvent(QPoint(12, 10), 0x8000 | 0x1000);
    QTest::qWait(30);
    QCOMPARE(widget.overlayMouseClickRadius(), 10.0);

    widget.handleOverlayMouseEvent(QPoint(12, 10), 0x1000);
    // A move in the middle of the animation ends it at its end value at once.
    widget.handleOverlayMouseEvent(QPoint(13, 10), 0);
    QCOMPARE(widget.overlayMouseClickRadius(), 0.0);
}

void TestRdpDesktopWidget::showRegionRepaintsLocalArea()
{
    FakeRdpSession session(2.0);
    session.setFramebuffer(100, 100);
    RdpMainWidget window(&session.context);
    session.context.mainWidget = &window;
    auto *widget = new PaintRecorder(&session.context);
    widget->resize(widget->sizeHint());
    window.setDesktopWidget(widget);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(20);
    widget->painted = QRegion();

    // Painted at once, without a pass of the event loop.
    showRegion(&session.context, QRegion(QRect(QPoint(10, 10), QPoint(19, 19))));
    QCOMPARE(widget->painted, QRegion(QRect(QPoint(20, 20), QPoint(39, 39))));

    widget->painted = QRegion();
    showRegion(&session.context, QRegion());
    QVERIFY(widget->painted.isEmpty());
    session.context.mainWidget = nullptr;
}

void TestRdpDesktopWidget::pointerShapesBecomeCursors()
{
    FakeRdpSession session;
    session.setFramebuffer(64, 64);
    RdpMainWidget window(&session.context);
    session.context.mainWidget = &window;
    auto *widget = new RdpDesktopWidget(&session.context);
    window.setDesktopWidget(widget);

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
    QCOMPARE(widget->cursor().shape(), Qt::ArrowCursor);
    QVERIFY(pointer->Set(context, pointer));
    QCOMPARE(widget->cursor().shape(), Qt::BitmapCursor);
    QCOMPARE(widget->cursor().hotSpot(), QPoint(3, 5));
    QCOMPARE(widget->cursor().pixmap().toImage().pixel(8, 8), 0xFF2040A0u);

    // Hiding or resetting the pointer keeps the last shape.
    QVERIFY(pointer->SetNull(context));
    QVERIFY(pointer->SetDefault(context));
    QCOMPARE(widget->cursor().shape(), Qt::BitmapCursor);

    pointer->Free(context, pointer);
    free(pointer);
    context->graphics = nullptr;
    graphics_free(graphics);
    session.context.mainWidget = nullptr;
}

QTEST_MAIN(TestRdpDesktopWidget)
#include "tst_rdpdesktopwidget.moc"
