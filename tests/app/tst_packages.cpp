// The Debian packages of this build, unpacked into a scratch root: the programs run from
// there, the packages name what they need, and the desktop files are valid.
#include "support/testsupport.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Result
{
    int exitCode = -1;
    QString output; // standard output and error
};

Result run(const QString &program, const QStringList &arguments, int timeoutMs = 120000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    Result result;
    if (process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    else
        process.kill(), process.waitForFinished();
    result.output = QString::fromLocal8Bit(process.readAll());
    return result;
}

bool haveTools(const QStringList &names)
{
    for (const QString &name : names)
        if (QStandardPaths::findExecutable(name).isEmpty())
            return false;
    return true;
}

// The Debian packages that hold `files` (one dpkg call: it is slow to start), by file. dpkg
// knows a file by one of its names only (/lib or /usr/lib, the link or its target).
QMap<QString, QString> owningPackages(const QStringList &files)
{
    QStringList names;
    for (const QString &file : files)
        names << file << "/usr" + file << QFileInfo(file).canonicalFilePath();
    QMap<QString, QString> byName;
    for (const QString &line : run("dpkg", QStringList{"-S"} + names).output.split('\n'))
        byName.insert(line.section(QStringLiteral(": "), 1), line.section(QLatin1Char(':'), 0, 0));
    QMap<QString, QString> owners;
    for (int i = 0; i < names.size(); ++i)
        if (!owners.contains(files.at(i / 3)) && byName.contains(names.at(i)))
            owners.insert(files.at(i / 3), byName.value(names.at(i)));
    return owners;
}

} // namespace

class TestPackages : public QObject
{
    Q_OBJECT

    QTemporaryDir scratch;
    QString root;
    QMap<QString, QString> debs; // package name -> file

    QString package(const QString &name) const { return debs.value(name); }

private slots:
    void initTestCase()
    {
        if (!haveTools({"cpack", "dpkg-deb", "dpkg-shlibdeps"}))
            QSKIP("cpack and dpkg-dev are needed to make the packages");
        // What "make deb" does, over this build and without building anything.
        const QString build = QDir(nuvekBinDir()).absoluteFilePath(QStringLiteral(".."));
        const QString out = scratch.filePath(QStringLiteral("packages"));
        const Result made = run(QStringLiteral("cpack"),
                                {"-G", "DEB", "-B", out, "--config", build + "/CPackConfig.cmake"});
        QVERIFY2(made.exitCode == 0, qPrintable(made.output));
        root = scratch.filePath(QStringLiteral("root"));
        for (const QFileInfo &deb : QDir(out).entryInfoList({"*.deb"}, QDir::Files)) {
            debs.insert(deb.fileName().section(QLatin1Char('_'), 0, 0), deb.filePath());
            QCOMPARE(run(QStringLiteral("dpkg-deb"), {"-x", deb.filePath(), root}).exitCode, 0);
        }
        QCOMPARE(debs.keys(), (QStringList{"nuvek", "nuvek-server"}));
    }

    void dependencies_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("client") << "nuvek";
        QTest::newRow("server") << "nuvek-server";
    }

    // Every library a packaged program links to comes from a package it depends on.
    void dependencies()
    {
        QFETCH(QString, name);
        const QString depends = run("dpkg-deb", {"-f", package(name), "Depends"}).output;
        const QStringList files = run("dpkg-deb", {"-c", package(name)}).output.split('\n');
        QStringList libraries; // those the programs need themselves, not their libraries
        for (const QString &line : files) {
            const QString path = line.section(QLatin1Char(' '), -1).mid(1); // "./usr/..."
            if (!line.startsWith(QLatin1Char('-')) || !QRegularExpression("^/usr/(bin|libexec|lib)/").match(path).hasMatch())
                continue;
            const QString ldd = run("ldd", {root + path}).output;
            QVERIFY2(!ldd.contains("not found"), qPrintable(path + ":\n" + ldd));
            const QString needed = run("objdump", {"-p", root + path}).output;
            static const QRegularExpression library("^\\s*(\\S+) => (/\\S+)", QRegularExpression::MultilineOption);
            for (auto it = library.globalMatch(ldd); it.hasNext();) {
                const QRegularExpressionMatch match = it.next();
                if (needed.contains(QRegularExpression("NEEDED\\s+" + QRegularExpression::escape(match.captured(1)) + "\n")))
                    libraries << match.captured(2);
            }
        }
        libraries.removeDuplicates();
        QVERIFY(!libraries.isEmpty());
        const QMap<QString, QString> owners = owningPackages(libraries);
        for (const QString &library : libraries)
            QVERIFY2(owners.contains(library) && depends.contains(owners.value(library)),
                     qPrintable(library + " of " + owners.value(library) + "; " + depends));
    }

    void lintianFindsNoErrors()
    {
        if (!haveTools({"lintian"}))
            QSKIP("lintian is not installed");
        const Result lint = run("lintian", debs.values());
        QVERIFY2(!QRegularExpression("^E: ", QRegularExpression::MultilineOption).match(lint.output).hasMatch(),
                 qPrintable(lint.output));
    }

    void metadataValidates_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("folder");
        QTest::newRow("desktop entry") << "desktop-file-validate" << QStringList() << "/usr/share/applications";
        QTest::newRow("AppStream") << "appstreamcli" << QStringList{"validate", "--no-net"} << "/usr/share/metainfo";
    }

    void metadataValidates()
    {
        QFETCH(QString, tool);
        QFETCH(QStringList, arguments);
        QFETCH(QString, folder);
        if (!haveTools({tool}))
            QSKIP("the validator is not installed");
        const QFileInfoList files = QDir(root + folder).entryInfoList(QDir::Files);
        QCOMPARE(files.size(), 1);
        const Result check = run(tool, arguments << files.first().filePath());
        QVERIFY2(check.exitCode == 0, qPrintable(check.output));
    }

    void germanTranslationComplete()
    {
        QFile ts(QStringLiteral(NUVEK_SOURCE_DIR "/src/resources/translations/nuvek_de.ts"));
        QVERIFY(ts.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(ts.readAll());
        QVERIFY(text.count("<message") > 50);
        QCOMPARE(text.count("type=\"unfinished\""), 0);
        QCOMPARE(text.count("<translation></translation>"), 0);
    }

    void installedServerAnswers()
    {
        QProcess server;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", scratch.filePath("home"));
        environment.insert("XDG_DATA_HOME", scratch.filePath("home/data"));
        server.setProcessEnvironment(environment);
        server.start(root + "/usr/bin/nuvek2_sci", QStringList());
        QByteArray output;
        while (!output.contains("---- BEGIN Nuvek NetString ----\n") && server.waitForReadyRead(10000))
            output += server.readAllStandardOutput();
        const QByteArray request = R"({"id":"1","jsonrpc":"2.0","method":"Nuvek.version","params":{}})";
        server.write(QByteArray::number(request.size()) + ':' + request + ',');
        server.closeWriteChannel();
        QVERIFY(server.waitForFinished(10000));
        output += server.readAllStandardOutput();
        QVERIFY2(output.contains(R"("id":"1")") && output.contains(R"("result")"), output.constData());
    }

    void installedClient_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("title");
        QTest::newRow("source texts") << "C" << "Connections";
        QTest::newRow("German") << "de_DE.UTF-8" << "Verbindungen";
    }

    void installedClient()
    {
        QFETCH(QString, lang);
        QFETCH(QString, title);
        const QString client = root + "/usr/bin/nuvek";
        QVERIFY(QRegularExpression("^nuvek \\d+\\.\\d+\\.\\d+\n$").match(run(client, {"--version"}).output).hasMatch());
        if (!haveTools({"Xvfb", "xdotool"}))
            QSKIP("Xvfb and xdotool are needed to see the window");
        QProcess xvfb;
        xvfb.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"});
        QVERIFY(xvfb.waitForReadyRead(15000));
        const QString display = ":" + QString::fromLatin1(xvfb.readAllStandardOutput()).trimmed();

        QTemporaryDir home;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"})
            environment.insert(name, home.path());
        environment.remove("QT_QPA_PLATFORM");
        environment.remove("LC_ALL");
        environment.remove("LC_MESSAGES");
        environment.insert("DISPLAY", display);
        environment.insert("LANG", lang);
        environment.insert("LANGUAGE", lang.left(2));
        QProcess nuvek;
        nuvek.setProcessEnvironment(environment);
        nuvek.start(client, QStringList());
        QTRY_VERIFY_WITH_TIMEOUT(
            run("env", {"DISPLAY=" + display, "xdotool", "search", "--name", "^" + title + "$"}).exitCode == 0,
            20000);
        nuvek.terminate();
        QVERIFY(nuvek.waitForFinished(10000) || (nuvek.kill(), nuvek.waitForFinished()));
        xvfb.terminate();
        xvfb.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(TestPackages)
#include "tst_packages.moc"
