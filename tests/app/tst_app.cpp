// The application's own rules: where its data lives, how the log shows text.

#include "app/datafolders.h"

#include <QtTest>

class TestApp : public QObject
{
    Q_OBJECT

private slots:
    void dataFolders_data()
    {
        QTest::addColumn<QStringList>("env");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("global");
        const QString app = "/Ostrane Rodorivezozoru/Nuvek";
        QTest::newRow("empty values") << QStringList{"HOME=/home/u", "XDG_DATA_HOME=", "XDG_CONFIG_DIRS="}
                                      << "/home/u/.local/share" + app << "/etc/xdg" + app;
        QTest::newRow("empty first entry is skipped") << QStringList{"HOME=/home/u/", "XDG_CONFIG_DIRS=::/opt/cfg/"}
                                                      << "/home/u/.local/share" + app << "/opt/cfg" + app;
    }

    void dataFolders()
    {
        QFETCH(QStringList, env);
        QProcessEnvironment environment;
        for (const QString &assignment : env)
            environment.insert(assignment.section('=', 0, 0), assignment.section('=', 1));
        QTEST(userDataDir(environment).path(), "user");
        QTEST(globalDataDir(environment).path(), "global");
    }

};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
