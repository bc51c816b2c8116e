#include "sessions/joinsessiondialog.h"

#include "app/username.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QSpacerItem>

JoinSessionDialog::JoinSessionDialog(QWidget *parent) : QDialog(parent)
{
    buildForm();
    // Not empty, and not beginning with white space.
    const QRegularExpression filled(QStringLiteral("\\S.*"));
    idLineEdit->setValidator(new QRegularExpressionValidator(filled, idLineEdit));
    sharingKeyLineEdit->setValidator(new QRegularExpressionValidator(filled, sharingKeyLineEdit));
    QMetaObject::connectSlotsByName(this);
    buttonBox->button(QDialogButtonBox::Ok)->setEnabled(false);
    idLineEdit->setText(loggedOnUserName());
}

void JoinSessionDialog::buildForm()
{
    setObjectName(QStringLiteral("JoinSessionDialog"));
    resize(400, 172);

    auto *gridLayout = new QGridLayout(this);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));
    auto *formLayout = new QFormLayout();
    formLayout->setObjectName(QStringLiteral("formLayout"));
    formLayout->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

    const auto required = [](const QString &text) {
        return QStringLiteral("<html><head/><body><p>%1<span style=\" color:#aa0000;\">*</span>"
                              "</p></body></html>")
            .arg(text);
    };
    auto *nameLabel = new QLabel(required(tr("Your Name")), this);
    nameLabel->setObjectName(QStringLiteral("label_2"));
    idLineEdit = new QLineEdit(this);
    idLineEdit->setObjectName(QStringLiteral("IdLineEdit"));
    idLineEdit->setPlaceholderText(tr("jdoe"));
    formLayout->addRow(nameLabel, idLineEdit);

    auto *keyLabel = new QLabel(required(tr("Sharing Key")), this);
    keyLabel->setObjectName(QStringLiteral("label"));
    sharingKeyLineEdit = new QLineEdit(this);
    sharingKeyLineEdit->setObjectName(QStringLiteral("SharingKeyLineEdit"));
    formLayout->addRow(keyLabel, sharingKeyLineEdit);

    fipsCheckBox = new QCheckBox(tr("FIPS compliant mode"), this);
    fipsCheckBox->setObjectName(QStringLiteral("FipsCheckBox"));
    formLayout->setWidget(2, QFormLayout::FieldRole, fipsCheckBox);
    gridLayout->addLayout(formLayout, 0, 0);

    gridLayout->addItem(new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding), 2, 0);
    buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttonBox->setObjectName(QStringLiteral("ButtonBox"));
    connect(buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    gridLayout->addWidget(buttonBox, 3, 0);

    setTabOrder(idLineEdit, sharingKeyLineEdit);
    setTabOrder(sharingKeyLineEdit, fipsCheckBox);
    setTabOrder(fipsCheckBox, buttonBox);
}

bool JoinSessionDialog::isComplete() const
{
    return idLineEdit->hasAcceptableInput() && sharingKeyLineEdit->hasAcceptableInput();
}

void JoinSessionDialog::on_IdLineEdit_textChanged()
{
    buttonBox->button(QDialogButtonBox::Ok)->setEnabled(isComplete());
}

void JoinSessionDialog::on_SharingKeyLineEdit_textChanged()
{
    buttonBox->button(QDialogButtonBox::Ok)->setEnabled(isComplete());
}

void JoinSessionDialog::done(int result)
{
    if (result == QDialog::Accepted) {
        if (!isComplete())
            return;
        m_viewerName = idLineEdit->text();
        m_sharingKey = sharingKeyLineEdit->text();
        m_fips = fipsCheckBox->isChecked();
    }
    QDialog::done(result);
}
