#include "connections/connectioneditor.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

Connection sampleConnection()
{
    Connection connection;
    connection.setUid(QUuid::createUuid());
    connection.setName(QStringLiteral("Lab"));
    connection.setHost(QStringLiteral("lab7"));
    connection.setPort(2222);
    connection.setUser(QStringLiteral("ops"));
    connection.setSci(QStringLiteral("bin/sci"));
    connection.setFips(true);
    return connection;
}

struct EditorFields
{
    explicit EditorFields(ConnectionEditor &editor)
        : name(editor.findChild<QLineEdit *>(QStringLiteral("NameLineEdit")))
        , host(editor.findChild<QLineEdit *>(QStringLiteral("HostLineEdit")))
        , port(editor.findChild<QLineEdit *>(QStringLiteral("PortLineEdit")))
        , user(editor.findChild<QLineEdit *>(QStringLiteral("UserLineEdit")))
        , sci(editor.findChild<QLineEdit *>(QStringLiteral("SciLineEdit")))
        , fips(editor.findChild<QCheckBox *>(QStringLiteral("FipsCheckBox")))
        , buttons(editor.findChild<QDialogButtonBox *>(QStringLiteral("ButtonBox")))
    {
    }
    QPushButton *save() const { return buttons->button(QDialogButtonBox::Save); }
    QPushButton *global() const { return buttons->findChild<QPushButton *>(QStringLiteral("globalButton")); }

    QLineEdit *name, *host, *port, *user, *sci;
    QCheckBox *fips;
    QDialogButtonBox *buttons;
};

// The fields show sampleConnection() and may be saved as they are.
void verifyShowsSample(const EditorFields &fields)
{
    QCOMPARE(fields.name->text(), QStringLiteral("Lab"));
    QCOMPARE(fields.host->text(), QStringLiteral("lab7"));
    QCOMPARE(fields.port->text(), QStringLiteral("2222"));
    QCOMPARE(fields.user->text(), QStringLiteral("ops"));
    QCOMPARE(fields.sci->text(), QStringLiteral("bin/sci"));
    QVERIFY(fields.fips->isChecked());
    QVERIFY(fields.save()->isEnabled());
}

} // namespace

class TestConnectionEditor : public QObject
{
    Q_OBJECT

private slots:
    void newProfileStartsEmpty();
    void fieldsFromRecord();
    void requiredFields_data();
    void requiredFields();
    void acceptCopiesFieldsUnchanged();
    void refusedAcceptKeepsDialogOpen();
    void resetRestoresOpeningValues();
    void saveAsGlobal();
    void saveAsGlobalFollowsSave();
};

void TestConnectionEditor::newProfileStartsEmpty()
{
    Connection connection;
    connection.setUid(QUuid::createUuid());
    ConnectionEditor editor(connection);
    EditorFields fields(editor);

    QCOMPARE(fields.port->text(), QStringLiteral("22"));
    QVERIFY(fields.name->text().isEmpty());
    QVERIFY(!fields.save()->isEnabled());
    QVERIFY(!fields.global());
    QVERIFY(!editor.isGlobal());
}

void TestConnectionEditor::fieldsFromRecord()
{
    ConnectionEditor editor(sampleConnection());
    EditorFields fields(editor);

    verifyShowsSample(fields);
}

void TestConnectionEditor::requiredFields_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("acceptable");

    QTest::newRow("all set") << "Lab" << "lab7" << "22" << true;
    QTest::newRow("blank inside and at the end") << "My lab " << "lab 7 " << "22" << true;
    QTest::newRow("empty name") << "" << "lab7" << "22" << false;
    QTest::newRow("name starts with a blank") << " Lab" << "lab7" << "22" << false;
    QTest::newRow("name only blanks") << "   " << "lab7" << "22" << false;
    QTest::newRow("empty host") << "Lab" << "" << "22" << false;
    QTest::newRow("host starts with a tab") << "Lab" << "\tlab7" << "22" << false;
    QTest::newRow("port 1") << "Lab" << "lab7" << "1" << true;
    QTest::newRow("port 65535") << "Lab" << "lab7" << "65535" << true;
    QTest::newRow("port 0") << "Lab" << "lab7" << "0" << false;
    QTest::newRow("port 65536") << "Lab" << "lab7" << "65536" << false;
    QTest::newRow("port empty") << "Lab" << "lab7" << "" << false;
    QTest::newRow("port negative") << "Lab" << "lab7" << "-22" << false;
    QTest::newRow("port not a number") << "Lab" << "lab7" << "ssh" << false;
    QTest::newRow("port with group separator") << "Lab" << "lab7" << "1,000" << false;
}

void TestConnectionEditor::requiredFields()
{
    QFETCH(QString, name);
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(bool, acceptable);

    // Start from a valid profile so that each row changes exactly what it names.
    ConnectionEditor editor(sampleConnection());
    editor.addSaveAsGlobalButton();
    EditorFields fields(editor);
    fields.name->setText(name);
    fields.host->setText(host);
    fields.port->setText(port);

    QCOMPARE(fields.save()->isEnabled(), acceptable);
    QCOMPARE(fields.global()->isEnabled(), acceptable);

    QSignalSpy accepted(&editor, &QDialog::accepted);
    editor.show();
    editor.accept();
    QCOMPARE(accepted.count(), acceptable ? 1 : 0);
    QCOMPARE(editor.isVisible(), !acceptable);
    if (acceptable)
        QCOMPARE(editor.connection().port(), quint16(port.toUInt()));
}

void TestConnectionEditor::acceptCopiesFieldsUnchanged()
{
    const Connection original = sampleConnection();
    ConnectionEditor editor(original);
    EditorFields fields(editor);
    fields.name->setText(QStringLiteral("New name "));
    fields.host->setText(QStringLiteral("host.example"));
    fields.port->setText(QStringLiteral("0443"));
    fields.user->setText(QStringLiteral(" root"));
    fields.sci->clear();
    fields.fips->setChecked(false);

    // Nothing is copied before the dialog is accepted.
    QCOMPARE(editor.connection().name(), QStringLiteral("Lab"));

    QSignalSpy accepted(&editor, &QDialog::accepted);
    editor.show();
    QTest::mouseClick(fields.save(), Qt::LeftButton);
    QCOMPARE(accepted.count(), 1);

    const Connection &saved = editor.connection();
    QCOMPARE(saved.uid(), original.uid());
    QCOMPARE(saved.name(), QStringLiteral("New name "));
    QCOMPARE(saved.host(), QStringLiteral("host.example"));
    QCOMPARE(saved.port(), quint16(443));
    QCOMPARE(saved.user(), QStringLiteral(" root"));
    QVERIFY(saved.sci().isEmpty());
    QVERIFY(!saved.fips());
    QVERIFY(!editor.isGlobal());
}

void TestConnectionEditor::refusedAcceptKeepsDialogOpen()
{
    const Connection original = sampleConnection();
    ConnectionEditor editor(original);
    EditorFields fields(editor);
    editor.show();
    QVERIFY(QTest::qWaitForWindowExposed(&editor));

    fields.host->clear();
    fields.user->setText(QStringLiteral("changed"));
    QSignalSpy accepted(&editor, &QDialog::accepted);
    QTest::keyClick(fields.user, Qt::Key_Return);
    QCOMPARE(accepted.count(), 0);
    QVERIFY(editor.isVisible());
    QCOMPARE(editor.connection().user(), QStringLiteral("ops"));

    // Cancel closes without touching the record.
    QSignalSpy rejected(&editor, &QDialog::rejected);
    QTest::mouseClick(fields.buttons->button(QDialogButtonBox::Cancel), Qt::LeftButton);
    QCOMPARE(rejected.count(), 1);
    QVERIFY(!editor.isVisible());
    QCOMPARE(editor.connection().host(), QStringLiteral("lab7"));
}

void TestConnectionEditor::resetRestoresOpeningValues()
{
    ConnectionEditor editor(sampleConnection());
    EditorFields fields(editor);
    editor.show();

    fields.name->clear();
    fields.host->setText(QStringLiteral("elsewhere"));
    fields.port->setText(QStringLiteral("99"));
    fields.user->clear();
    fields.sci->setText(QStringLiteral("other"));
    fields.fips->setChecked(false);
    QVERIFY(!fields.save()->isEnabled());

    QTest::mouseClick(fields.buttons->button(QDialogButtonBox::Reset), Qt::LeftButton);
    QVERIFY(editor.isVisible());
    verifyShowsSample(fields);
}

void TestConnectionEditor::saveAsGlobal()
{
    ConnectionEditor editor(sampleConnection());
    editor.addSaveAsGlobalButton();
    EditorFields fields(editor);
    QVERIFY(fields.global());
    QCOMPARE(fields.global()->text(), QStringLiteral("Save As Global"));

    QSignalSpy accepted(&editor, &QDialog::accepted);
    editor.show();
    QTest::mouseClick(fields.global(), Qt::LeftButton);
    QCOMPARE(accepted.count(), 1);
    QVERIFY(editor.isGlobal());
    QCOMPARE(editor.connection().name(), QStringLiteral("Lab"));
}

void TestConnectionEditor::saveAsGlobalFollowsSave()
{
    ConnectionEditor editor(sampleConnection());
    editor.addSaveAsGlobalButton();
    EditorFields fields(editor);
    QSignalSpy accepted(&editor, &QDialog::accepted);
    editor.show();

    // With a required field missing neither save button does anything ...
    fields.name->clear();
    QTest::mouseClick(fields.global(), Qt::LeftButton);
    QCOMPARE(accepted.count(), 0);
    QVERIFY(!editor.isGlobal());

    // ... and a later plain Save stays a plain one.
    fields.name->setText(QStringLiteral("Lab 2"));
    QTest::mouseClick(fields.save(), Qt::LeftButton);
    QCOMPARE(accepted.count(), 1);
    QVERIFY(!editor.isGlobal());
}

QTEST_MAIN(TestConnectionEditor)
#include "tst_connectioneditor.moc"
