#include "app/logdialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QTextBrowser>
#include <QTextCursor>

LogDialog::LogDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("LogDialog"));
    resize(400, 300);

    gridLayout = new QGridLayout(this);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));

    TextBrowser = new QTextBrowser(this);
    TextBrowser->setObjectName(QStringLiteral("TextBrowser"));
    gridLayout->addWidget(TextBrowser, 0, 0);

    ButtonBox = new QDialogButtonBox(this);
    ButtonBox->setObjectName(QStringLiteral("ButtonBox"));
    ButtonBox->setStandardButtons(QDialogButtonBox::Close);
    gridLayout->addWidget(ButtonBox, 1, 0);

    setTabOrder(TextBrowser, ButtonBox);
    setWindowTitle(QString());

    connect(ButtonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ButtonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    QMetaObject::connectSlotsByName(this);
}

void LogDialog::append(const QString &text)
{
    QTextCursor cursor = TextBrowser->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    TextBrowser->setTextCursor(cursor);
}
