// The Debian packages of this build, unpacked into a scratch root: the programs run from
// there, the packages name what they need, and their checkers find no errors.
#include "support/testsupport.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Runs the program with `input`: its exit code (-1 when it did not end by itself), its output
// and errors in `output`.
int run(const QString &program, const QStringList &arguments, QString *output = nullptr,
        const QByteArray &input = QByteArray())
{
    QProcess process; // its destructor ends it when it overstays
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    const bool ended = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit;
    if (output) *output = QString::fromLocal8Bit(process.readAll());
    return ended ? process.exitCode() : -1;
}

} // namespace

class TestPackages : public QObject
{
    Q_OBJECT

    QTemporaryDir scratch;
    QString root = scratch.filePath(QStringLiteral("root"));
    QMap<QString, QString> debs; // package name -> file

private slots:
    void initTestCase()
    {
        // What "make deb" does, over this build and without building anything.
        const QString out = scratch.filePath(QStringLiteral("packages"));
        QString log;
        QVERIFY2(run("cpack", {"-G", "DEB", "-B", out, "--config", nuvekBinDir() + "/../CPackConfig.cmake"},
                     &log) == 0, qPrintable(log));
        for (const QFileInfo &deb : QDir(out).entryInfoList({"*.deb"}, QDir::Files)) {
            debs.insert(deb.fileName().section(QLatin1Char('_'), 0, 0), deb.filePath());
            QCOMPARE(run("dpkg-deb", {"-x", deb.filePath(), root}), 0);
        }
        QCOMPARE(debs.keys(), (QStringList{"nuvek", "nuvek-server"}));
    }

    void dependencies_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("needed");
        QTest::newRow("client") << "nuvek"
                                << QStringList{"libqt5widgets5", "libqt5svg5", "libfreerdp-client2-2", "openssh-client"};
        QTest::newRow("server") << "nuvek-server" << QStringList{"libqt5core5a", "tigervnc-standalone-server"};
    }

    void dependencies()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, needed);
        QString depends;
        QCOMPARE(run("dpkg-deb", {"-f", debs.value(name), "Depends"}, &depends), 0);
        for (const QString &package : needed)
            QVERIFY2(depends.contains(QRegularExpression("(^|, )" + package + "[ ,\n]")), qPrintable(depends));
    }

    void checkersAgree_data()
    {
        // Arguments: %name is that package's file, /path that file in the scratch root.
        QTest::addColumn<QString>("checker");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("lintian") << "lintian" << QStringList{"%nuvek", "%nuvek-server"};
        QTest::newRow("desktop entry") << "desktop-file-validate"
                                       << QStringList{"/usr/share/applications/example.ostrane.nuvek.desktop"};
        QTest::newRow("AppStream") << "appstreamcli"
                                   << QStringList{"validate", "--no-net", "/usr/share/metainfo/example.ostrane.nuvek.metainfo.xml"};
    }

    void checkersAgree()
    {
        QFETCH(QString, checker);
        QFETCH(QStringList, arguments);
        if (QStandardPaths::findExecutable(checker).isEmpty())
            QSKIP("the checker is not installed");
        for (QString &argument : arguments)
            argument = argument.startsWith('%') ? debs.value(argument.mid(1))
                       : argument.startsWith('/') ? root + argument : argument;
        QString log;
        QVERIFY2(run(checker, arguments, &log) == 0, qPrintable(log));
    }

    void germanTranslationComplete()
    {
        QFile ts(QStringLiteral(NUVEK_SOURCE_DIR "/src/resources/translations/nuvek_de.ts"));
        QVERIFY(ts.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(ts.readAll());
        QVERIFY(text.count("<message") > 50
                && text.count("type=\"unfinished\"") + text.count("<translation></translation>") == 0);
    }

    void installedServerAnswers()
    {
        // The request waits in the pipe until the server has printed its start marker.
        const QByteArray request = R"({"id":"1","jsonrpc":"2.0","method":"Nuvek.version","params":{}})";
        QString output;
        QCOMPARE(run("env", {"XDG_DATA_HOME=" + scratch.filePath("data"), root + "/usr/bin/nuvek2_sci"}, &output,
                     QByteArray::number(request.size()) + ':' + request + ','), 0);
        QVERIFY2(output.contains(QRegularExpression("^---- BEGIN Nuvek NetString ----\\s*\\d+:\\{.*\"id\":\"1\",.*\"result\"")),
                 qPrintable(output));
    }

    void installedClient_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("title");
        QTest::newRow("source texts") << "C" << "Connections";
        QTest::newRow("German") << "de_DE.UTF-8" << "Verbindungen";
    }

    // The window shows on an X display of its own, in the language of the environment.
    void installedClient()
    {
        QFETCH(QString, lang);
        QFETCH(QString, title);
        const QString client = root + "/usr/bin/nuvek";
        QString version;
        QVERIFY(run(client, {"--version"}, &version) == 0
                && version.contains(QRegularExpression("^nuvek \\d+\\.\\d+\\.\\d+\n$")));
        QProcess xvfb;
        const QString display = QString::fromLatin1(startXvfb(xvfb, QSize(800, 600)));
        QVERIFY(!display.isEmpty());
        QTemporaryDir home;
        QProcessEnvironment environment; // nothing of the test's own, a locale least of all
        for (const char *name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"})
            environment.insert(name, home.path());
        environment.insert("DISPLAY", display);
        environment.insert("LANG", lang);
        environment.insert("LANGUAGE", lang.left(2));
        QProcess nuvek;
        nuvek.setProcessEnvironment(environment);
        nuvek.start(client, QStringList());
        QTRY_VERIFY_WITH_TIMEOUT(
            run("env", {"DISPLAY=" + display, "xdotool", "search", "--name", "^" + title + "$"}) == 0, 20000);
        xvfb.terminate(); // the client ends with its display
        QVERIFY(xvfb.waitForFinished(10000) && nuvek.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(TestPackages)
#include "tst_packages.moc"
