#include "connections/connectioneditor.h"

#include "app/errorbox.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

namespace {

const char globalButtonName[] = "globalButton";

QString requiredLabel(const QString &text)
{
    return QStringLiteral("<html><head/><body><p>%1<span style=\" color:#aa0000;\">*</span></p></body></html>")
        .arg(text);
}

} // namespace

ConnectionEditor::ConnectionEditor(const Connection &connection, QWidget *parent)
    : QDialog(parent)
    , m_connection(connection)
    , m_global(false)
{
    buildForm();

    // Required text: the first character must not be white space.
    const QRegularExpression notBlank(QStringLiteral("\\S.*"));
    m_nameLineEdit->setValidator(new QRegularExpressionValidator(notBlank, m_nameLineEdit));
    m_hostLineEdit->setValidator(new QRegularExpressionValidator(notBlank, m_hostLineEdit));
    // Plain digits only: a locale's group separators ("1,000") would pass a localised
    // validator but not the port parser.
    auto *portValidator = new QIntValidator(1, 65535, m_portLineEdit);
    QLocale portLocale = QLocale::c();
    portLocale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    portValidator->setLocale(portLocale);
    m_portLineEdit->setValidator(portValidator);

    QMetaObject::connectSlotsByName(this);
    fillFields();
}

void ConnectionEditor::buildForm()
{
    setObjectName(QStringLiteral("ConnectionEditor"));
    resize(300, 250);

    auto *gridLayout = new QGridLayout(this);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));
    gridLayout->setSpacing(6);
    gridLayout->setContentsMargins(11, 11, 11, 11);

    auto *formLayout = new QFormLayout();
    formLayout->setObjectName(QStringLiteral("formLayout"));
    formLayout->setSpacing(6);

    auto addRow = [this, formLayout](const char *labelName, const QString &labelText,
                                     const char *editName, const QString &placeholder) {
        auto *label = new QLabel(labelText, this);
        label->setObjectName(QLatin1String(labelName));
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QLatin1String(editName));
        edit->setPlaceholderText(placeholder);
        label->setBuddy(edit);
        formLayout->addRow(label, edit);
        return edit;
    };

    m_nameLineEdit = addRow("NameLabel", requiredLabel(tr("Name")), "NameLineEdit", QString());
    m_hostLineEdit = addRow("HostLabel", requiredLabel(tr("Host")), "HostLineEdit",
                            tr("server.example.com"));
    m_portLineEdit = addRow("PortLabel", requiredLabel(tr("Port")), "PortLineEdit", tr("22"));
    m_userLineEdit = addRow("UserLabel", tr("User"), "UserLineEdit", tr("jsmith"));
    m_sciLineEdit = addRow("SciLabel", tr("Sci"), "SciLineEdit", QStringLiteral("bin/sci"));

    m_fipsCheckBox = new QCheckBox(tr("FIPS compliant mode"), this);
    m_fipsCheckBox->setObjectName(QStringLiteral("FipsCheckBox"));
    formLayout->addRow(m_fipsCheckBox);

    gridLayout->addLayout(formLayout, 0, 0, 1, 2);

    m_buttonBox = new QDialogButtonBox(this);
    m_buttonBox->setObjectName(QStringLiteral("ButtonBox"));
    m_buttonBox->setStandardButtons(QDialogButtonBox::Save | QDialogButtonBox::Cancel
                                    | QDialogButtonBox::Reset);
    gridLayout->addWidget(m_buttonBox, 1, 0, 1, 2);

    connect(m_buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);

    setTabOrder(m_nameLineEdit, m_hostLineEdit);
    setTabOrder(m_hostLineEdit, m_portLineEdit);
    setTabOrder(m_portLineEdit, m_userLineEdit);
    setTabOrder(m_userLineEdit, m_sciLineEdit);
    setTabOrder(m_sciLineEdit, m_fipsCheckBox);
    setTabOrder(m_fipsCheckBox, m_buttonBox);
}

void ConnectionEditor::addSaveAsGlobalButton()
{
    if (m_buttonBox->findChild<QPushButton *>(QLatin1String(globalButtonName)))
        return;
    QPushButton *button = m_buttonBox->addButton(tr("Save As Global"), QDialogButtonBox::AcceptRole);
    button->setObjectName(QLatin1String(globalButtonName));
    updateSaveButtons();
}

void ConnectionEditor::fillFields()
{
    m_nameLineEdit->setText(m_connection.name());
    m_hostLineEdit->setText(m_connection.host());
    m_portLineEdit->setText(QStringLiteral("%1").arg(m_connection.port()));
    m_userLineEdit->setText(m_connection.user());
    m_sciLineEdit->setText(m_connection.sci());
    m_fipsCheckBox->setChecked(m_connection.fips());
    updateSaveButtons();
}

bool ConnectionEditor::requiredFieldsAcceptable() const
{
    return m_nameLineEdit->hasAcceptableInput() && m_hostLineEdit->hasAcceptableInput()
        && m_portLineEdit->hasAcceptableInput();
}

void ConnectionEditor::updateSaveButtons()
{
    // "Save As Global" saves too, so it follows the Save button.
    const bool acceptable = requiredFieldsAcceptable();
    if (QPushButton *save = m_buttonBox->button(QDialogButtonBox::Save))
        save->setEnabled(acceptable);
    if (auto *global = m_buttonBox->findChild<QPushButton *>(QLatin1String(globalButtonName)))
        global->setEnabled(acceptable);
}

void ConnectionEditor::on_ButtonBox_clicked(QAbstractButton *button)
{
    const QDialogButtonBox::ButtonRole role = m_buttonBox->buttonRole(button);
    if (role == QDialogButtonBox::ResetRole) {
        fillFields();
        return;
    }
    // Decided by the button that accepts, so an earlier refused "Save As Global"
    // does not turn a later plain Save into a global one.
    if (role == QDialogButtonBox::AcceptRole)
        m_global = button->objectName() == QLatin1String(globalButtonName);
}

void ConnectionEditor::on_HostLineEdit_textChanged()
{
    updateSaveButtons();
}

void ConnectionEditor::on_NameLineEdit_textChanged()
{
    updateSaveButtons();
}

void ConnectionEditor::on_PortLineEdit_textChanged()
{
    updateSaveButtons();
}

void ConnectionEditor::done(int result)
{
    if (result != QDialog::Accepted) {
        QDialog::done(result);
        return;
    }
    if (!requiredFieldsAcceptable())
        return; // Enter with a required field missing: stay open.
    if (m_hostLineEdit->text().startsWith(QLatin1Char('-'))) {
        // The SSH client would take it for an option. Profiles saved before are still
        // loaded as they are; their links fail with the SSH client's own message.
        showErrorBox(tr("The connection cannot be saved."),
                     tr("A host name cannot begin with \"-\"."));
        m_hostLineEdit->setFocus();
        return;
    }

    m_connection.setName(m_nameLineEdit->text());
    m_connection.setHost(m_hostLineEdit->text());
    m_connection.setPort(m_portLineEdit->text().toUShort());
    m_connection.setUser(m_userLineEdit->text());
    m_connection.setSci(m_sciLineEdit->text());
    m_connection.setFips(m_fipsCheckBox->isChecked());
    QDialog::done(result);
}
