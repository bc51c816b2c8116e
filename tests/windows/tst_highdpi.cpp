// On a screen scaled by 2 the list windows draw their icons at the screen's resolution, not
// as 1x pictures blown up: each icon is compared with itself at half the resolution, scaled
// up again. Pixels doubled have no detail within their 2x2 blocks, smoothed ones soft edges.
#include "app/applicationsetup.h"
#include "connections/connectionlistwidget.h"
#include "sessions/sessionlistwidget.h"
#include "support/fakelink.h"

#include <QAbstractButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// {distance of pixels from the mean of their 2x2 block, squared steps between neighbours}
std::pair<double, double> sharpness(const QImage &image)
{
    double blockDetail = 0, edgeEnergy = 0;
    const auto at = [&](int x, int y) { return double(qGray(image.pixel(x, y))); };
    for (int y = 0; y + 1 < image.height(); ++y) {
        for (int x = 0; x + 1 < image.width(); ++x) {
            edgeEnergy += std::pow(at(x + 1, y) - at(x, y), 2) + std::pow(at(x, y + 1) - at(x, y), 2);
            const double block[4] = {at(x, y), at(x + 1, y), at(x, y + 1), at(x + 1, y + 1)};
            for (int i = 0; i < 4 && x % 2 == 0 && y % 2 == 0; ++i)
                blockDetail += qAbs(block[i] - (block[0] + block[1] + block[2] + block[3]) / 4);
        }
    }
    return {blockDetail, edgeEnergy};
}

} // namespace

class TestHighDpi : public QObject
{
    Q_OBJECT

private slots:
    void iconsSharp_data()
    {
        QTest::addColumn<bool>("sessions");
        QTest::newRow("Connections") << false;
        QTest::newRow("Sessions") << true;
    }

    void iconsSharp()
    {
        QFETCH(bool, sessions);
        QTemporaryDir folder;
        FakeLink link;
        std::unique_ptr<QWidget> window(sessions ? static_cast<QWidget *>(new SessionListWidget(&link.handler))
                                                 : new ConnectionListWidget(folder.path(), folder.path(), nullptr, false));
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        const QList<QAbstractButton *> buttons = window->findChildren<QAbstractButton *>();
        QVERIFY(std::any_of(buttons.begin(), buttons.end(), [](auto *b) { return !b->icon().isNull(); }));
        for (QAbstractButton *button : buttons) {
            if (button->icon().isNull() || !button->isVisible())
                continue;
            const QImage shot = button->grab().toImage();
            const QSize size = button->iconSize() * 2, margin = (shot.size() - size) / 2;
            const QImage icon = shot.copy(QRect(QPoint(margin.width() & ~1, margin.height() & ~1), size));
            const auto drawn = sharpness(icon);
            const auto blurred = sharpness(icon.scaled(size / 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                               .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
            QVERIFY2(drawn.first > 0.5 * blurred.first && drawn.second > 2 * blurred.second,
                     qPrintable(button->objectName()));
        }
    }
};

int main(int argc, char *argv[])
{
    qputenv("QT_SCALE_FACTOR", "2"); // a screen with twice the pixels
    prepareApplicationSetup();       // as the client starts
    QApplication app(argc, argv);
    TestHighDpi test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_highdpi.moc"
