#include "connections/connection.h"
#include "connections/connectioneditor.h"
#include "connections/connectionfolders.h"
#include "connections/connectionlistwidget.h"
#include "connections/connectionmodel.h"
#include "link/questiondialog.h"
#include "support/fakeplink.h"
#include "support/testsupport.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QtTest>

namespace {

// The pieces of the window the tests drive.
struct Window
{
    Window(const QString &userFolder, const QString &globalFolder, bool globalWritable)
        : widget(userFolder, globalFolder, nullptr, globalWritable)
        , view(widget.findChild<QTableView *>("ConnectionListView"))
        , proxy(qobject_cast<QSortFilterProxyModel *>(view->model()))
        , editButton(widget.findChild<QPushButton *>("EditConnectionButton"))
        , removeButton(widget.findChild<QPushButton *>("RemoveConnectionButton"))
    {
        widget.show();
    }

    QStringList shownNames() const
    {
        QStringList names;
        for (int row = 0; row < proxy->rowCount(); ++row)
            names << proxy->index(row, 0).data(ConnectionModel::NameRole).toString();
        return names;
    }
    void select(const QString &name)
    {
        view->setCurrentIndex(proxy->index(shownNames().indexOf(name), 0));
        QCoreApplication::processEvents();
    }

    ConnectionListWidget widget;
    QTableView *view;
    QSortFilterProxyModel *proxy;
    QPushButton *editButton;
    QPushButton *removeButton;
};

} // namespace

class TestConnectionListWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void addProfile_data();
    void addProfile();
    void failuresKeepTheList_data();
    void failuresKeepTheList();

    void editorFields_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("saved"); // the port saved; 0: not acceptable
        QTest::addColumn<QString>("error"); // the box a press of Save brings
        QTest::newRow("blanks inside and at the end kept") << "My lab " << "lab 7 " << "22" << 22 << "";
        QTest::newRow("empty name") << "" << "lab7" << "22" << 0 << "";
        QTest::newRow("host starts with a tab") << "Lab" << "\tlab7" << "22" << 0 << "";
        // The SSH client would take it for an option.
        QTest::newRow("host starts with a dash") << "Lab" << "-oProxyCommand=x" << "22" << 0
                                                 << "cannot begin with \"-\"";
        QTest::newRow("port with a leading zero") << "Lab" << "lab7" << "0443" << 443 << "";
        QTest::newRow("port 0") << "Lab" << "lab7" << "0" << 0 << "";
    }

    // Both save buttons follow the fields; only an accepted dialog copies them, unchanged.
    void editorFields()
    {
        QFETCH(QString, name);
        QFETCH(QString, host);
        QFETCH(QString, port);
        QFETCH(int, saved);
        QFETCH(QString, error);
        ConnectionEditor editor(makeProfile(QString(), "Lab", "lab7", 2222, "ops"));
        editor.addSaveAsGlobalButton();
        auto *global = editor.findChild<QPushButton *>("globalButton");
        editor.findChild<QLineEdit *>("NameLineEdit")->setText(name);
        editor.findChild<QLineEdit *>("HostLineEdit")->setText(host);
        editor.findChild<QLineEdit *>("PortLineEdit")->setText(port);
        QCOMPARE(editor.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Save)->isEnabled(), saved || !error.isEmpty());
        QCOMPARE(global->isEnabled(), saved || !error.isEmpty());
        QCOMPARE(editor.connection().name(), QStringLiteral("Lab"));
        QSignalSpy accepted(&editor, &QDialog::accepted);
        editor.show();
        QTest::keyClick(editor.findChild<QLineEdit *>("UserLineEdit"), Qt::Key_Return);
        QCOMPARE(accepted.count(), saved ? 1 : 0);
        QCOMPARE(editor.isVisible(), !saved);
        QVERIFY(!editor.isGlobal());
        QCOMPARE(visibleErrorBoxes().size(), error.isEmpty() ? 0 : 1);
        QVERIFY2(visibleErrorBoxTexts().contains(error), qPrintable(visibleErrorBoxTexts()));
        if (saved) {
            QCOMPARE(editor.connection().name(), name);
            QCOMPARE(editor.connection().host(), host);
            QCOMPARE(int(editor.connection().port()), saved);
        }
    }

private:
    QString userFolder() const { return dir->filePath("user/Connections"); }
    QString globalFolder() const { return dir->filePath("global/Connections"); }
    Connection profile(const QString &name, const QString &folder = QString())
    {
        return makeProfile(folder.isNull() ? userFolder() : folder, name, "lab7", 0, QString());
    }
    static QList<ConnectionEditor *> editors() { return topLevelWindows<ConnectionEditor>(); }

    std::unique_ptr<QTemporaryDir> dir;
    QTemporaryDir settings;
    // An added profile is opened at once: a stand-in SSH client that ends at once.
    std::unique_ptr<FakePlink> plink;
};

void TestConnectionListWidget::initTestCase()
{
    prepareClientEnvironment(settings.path());
    plink = std::make_unique<FakePlink>();
    QVERIFY(plink->isValid());
    // Names sort by the user's locale; pin one whose rules ignore case at first level.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestConnectionListWidget::init()
{
    dir = std::make_unique<QTemporaryDir>();
}

void TestConnectionListWidget::cleanup()
{
    QTRY_VERIFY(childProcessIds("plink").isEmpty() && childProcessIds("askpass").isEmpty());
    qDeleteAll(visibleErrorBoxes());
    for (QWidget *widget : topLevelWindows<QWidget>()) {
        if (widget->testAttribute(Qt::WA_DeleteOnClose))
            widget->close();
    }
    QTRY_VERIFY(topLevelWindows<ConnectionEditor>().isEmpty());
}

void TestConnectionListWidget::addProfile_data()
{
    QTest::addColumn<bool>("hasGlobalFolder");
    QTest::addColumn<bool>("writable");
    QTest::addColumn<bool>("global"); // saved with "Save As Global"; only offered for a writable global folder
    QTest::addColumn<bool>("blocked"); // the folder cannot be written
    QTest::newRow("user") << true << true << false << false;
    QTest::newRow("global") << true << true << true << false;
    QTest::newRow("global folder not writable") << true << false << false << false;
    QTest::newRow("unwritable user folder") << false << false << false << true;
}

void TestConnectionListWidget::addProfile()
{
    QFETCH(bool, hasGlobalFolder);
    QFETCH(bool, writable);
    QFETCH(bool, global);
    QFETCH(bool, blocked);
    profile("zeta");
    Window window(userFolder(), hasGlobalFolder ? globalFolder() : QString(), writable);
    QTest::mouseClick(window.widget.findChild<QPushButton *>("AddConnectionButton"), Qt::LeftButton);
    QCOMPARE(editors().size(), 1);
    ConnectionEditor *editor = editors().first();
    auto *globalButton = editor->findChild<QPushButton *>("globalButton");
    QCOMPARE(globalButton != nullptr, hasGlobalFolder && writable);
    editor->findChild<QLineEdit *>("NameLineEdit")->setText("Lab");
    editor->findChild<QLineEdit *>("HostLineEdit")->setText("lab7");
    const QUuid uid = editor->connection().uid();
    if (blocked) { // a file where the folder should be
        QVERIFY(QDir(userFolder()).removeRecursively());
        QVERIFY(QFile(userFolder()).open(QIODevice::WriteOnly));
    }
    QTest::mouseClick(global ? globalButton : editor->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Save),
                      Qt::LeftButton);
    if (blocked) {
        QCOMPARE(visibleErrorBoxes().size(), 1);
        QVERIFY(visibleErrorBoxes().first()->text().startsWith("Failed to add the connection.<br><br>"));
        QCOMPARE(window.shownNames(), QStringList({"zeta"}));
        return;
    }
    QTRY_VERIFY(editors().isEmpty());
    QCOMPARE(loadConnection(connectionFilePath(global ? globalFolder() : userFolder(), uid)).name(), QStringLiteral("Lab"));
    QVERIFY(!QFile::exists(connectionFilePath(global ? userFolder() : globalFolder(), uid)));
    // Listed in name order and made the current row.
    QCOMPARE(window.shownNames(), QStringList({"Lab", "zeta"}));
    QCOMPARE(window.view->currentIndex().row(), 0);
}

void TestConnectionListWidget::failuresKeepTheList_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("message");
    QTest::newRow("edit in an unwritable folder") << "edit" << "Failed to edit the connection \"Renamed\".";
    // A profile that was never loaded has no file to write to.
    QTest::newRow("remove a vanished file") << "remove" << "Failed to remove the connection \"Lab\".";
}

void TestConnectionListWidget::failuresKeepTheList()
{
    QFETCH(QString, action);
    QFETCH(QString, message);
    Connection lab = profile("Lab");
    Window window(userFolder(), QString(), false);
    if (action == "edit") {
        QVERIFY(QDir(userFolder()).removeRecursively());
        QVERIFY(QFile(userFolder()).open(QIODevice::WriteOnly));
        lab.setName("Renamed");
        window.widget.editConnection(lab);
    } else {
        QVERIFY(QFile::remove(connectionFilePath(userFolder(), lab.uid())));
        window.widget.removeConnection(lab);
    }
    QCOMPARE(visibleErrorBoxes().size(), 1);
    QVERIFY2(visibleErrorBoxes().first()->text().startsWith(message + "<br><br>"), qPrintable(visibleErrorBoxTexts()));
    QCOMPARE(window.shownNames(), QStringList({"Lab"}));
}

QTEST_MAIN(TestConnectionListWidget)
#include "tst_connectionlistwidget.moc"
