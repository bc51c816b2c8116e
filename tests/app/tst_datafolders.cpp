#include "app/datafolders.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

class TestDataFolders : public QObject
{
    Q_OBJECT

private:
    static QProcessEnvironment environment(const QStringList &assignments)
    {
        QProcessEnvironment env;
        for (const QString &assignment : assignments) {
            const int equals = assignment.indexOf(QLatin1Char('='));
            env.insert(assignment.left(equals), assignment.mid(equals + 1));
        }
        return env;
    }

private slots:
    void installModes_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<int>("mode");
        QTest::newRow("no marker") << QStringList() << QStringList() << int(StandardInstall);
        QTest::newRow("localinstall") << QStringList{"localinstall"} << QStringList()
                                      << int(LocalInstall);
        QTest::newRow("flashinstall") << QStringList{"flashinstall"} << QStringList()
                                      << int(FlashInstall);
        QTest::newRow("both markers") << QStringList{"flashinstall", "localinstall"}
                                      << QStringList() << int(LocalInstall);
        QTest::newRow("folder as marker") << QStringList() << QStringList{"flashinstall"}
                                          << int(FlashInstall);
        QTest::newRow("folder and file") << QStringList{"flashinstall"}
                                         << QStringList{"localinstall"} << int(LocalInstall);
        QTest::newRow("other names") << QStringList{"LocalInstall", "localinstall.txt"}
                                     << QStringList{"flash"} << int(StandardInstall);
    }

    void installModes()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, folders);
        QFETCH(int, mode);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        for (const QString &name : files) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        for (const QString &name : folders)
            QVERIFY(QDir(dir.path()).mkdir(name));
        QCOMPARE(int(installMode(dir.path())), mode);
    }

    void dataFolders_data()
    {
        QTest::addColumn<QStringList>("env");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("global");
        const QString app = QStringLiteral("/Ostrane Rodorivezozoru/Nuvek");
        QTest::newRow("defaults") << QStringList{"HOME=/home/u"} << "/home/u/.local/share" + app
                                  << "/etc/xdg" + app;
        QTest::newRow("overrides")
            << QStringList{"HOME=/home/u", "XDG_DATA_HOME=/data/u", "XDG_CONFIG_DIRS=/opt/cfg:/etc/xdg"}
            << "/data/u" + app << "/opt/cfg" + app;
        QTest::newRow("trailing slashes")
            << QStringList{"HOME=/home/u/", "XDG_CONFIG_DIRS=/opt/cfg/"}
            << "/home/u/.local/share" + app << "/opt/cfg" + app;
        QTest::newRow("empty values")
            << QStringList{"HOME=/home/u", "XDG_DATA_HOME=", "XDG_CONFIG_DIRS="}
            << "/home/u/.local/share" + app << "/etc/xdg" + app;
        QTest::newRow("relative values are ignored")
            << QStringList{"HOME=/home/u", "XDG_DATA_HOME=data", "XDG_CONFIG_DIRS=cfg"}
            << "/home/u/.local/share" + app << "/etc/xdg" + app;
        QTest::newRow("empty first entry is skipped")
            << QStringList{"HOME=/home/u", "XDG_CONFIG_DIRS=::/opt/cfg"}
            << "/home/u/.local/share" + app << "/opt/cfg" + app;
    }

    void dataFolders()
    {
        QFETCH(QStringList, env);
        QFETCH(QString, user);
        QFETCH(QString, global);
        QCOMPARE(userDataDir(environment(env)).path(), user);
        QCOMPARE(globalDataDir(environment(env)).path(), global);
    }

    void userDataDirWithoutHomeUsesPasswdEntry()
    {
        const QString path = userDataDir(QProcessEnvironment()).path();
        QVERIFY(path.endsWith(QLatin1String("/.local/share/Ostrane Rodorivezozoru/Nuvek")));
        QVERIFY(QDir::isAbsolutePath(path));
    }

    void profileFolderTable_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("global");
        QTest::newRow("standard") << int(StandardInstall) << "/u/Connections" << "/g/Connections";
        QTest::newRow("local") << int(LocalInstall) << "/u/Connections" << QString();
        QTest::newRow("flash") << int(FlashInstall) << "/exe/Connections" << QString();
    }

    void profileFolderTable()
    {
        QFETCH(int, mode);
        QFETCH(QString, user);
        QFETCH(QString, global);
        const ProfileFolders folders =
            profileFolders(InstallMode(mode), "/exe", QDir("/u"), QDir("/g"));
        QCOMPARE(folders.user, user);
        QCOMPARE(folders.global, global);
    }

    void globalDataDirWritable()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(isGlobalDataDirWritable(QDir(dir.path())));
        // The folder itself counts, not its "Connections" subfolder.
        QVERIFY(!QFileInfo::exists(dir.filePath("Connections")));

        QVERIFY(!isGlobalDataDirWritable(QDir(dir.filePath("missing"))));
        QVERIFY(!isGlobalDataDirWritable(QDir(QString())));

        QFile file(dir.filePath("plain"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(!isGlobalDataDirWritable(QDir(file.fileName())));

        if (geteuid() != 0) {
            const QString locked = dir.filePath("locked");
            QVERIFY(QDir(dir.path()).mkdir("locked"));
            QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
            QVERIFY(!isGlobalDataDirWritable(QDir(locked)));
            QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
    }
};

QTEST_GUILESS_MAIN(TestDataFolders)
#include "tst_datafolders.moc"
