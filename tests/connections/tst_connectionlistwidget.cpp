#include "app/aboutdialog.h"
#include "connections/connection.h"
#include "connections/connectioneditor.h"
#include "connections/connectionfolders.h"
#include "connections/connectionlistwidget.h"
#include "connections/connectionmodel.h"
#include "link/questiondialog.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

namespace {

Connection makeConnection(const QString &name, const QString &host = QStringLiteral("lab7"))
{
    Connection connection;
    connection.setUid(QUuid::createUuid());
    connection.setName(name);
    connection.setHost(host);
    return connection;
}

void writeProfile(const QString &folder, const Connection &connection)
{
    QString error;
    QVERIFY2(saveConnection(connectionFilePath(folder, connection.uid()), connection, error),
             qPrintable(error));
}

QList<ConnectionEditor *> openEditors()
{
    QList<ConnectionEditor *> editors;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *editor = qobject_cast<ConnectionEditor *>(widget))
            editors << editor;
    }
    return editors;
}

QList<QMessageBox *> errorBoxes()
{
    QList<QMessageBox *> boxes;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (box && box->isVisible() && box->objectName() == QLatin1String("ErrorBox"))
            boxes << box;
    }
    return boxes;
}

void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

// Replaces a folder by a regular file, so nothing can be written into it.
void blockFolder(const QString &folder)
{
    QVERIFY(QDir(folder).removeRecursively());
    QFile file(folder);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

QString editorKey(const Connection &connection)
{
    return ConnectionListWidget::windowKey(connection.uid(), QStringLiteral("editing"));
}

// The pieces of the window the tests drive.
struct Window
{
    Window(const QString &userFolder, const QString &globalFolder, bool globalWritable)
        : widget(userFolder, globalFolder, nullptr, globalWritable)
        , view(widget.findChild<QTableView *>(QStringLiteral("ConnectionListView")))
        , proxy(qobject_cast<QSortFilterProxyModel *>(view->model()))
        , model(qobject_cast<ConnectionModel *>(proxy->sourceModel()))
        , editButton(widget.findChild<QPushButton *>(QStringLiteral("EditConnectionButton")))
        , removeButton(widget.findChild<QPushButton *>(QStringLiteral("RemoveConnectionButton")))
    {
        widget.show();
        if (!QTest::qWaitForWindowExposed(&widget))
            qWarning("window not exposed");
    }

    QStringList shownNames() const
    {
        QStringList names;
        for (int row = 0; row < proxy->rowCount(); ++row)
            names << proxy->index(row, 0).data(ConnectionModel::NameRole).toString();
        return names;
    }
    int rowOf(const QString &name) const { return shownNames().indexOf(name); }
    void select(const QString &name)
    {
        view->setCurrentIndex(proxy->index(rowOf(name), 0));
        QCoreApplication::processEvents();
    }
    Connection connectionAt(int row) const { return model->connection(proxy->mapToSource(proxy->index(row, 0))); }

    ConnectionListWidget widget;
    QTableView *view;
    QSortFilterProxyModel *proxy;
    ConnectionModel *model;
    QPushButton *editButton;
    QPushButton *removeButton;
};

} // namespace

class TestConnectionListWidget : public QObject
{
    Q_OBJECT

public slots:
    void captureUrl(const QUrl &url) { m_openedUrls << url; }

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void listsProfilesSortedByName();
    void saveAsGlobalOffered_data();
    void saveAsGlobalOffered();
    void addWritesProfile_data();
    void addWritesProfile();
    void failedAddShowsErrorBox();
    void editRewritesProfile();
    void failedEditKeepsModel();
    void oneEditorPerProfile();
    void removeDeletesProfileAndClosesEditor();
    void keepingLeavesProfile();
    void failedRemoveKeepsModel();
    void readOnlyGlobalProfilesCannotChange();
    void rowButtonsFollowSelection();
    void narrowWindowHidesEditButtonFirst();
    void registryRaisesAndForgets();
    void closingClosesEditorsOnly();
    void aboutAndDocumentation();

private:
    QString userFolder() const { return m_dir->filePath(QStringLiteral("user/Connections")); }
    QString globalFolder() const { return m_dir->filePath(QStringLiteral("global/Connections")); }

    QScopedPointer<QTemporaryDir> m_dir;
    QScopedPointer<QTemporaryDir> m_settingsDir;
    QList<QUrl> m_openedUrls;
};

void TestConnectionListWidget::initTestCase()
{
    QCoreApplication::setApplicationName(QStringLiteral("Nuvek"));
    QCoreApplication::setOrganizationName(QStringLiteral("Ostrane Rodorivezozoru"));
    m_settingsDir.reset(new QTemporaryDir);
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir->path());
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "captureUrl");
    // Names sort by the user's locale; pin one whose rules ignore case at first level.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestConnectionListWidget::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    m_openedUrls.clear();
}

void TestConnectionListWidget::cleanup()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->testAttribute(Qt::WA_DeleteOnClose))
            widget->close();
    }
    flushDeletes();
}

void TestConnectionListWidget::listsProfilesSortedByName()
{
    for (const char *name : {"beta", "Gamma", "alpha", "Delta", "alpha 2"})
        writeProfile(userFolder(), makeConnection(QString::fromLatin1(name)));
    Window window(userFolder(), QString(), false);

    QCOMPARE(window.shownNames(), QStringList({"alpha", "alpha 2", "beta", "Delta", "Gamma"}));
    // Each row shows the rich-text label and explains itself in a tool tip.
    const QModelIndex first = window.proxy->index(0, 0);
    QCOMPARE(first.data().toString(), QStringLiteral("<b><big>alpha</big></b><br/>lab7"));
    QVERIFY(first.data(Qt::ToolTipRole).toString().contains(QStringLiteral("Name: alpha")));
}

void TestConnectionListWidget::saveAsGlobalOffered_data()
{
    QTest::addColumn<bool>("hasGlobalFolder");
    QTest::addColumn<bool>("writable");
    QTest::addColumn<bool>("offered");

    QTest::newRow("global folder, writable") << true << true << true;
    QTest::newRow("global folder, not writable") << true << false << false;
    QTest::newRow("no global folder, writable") << false << true << false;
}

void TestConnectionListWidget::saveAsGlobalOffered()
{
    QFETCH(bool, hasGlobalFolder);
    QFETCH(bool, writable);
    QFETCH(bool, offered);

    Window window(userFolder(), hasGlobalFolder ? globalFolder() : QString(), writable);
    QTest::mouseClick(window.widget.findChild<QPushButton *>(QStringLiteral("AddConnectionButton")),
                      Qt::LeftButton);
    const QList<ConnectionEditor *> editors = openEditors();
    QCOMPARE(editors.size(), 1);
    QCOMPARE(editors.first()->windowTitle(), QStringLiteral("New Connection"));
    QVERIFY(editors.first()->objectName().endsWith(QLatin1String("-editing")));
    QCOMPARE(editors.first()->findChild<QPushButton *>(QStringLiteral("globalButton")) != nullptr,
             offered);
}

void TestConnectionListWidget::addWritesProfile_data()
{
    QTest::addColumn<bool>("global");
    QTest::newRow("user") << false;
    QTest::newRow("global") << true;
}

void TestConnectionListWidget::addWritesProfile()
{
    QFETCH(bool, global);

    writeProfile(userFolder(), makeConnection(QStringLiteral("zeta")));
    Window window(userFolder(), globalFolder(), true);
    QTest::mouseClick(window.widget.findChild<QPushButton *>(QStringLiteral("AddConnectionButton")),
                      Qt::LeftButton);
    ConnectionEditor *editor = openEditors().value(0);
    QVERIFY(editor);
    editor->findChild<QLineEdit *>(QStringLiteral("NameLineEdit"))->setText(QStringLiteral("Lab"));
    editor->findChild<QLineEdit *>(QStringLiteral("HostLineEdit"))->setText(QStringLiteral("lab7"));
    const QUuid uid = editor->connection().uid();

    auto *buttons = editor->findChild<QDialogButtonBox *>(QStringLiteral("ButtonBox"));
    QPushButton *save = global ? buttons->findChild<QPushButton *>(QStringLiteral("globalButton"))
                               : buttons->button(QDialogButtonBox::Save);
    QTest::mouseClick(save, Qt::LeftButton);
    flushDeletes();
    QVERIFY(openEditors().isEmpty());

    const QString path = connectionFilePath(global ? globalFolder() : userFolder(), uid);
    QVERIFY(QFile::exists(path));
    QCOMPARE(loadConnection(path).name(), QStringLiteral("Lab"));
    QVERIFY(!QFile::exists(connectionFilePath(global ? userFolder() : globalFolder(), uid)));

    // Listed in name order and made the current row.
    QCOMPARE(window.shownNames(), QStringList({"Lab", "zeta"}));
    QCOMPARE(window.view->currentIndex().row(), 0);
    QCOMPARE(window.connectionAt(0).uid(), uid);
    QVERIFY(errorBoxes().isEmpty());
}

void TestConnectionListWidget::failedAddShowsErrorBox()
{
    writeProfile(userFolder(), makeConnection(QStringLiteral("Old")));
    Window window(userFolder(), QString(), false);
    blockFolder(userFolder());

    window.widget.addConnection(makeConnection(QStringLiteral("New")), false);
    const QList<QMessageBox *> boxes = errorBoxes();
    QCOMPARE(boxes.size(), 1);
    QVERIFY(boxes.first()->text().startsWith(QLatin1String("Failed to add the connection.<br><br>")));
    QCOMPARE(window.shownNames(), QStringList({"Old"}));
}

void TestConnectionListWidget::editRewritesProfile()
{
    const Connection connection = makeConnection(QStringLiteral("Lab"));
    writeProfile(userFolder(), connection);
    writeProfile(userFolder(), makeConnection(QStringLiteral("Main")));
    Window window(userFolder(), QString(), false);

    window.select(QStringLiteral("Lab"));
    window.editButton->click();
    ConnectionEditor *editor = openEditors().value(0);
    QVERIFY(editor);
    QCOMPARE(editor->objectName(), editorKey(connection));
    QCOMPARE(editor->windowTitle(), QStringLiteral("Lab"));
    QVERIFY(!editor->findChild<QPushButton *>(QStringLiteral("globalButton")));

    editor->findChild<QLineEdit *>(QStringLiteral("NameLineEdit"))->setText(QStringLiteral("Zoo"));
    editor->findChild<QLineEdit *>(QStringLiteral("PortLineEdit"))->setText(QStringLiteral("2222"));
    editor->accept();
    flushDeletes();

    const Connection saved = loadConnection(connectionFilePath(userFolder(), connection.uid()));
    QCOMPARE(saved.name(), QStringLiteral("Zoo"));
    QCOMPARE(saved.port(), quint16(2222));
    // Re-sorted, and the edited profile is still the selected row.
    QCOMPARE(window.shownNames(), QStringList({"Main", "Zoo"}));
    QCOMPARE(window.view->currentIndex().row(), 1);
    QCOMPARE(window.view->selectionModel()->selectedRows().value(0).row(), 1);
}

void TestConnectionListWidget::failedEditKeepsModel()
{
    Connection connection = makeConnection(QStringLiteral("Lab"));
    writeProfile(userFolder(), connection);
    Window window(userFolder(), QString(), false);
    blockFolder(userFolder());

    connection.setName(QStringLiteral("Renamed"));
    window.widget.editConnection(connection);
    const QList<QMessageBox *> boxes = errorBoxes();
    QCOMPARE(boxes.size(), 1);
    QVERIFY(boxes.first()->text().startsWith(
        QLatin1String("Failed to edit the connection \"Renamed\".<br><br>")));
    QCOMPARE(window.shownNames(), QStringList({"Lab"}));

    // A profile that was never loaded has no file to write to.
    window.widget.editConnection(makeConnection(QStringLiteral("Stranger")));
    QCOMPARE(errorBoxes().size(), 2);
    QCOMPARE(window.shownNames(), QStringList({"Lab"}));
}

void TestConnectionListWidget::oneEditorPerProfile()
{
    writeProfile(userFolder(), makeConnection(QStringLiteral("Lab")));
    writeProfile(userFolder(), makeConnection(QStringLiteral("Main")));
    Window window(userFolder(), QString(), false);

    window.select(QStringLiteral("Lab"));
    window.editButton->click();
    QCOMPARE(openEditors().size(), 1);
    QPointer<ConnectionEditor> first = openEditors().first();
    first->hide();

    window.editButton->click();
    QCOMPARE(openEditors().size(), 1);
    QVERIFY(first->isVisible());

    window.select(QStringLiteral("Main"));
    window.editButton->click();
    QCOMPARE(openEditors().size(), 2);

    // A closed editor leaves the registry, and the next edit opens a fresh one.
    first->close();
    flushDeletes();
    QVERIFY(!first);
    window.select(QStringLiteral("Lab"));
    window.editButton->click();
    QCOMPARE(openEditors().size(), 2);
}

void TestConnectionListWidget::removeDeletesProfileAndClosesEditor()
{
    const Connection connection = makeConnection(QStringLiteral("Lab"));
    writeProfile(userFolder(), connection);
    writeProfile(userFolder(), makeConnection(QStringLiteral("Main")));
    Window window(userFolder(), QString(), false);

    window.select(QStringLiteral("Lab"));
    window.editButton->click();
    QPointer<ConnectionEditor> editor = openEditors().value(0);
    QVERIFY(editor);

    window.removeButton->click();
    auto *question = window.widget.findChild<QuestionDialog *>();
    QVERIFY(question);
    QVERIFY(question->isVisible());
    QCOMPARE(question->windowModality(), Qt::WindowModal);
    QCOMPARE(question->findChild<QLabel *>(QStringLiteral("QuestionLabel"))->text(),
             QStringLiteral("Remove connection \"Lab\"?"));
    auto *buttons = question->findChild<QDialogButtonBox *>(QStringLiteral("ButtonBox"));
    QCOMPARE(buttons->buttons().size(), 2);
    QPushButton *removeButton = nullptr;
    for (QAbstractButton *button : buttons->buttons()) {
        if (button->text() == QLatin1String("Remove"))
            removeButton = qobject_cast<QPushButton *>(button);
    }
    QVERIFY(removeButton);
    QTest::mouseClick(removeButton, Qt::LeftButton);
    flushDeletes();

    QVERIFY(!QFile::exists(connectionFilePath(userFolder(), connection.uid())));
    QCOMPARE(window.shownNames(), QStringList({"Main"}));
    QVERIFY(!editor);
    QVERIFY(!window.widget.findChild<QuestionDialog *>());
}

void TestConnectionListWidget::keepingLeavesProfile()
{
    const Connection connection = makeConnection(QStringLiteral("Lab"));
    writeProfile(userFolder(), connection);
    Window window(userFolder(), QString(), false);

    window.select(QStringLiteral("Lab"));
    window.removeButton->click();
    auto *question = window.widget.findChild<QuestionDialog *>();
    QVERIFY(question);
    question->reject();
    flushDeletes();

    QVERIFY(QFile::exists(connectionFilePath(userFolder(), connection.uid())));
    QCOMPARE(window.shownNames(), QStringList({"Lab"}));
}

void TestConnectionListWidget::failedRemoveKeepsModel()
{
    const Connection connection = makeConnection(QStringLiteral("Lab"));
    writeProfile(userFolder(), connection);
    Window window(userFolder(), QString(), false);
    QVERIFY(QFile::remove(connectionFilePath(userFolder(), connection.uid())));

    window.widget.removeConnection(connection);
    const QList<QMessageBox *> boxes = errorBoxes();
    QCOMPARE(boxes.size(), 1);
    QVERIFY(boxes.first()->text().startsWith(
        QLatin1String("Failed to remove the connection \"Lab\".<br><br>")));
    QCOMPARE(window.shownNames(), QStringList({"Lab"}));
}

void TestConnectionListWidget::readOnlyGlobalProfilesCannotChange()
{
    const Connection global = makeConnection(QStringLiteral("Global"));
    writeProfile(globalFolder(), global);
    writeProfile(userFolder(), makeConnection(QStringLiteral("Mine")));
    // A user folder whose path merely begins like the global one holds user profiles.
    const QString lookalike = globalFolder() + QStringLiteral("-user");
    writeProfile(lookalike, makeConnection(QStringLiteral("Lookalike")));

    {
        Window window(userFolder(), globalFolder(), false);
        window.select(QStringLiteral("Global"));
        QVERIFY(!window.editButton->isVisible());
        QVERIFY(!window.removeButton->isVisible());
        window.editButton->click();
        window.removeButton->click();
        QVERIFY(openEditors().isEmpty());
        QVERIFY(!window.widget.findChild<QuestionDialog *>());

        window.select(QStringLiteral("Mine"));
        QVERIFY(window.editButton->isVisible());
        QVERIFY(window.removeButton->isVisible());
    }
    {
        Window window(lookalike, globalFolder(), false);
        window.select(QStringLiteral("Lookalike"));
        QVERIFY(window.removeButton->isVisible());
    }
    {
        // Writable: global profiles are edited in their own file.
        Window window(userFolder(), globalFolder(), true);
        window.select(QStringLiteral("Global"));
        QVERIFY(window.editButton->isVisible());
        window.editButton->click();
        ConnectionEditor *editor = openEditors().value(0);
        QVERIFY(editor);
        editor->findChild<QLineEdit *>(QStringLiteral("UserLineEdit"))->setText(QStringLiteral("ops"));
        editor->accept();
        QCOMPARE(loadConnection(connectionFilePath(globalFolder(), global.uid())).user(),
                 QStringLiteral("ops"));
        QVERIFY(!QFile::exists(connectionFilePath(userFolder(), global.uid())));
    }
}

void TestConnectionListWidget::rowButtonsFollowSelection()
{
    writeProfile(userFolder(), makeConnection(QStringLiteral("Lab")));
    writeProfile(userFolder(), makeConnection(QStringLiteral("Main")));
    Window window(userFolder(), QString(), false);
    window.widget.resize(400, 400);
    QCoreApplication::processEvents();

    QVERIFY(!window.editButton->isVisible());
    QVERIFY(!window.removeButton->isVisible());

    window.select(QStringLiteral("Main"));
    QVERIFY(window.editButton->isVisible());
    QVERIFY(window.removeButton->isVisible());

    const QModelIndex index = window.proxy->index(1, 0);
    const QRect row = window.view->visualRect(index);
    const int labelEnd = row.left() + window.view->sizeHintForIndex(index).width();
    const QRect edit = window.editButton->geometry();
    const QRect remove = window.removeButton->geometry();
    QCOMPARE(edit.left(), labelEnd + 4);
    QCOMPARE(remove.right(), row.right() - 4);
    QVERIFY(row.contains(edit) && row.contains(remove));
    QCOMPARE(edit.center().y(), remove.center().y());
    QVERIFY(edit.right() < remove.left());

    window.view->clearSelection();
    QCoreApplication::processEvents();
    QVERIFY(!window.editButton->isVisible());
    QVERIFY(!window.removeButton->isVisible());
}

void TestConnectionListWidget::narrowWindowHidesEditButtonFirst()
{
    writeProfile(userFolder(), makeConnection(QStringLiteral("A rather long profile name")));
    Window window(userFolder(), QString(), false);
    window.select(QStringLiteral("A rather long profile name"));
    const QModelIndex index = window.proxy->index(0, 0);
    const int labelWidth = window.view->sizeHintForIndex(index).width();

    bool sawOnlyRemove = false;
    bool sawBoth = false;
    for (int width = labelWidth + 120; width >= 60; width -= 4) {
        window.widget.resize(width, 300);
        QCoreApplication::processEvents();
        const bool edit = window.editButton->isVisible();
        const bool remove = window.removeButton->isVisible();
        QVERIFY2(!(edit && !remove), qPrintable(QString::number(width)));
        sawBoth = sawBoth || (edit && remove);
        sawOnlyRemove = sawOnlyRemove || (!edit && remove);
        // Never over the label.
        const int labelEnd = window.view->visualRect(index).left() + labelWidth;
        if (edit)
            QVERIFY(window.editButton->geometry().left() >= labelEnd + 4);
        if (remove)
            QVERIFY(window.removeButton->geometry().left() >= labelEnd + 4);
    }
    QVERIFY(sawBoth);
    QVERIFY(sawOnlyRemove);
}

void TestConnectionListWidget::registryRaisesAndForgets()
{
    const Connection connection = makeConnection(QStringLiteral("Lab"));
    writeProfile(userFolder(), connection);
    Window window(userFolder(), QString(), false);
    const QString key = ConnectionListWidget::windowKey(connection.uid(), QStringLiteral("SessionListWidget"));
    QCOMPARE(key, connection.uid().toString() + QStringLiteral("-SessionListWidget"));

    QVERIFY(!window.widget.raiseWindow(key));
    auto *sessions = new QWidget;
    sessions->setObjectName(key);
    window.widget.registerWindow(sessions);
    QWidget other;
    other.setObjectName(key);
    window.widget.registerWindow(&other); // the name is taken: ignored

    // Activating the profile brings its open Sessions window forward.
    QVERIFY(!sessions->isVisible());
    QVERIFY(QMetaObject::invokeMethod(&window.widget, "on_ConnectionListView_activated",
                                      Q_ARG(QModelIndex, window.proxy->index(0, 0))));
    QVERIFY(sessions->isVisible());
    QVERIFY(!other.isVisible());

    delete sessions;
    QVERIFY(!window.widget.raiseWindow(key));
}

void TestConnectionListWidget::closingClosesEditorsOnly()
{
    writeProfile(userFolder(), makeConnection(QStringLiteral("Lab")));
    QPointer<ConnectionEditor> editor;
    QPointer<QWidget> sessions = new QWidget;
    {
        Window window(userFolder(), QString(), false);
        window.widget.resize(333, 377);
        window.select(QStringLiteral("Lab"));
        window.editButton->click();
        editor = openEditors().value(0);
        QVERIFY(editor);

        sessions->setObjectName(QStringLiteral("x-SessionListWidget"));
        sessions->setAttribute(Qt::WA_DeleteOnClose);
        window.widget.registerWindow(sessions);
        sessions->show();

        QVERIFY(window.widget.close());
        flushDeletes();
        QVERIFY(!editor);
        QVERIFY(sessions && sessions->isVisible());
    }
    QVERIFY(QSettings().contains(QStringLiteral("Geometry")));

    // The next window comes back with the stored size.
    Window window(userFolder(), QString(), false);
    QCOMPARE(window.widget.size(), QSize(333, 377));
    delete sessions;
}

void TestConnectionListWidget::aboutAndDocumentation()
{
    Window window(userFolder(), QString(), false);
    auto *about = window.widget.findChild<QAction *>(QStringLiteral("AboutAction"));
    auto *documentation = window.widget.findChild<QAction *>(QStringLiteral("DocumentationAction"));
    QVERIFY(about && documentation);
    QCOMPARE(about->text(), QStringLiteral("About Nuvek"));

    about->trigger();
    auto *dialog = window.widget.findChild<AboutDialog *>();
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QVERIFY(!dialog->isModal());
    QVERIFY(dialog->testAttribute(Qt::WA_DeleteOnClose));

    documentation->trigger();
    QCOMPARE(m_openedUrls,
             QList<QUrl>({QUrl(QStringLiteral("https://www.ostrane.example/dovrakb/category/nuvek"))}));
}

QTEST_MAIN(TestConnectionListWidget)
#include "tst_connectionlistwidget.moc"
