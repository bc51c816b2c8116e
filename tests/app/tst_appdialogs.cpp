#include "app/aboutdialog.h"
#include "app/logdialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QUrl>
#include <QtTest>

class TestAppDialogs : public QObject
{
    Q_OBJECT

private:
    struct Entry
    {
        QString webSite;
        QString name;
        QString licenceUrl;
        QString licenceText;
    };

    static QList<Entry> entries(const QString &html)
    {
        static const QRegularExpression entry(QStringLiteral(
            "<a href=\"([^\"]*)\"><span[^>]*>([^<]*)</span></a><span[^>]*> \\[</span>"
            "<a href=\"([^\"]*)\"><span[^>]*>([^<]*)</span></a><span[^>]*>\\]</span>"));
        QList<Entry> found;
        auto it = entry.globalMatch(html);
        while (it.hasNext()) {
            const auto match = it.next();
            found << Entry{match.captured(1), match.captured(2), match.captured(3),
                           match.captured(4)};
        }
        return found;
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setApplicationName(QStringLiteral("Nuvek"));
        QCoreApplication::setApplicationVersion(QStringLiteral("2.0.23"));
        QCoreApplication::setOrganizationName(QStringLiteral("Ostrane Rodorivezozoru"));
    }

    void logAppends_data()
    {
        QTest::addColumn<QStringList>("pieces");
        QTest::addColumn<QString>("text");
        QTest::newRow("no separator") << QStringList{"a", "b"} << "ab";
        QTest::newRow("line feed ends a piece") << QStringList{"one\n", "two"} << "one\ntwo";
        QTest::newRow("line feed inside") << QStringList{"x\ny", "z"} << "x\nyz";
        QTest::newRow("carriage return and line feed") << QStringList{"x\r\n", "y"} << "x\ny";
        QTest::newRow("carriage return alone") << QStringList{"x\r", "y"} << "x\ny";
        QTest::newRow("markup stays text") << QStringList{"<b>bold</b>", " &amp;"}
                                           << "<b>bold</b> &amp;";
        QTest::newRow("empty pieces") << QStringList{"", "a", ""} << "a";
    }

    void logAppends()
    {
        QFETCH(QStringList, pieces);
        QFETCH(QString, text);
        LogDialog dialog;
        auto *browser = dialog.findChild<QTextBrowser *>(QStringLiteral("TextBrowser"));
        QVERIFY(browser);
        for (const QString &piece : pieces)
            dialog.append(piece);
        QCOMPARE(browser->toPlainText(), text);
    }

    void logAppendGoesToTheEndAndClearsSelection()
    {
        LogDialog dialog;
        auto *browser = dialog.findChild<QTextBrowser *>(QStringLiteral("TextBrowser"));
        dialog.append(QStringLiteral("first line\nsecond"));
        QTextCursor cursor = browser->textCursor();
        cursor.setPosition(0);
        cursor.setPosition(5, QTextCursor::KeepAnchor);
        browser->setTextCursor(cursor);

        dialog.append(QStringLiteral(" end"));
        QCOMPARE(browser->toPlainText(), QStringLiteral("first line\nsecond end"));
        QVERIFY(!browser->textCursor().hasSelection());
        QCOMPARE(browser->textCursor().position(), browser->document()->characterCount() - 1);
    }

    void logForm()
    {
        LogDialog dialog;
        QCOMPARE(dialog.objectName(), QStringLiteral("LogDialog"));
        QCOMPARE(dialog.size(), QSize(400, 300));
        QVERIFY(dialog.windowTitle().isEmpty());
        auto *layout = dialog.findChild<QGridLayout *>(QStringLiteral("gridLayout"));
        auto *browser = dialog.findChild<QTextBrowser *>(QStringLiteral("TextBrowser"));
        auto *buttons = dialog.findChild<QDialogButtonBox *>(QStringLiteral("ButtonBox"));
        QVERIFY(layout && browser && buttons);
        QVERIFY(browser->isReadOnly());
        QCOMPARE(layout->indexOf(browser), 0);
        QCOMPARE(buttons->standardButtons(), QDialogButtonBox::Close);

        QSignalSpy rejected(&dialog, &QDialog::rejected);
        dialog.show();
        buttons->button(QDialogButtonBox::Close)->click();
        QCOMPARE(rejected.count(), 1);
        QVERIFY(!dialog.isVisible());
    }

    void licenceFolderFallsBackToExecutableFolder()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QCOMPARE(AboutDialog::licenceFolder(dir.path()), QDir(dir.path()).absolutePath());
        QVERIFY(QDir(dir.path()).mkdir("doc"));
        QCOMPARE(AboutDialog::licenceFolder(dir.path()), QDir(dir.filePath("doc")).absolutePath());
    }

    void aboutListsSixComponents()
    {
        AboutDialog dialog;
        QCOMPARE(dialog.objectName(), QStringLiteral("AboutDialog"));
        QCOMPARE(dialog.size(), QSize(640, 440));
        QVERIFY(dialog.windowFlags() & Qt::MSWindowsFixedSizeDialogHint);
        auto *label = dialog.findChild<QLabel *>(QStringLiteral("labelContributions"));
        QVERIFY(label);
        QVERIFY(label->openExternalLinks());
        QVERIFY(label->text().contains(QLatin1String("Open Source Software")));

        const QList<Entry> found = entries(label->text());
        const QStringList names{"Qt", "Qt Solutions", "FreeRDP", "PuTTY", "OpenSSL", "Ion Icons"};
        QCOMPARE(found.size(), names.size());
        const QString folder = AboutDialog::licenceFolder(QCoreApplication::applicationDirPath());
        for (int i = 0; i < names.size(); ++i) {
            QCOMPARE(found[i].name, names[i]);
            QCOMPARE(found[i].licenceText, QStringLiteral("license"));
            QVERIFY(found[i].webSite.startsWith(QLatin1String("https://")));

            const QUrl url(found[i].licenceUrl, QUrl::StrictMode);
            QVERIFY2(url.isValid() && url.isLocalFile(), qPrintable(found[i].licenceUrl));
            QCOMPARE(url.toLocalFile(), folder + '/' + names[i] + " License.html");
            // The page the link names is shipped with the sources (the build copies it).
            const QString page = QStringLiteral(NUVEK_SOURCE_DIR "/doc/") + url.fileName();
            QFile file(page);
            QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(page));
            const QByteArray content = file.readAll();
            QVERIFY(content.contains("<html") && content.contains("</html>"));
        }
    }

    void aboutProductInformation()
    {
        AboutDialog dialog;
        auto *label = dialog.findChild<QLabel *>(QStringLiteral("labelProductInformation"));
        QVERIFY(label);
        const QString text = label->text();
        QVERIFY(text.contains(QLatin1String(">Nuvek</span>")));
        QVERIFY(text.contains(QLatin1String(">2.0.23</span>")));
        QVERIFY(text.contains(QLatin1String("<a href=\"https://www.ostrane.example\">")));
        QVERIFY(text.contains(QLatin1String(">Ostrane Rodorivezozoru</span></a>")));
        QVERIFY(!text.contains(QLatin1String("PRODUCT INFORMATION")));
    }
};

QTEST_MAIN(TestAppDialogs)
#include "tst_appdialogs.moc"
