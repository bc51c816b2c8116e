#include "link/questiondialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpacerItem>

QuestionDialog::QuestionDialog(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("QuestionDialog"));
    resize(300, 125);
    setWindowTitle(tr("Questions?"));

    auto *layout = new QGridLayout(this);
    layout->setObjectName(QStringLiteral("gridLayout"));

    m_questionLabel = new QLabel(this);
    m_questionLabel->setObjectName(QStringLiteral("QuestionLabel"));
    m_questionLabel->setWordWrap(true);
    m_questionLabel->setTextFormat(Qt::PlainText);
    layout->addWidget(m_questionLabel, 0, 0);

    layout->addItem(new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding), 1, 0);

    m_buttonBox = new QDialogButtonBox(this);
    m_buttonBox->setObjectName(QStringLiteral("ButtonBox"));
    m_buttonBox->setStandardButtons(QDialogButtonBox::NoButton);
    layout->addWidget(m_buttonBox, 2, 0);

    connect(m_buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void QuestionDialog::setQuestion(const QString &question)
{
    m_questionLabel->setText(question);
}

QPushButton *QuestionDialog::addAcceptButton(const QString &text)
{
    return m_buttonBox->addButton(text, QDialogButtonBox::AcceptRole);
}

QPushButton *QuestionDialog::addRejectButton(const QString &text)
{
    return m_buttonBox->addButton(text, QDialogButtonBox::RejectRole);
}
