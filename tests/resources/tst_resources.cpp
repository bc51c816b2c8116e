#include <QColor>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QXmlSchema>
#include <QtTest>

// The images and the profile schema compiled into the client.
class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }

    void svgIconRendersInItsColour_data();
    void svgIconRendersInItsColour();
    void windowImages();
    void cursorHasItsTipTopLeft();
    void schemaIsUsable();

private:
    static QImage render(const QString &path);
};

QImage TestResources::render(const QString &path)
{
    QSvgRenderer renderer(path);
    if (!renderer.isValid())
        return QImage();
    QImage image(64, 64, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    return image;
}

void TestResources::svgIconRendersInItsColour_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QColor>("colour");

    const QColor black(Qt::black), white(Qt::white);
    const QColor blue(0x11, 0x9E, 0xD1), red(0xD9, 0x53, 0x4F);
    const QList<QPair<QString, QColor>> icons = {
        {"android-share-alt", black},
        {"android-star-outline-white", white},
        {"arrow-expand", black},
        {"arrow-resize", black},
        {"close-round-white", white},
        {"edit-blue", blue},
        {"gear-a", black},
        {"ios-bookmarks-outline", black},
        {"ios-clock-outline", black},
        {"ios-game-controller-b-outline-white", white},
        {"ios-information-outline", black},
        {"ios-paper-outline", black},
        {"pause", black},
        {"pause-white", white},
        {"play-white", white},
        {"plus-round", black},
        {"power", black},
        {"power-red", red},
        {"share", black},
    };
    for (const auto &icon : icons)
        QTest::newRow(qPrintable(icon.first))
            << QStringLiteral(":/images/resources/%1.svg").arg(icon.first) << icon.second;
}

void TestResources::svgIconRendersInItsColour()
{
    QFETCH(QString, file);
    QFETCH(QColor, colour);

    const QImage image = render(file);
    QVERIFY2(!image.isNull(), qPrintable(file));

    // Every fully covered pixel has the icon's colour, and there are some.
    int opaque = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() != 255)
                continue;
            ++opaque;
            QCOMPARE(pixel.rgb(), colour.rgb());
        }
    }
    QVERIFY(opaque > 20);
}

void TestResources::windowImages()
{
    const QImage icon(":/images/resources/Nuvek.png");
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.width(), icon.height());
    QVERIFY(icon.width() >= 64);

    const QImage logo(":/images/resources/Nuvek_logo.png");
    QVERIFY(!logo.isNull());
    QVERIFY(logo.width() >= 100 && logo.width() <= 256);
}

void TestResources::cursorHasItsTipTopLeft()
{
    const QImage cursor(":/images/resources/cursor.png");
    QVERIFY(!cursor.isNull());
    QCOMPARE(cursor.size(), QSize(32, 32));
    QVERIFY(cursor.hasAlphaChannel());
    QCOMPARE(cursor.pixelColor(0, 0).alpha(), 255);
    QCOMPARE(cursor.pixelColor(31, 0).alpha(), 0);
    QCOMPARE(cursor.pixelColor(31, 31).alpha(), 0);
}

void TestResources::schemaIsUsable()
{
    QFile file(":/schemas/resources/Connection.schema");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.peek(12).startsWith("<xsd:schema"));

    QXmlSchema schema;
    QVERIFY(schema.load(QUrl("qrc:/schemas/resources/Connection.schema")));
    QVERIFY(schema.isValid());
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
