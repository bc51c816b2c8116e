#include "link/operationstatusdialog.h"

#include "app/username.h"
#include "link/askpasshandler.h"
#include "link/netstring.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpacerItem>
#include <QStackedWidget>
#include <QStyle>
#include <QVBoxLayout>

OperationStatusDialog::OperationStatusDialog(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("OperationStatusDialog"));
    resize(400, 160);

    auto *verticalLayout = new QVBoxLayout(this);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));

    StackedWidget = new QStackedWidget(this);
    StackedWidget->setObjectName(QStringLiteral("StackedWidget"));
    verticalLayout->addWidget(StackedWidget);

    // Page 0: status.
    auto *widget = new QWidget(StackedWidget);
    widget->setObjectName(QStringLiteral("widget"));
    auto *gridLayout = new QGridLayout(widget);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));
    label = new QLabel(tr("Connecting..."), widget);
    label->setObjectName(QStringLiteral("label"));
    label->setAlignment(Qt::AlignLeading | Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(true);
    gridLayout->addWidget(label, 0, 0);
    StackedWidget->addWidget(widget);

    // Page 1: any question, answered with a hidden text.
    auto *widget_2 = new QWidget(StackedWidget);
    widget_2->setObjectName(QStringLiteral("widget_2"));
    auto *gridLayout_3 = new QGridLayout(widget_2);
    gridLayout_3->setObjectName(QStringLiteral("gridLayout_3"));
    InstructionsLabel = new QLabel(widget_2);
    InstructionsLabel->setObjectName(QStringLiteral("InstructionsLabel"));
    // The text comes from the other side of the link: never read it as markup.
    InstructionsLabel->setTextFormat(Qt::PlainText);
    InstructionsLabel->setWordWrap(true);
    gridLayout_3->addWidget(InstructionsLabel, 0, 0);
    AnswerLineEdit = new QLineEdit(widget_2);
    AnswerLineEdit->setObjectName(QStringLiteral("AnswerLineEdit"));
    AnswerLineEdit->setEchoMode(QLineEdit::Password);
    gridLayout_3->addWidget(AnswerLineEdit, 1, 0);
    gridLayout_3->addItem(new QSpacerItem(20, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), 2, 0);
    StackedWidget->addWidget(widget_2);

    // Page 2: a host key that is not known yet.
    auto *widget_3 = new QWidget(StackedWidget);
    widget_3->setObjectName(QStringLiteral("widget_3"));
    auto *gridLayout_4 = new QGridLayout(widget_3);
    gridLayout_4->setObjectName(QStringLiteral("gridLayout_4"));
    WarningIconLabel = new QLabel(widget_3);
    WarningIconLabel->setObjectName(QStringLiteral("WarningIconLabel"));
    const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    WarningIconLabel->setPixmap(
        style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(iconSize, iconSize));
    WarningIconLabel->setAlignment(Qt::AlignLeading | Qt::AlignLeft | Qt::AlignTop);
    gridLayout_4->addWidget(WarningIconLabel, 0, 0, 2, 1);
    label_2 = new QLabel(
        tr("This host is not recognized by the system. Are you sure you want to continue?"), widget_3);
    label_2->setObjectName(QStringLiteral("label_2"));
    label_2->setWordWrap(true);
    gridLayout_4->addWidget(label_2, 0, 1);
    HostKeyLineEdit = new QLineEdit(widget_3);
    HostKeyLineEdit->setObjectName(QStringLiteral("HostKeyLineEdit"));
    HostKeyLineEdit->setReadOnly(true);
    gridLayout_4->addWidget(HostKeyLineEdit, 1, 1);
    gridLayout_4->addItem(new QSpacerItem(20, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), 2, 1);
    StackedWidget->addWidget(widget_3);

    // Page 3: the login name.
    auto *widget_4 = new QWidget(StackedWidget);
    widget_4->setObjectName(QStringLiteral("widget_4"));
    auto *gridLayout_5 = new QGridLayout(widget_4);
    gridLayout_5->setObjectName(QStringLiteral("gridLayout_5"));
    label_3 = new QLabel(tr("The username for this connection:"), widget_4);
    label_3->setObjectName(QStringLiteral("label_3"));
    label_3->setWordWrap(true);
    gridLayout_5->addWidget(label_3, 0, 0);
    UserLineEdit = new QLineEdit(widget_4);
    UserLineEdit->setObjectName(QStringLiteral("UserLineEdit"));
    gridLayout_5->addWidget(UserLineEdit, 1, 0);
    gridLayout_5->addItem(new QSpacerItem(20, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), 2, 0);
    StackedWidget->addWidget(widget_4);

    ButtonBox = new QDialogButtonBox(this);
    ButtonBox->setObjectName(QStringLiteral("ButtonBox"));
    ButtonBox->setStandardButtons(QDialogButtonBox::NoButton);
    verticalLayout->addWidget(ButtonBox);
    // Only "Abort" ends the dialog; "Continue" sends the answer and waits for the
    // helper to go away.
    connect(ButtonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);

    setTabOrder(ButtonBox, AnswerLineEdit);
    setTabOrder(AnswerLineEdit, HostKeyLineEdit);
    setTabOrder(HostKeyLineEdit, UserLineEdit);

    showAbortOnly();
    StackedWidget->setCurrentIndex(StatusPage);
}

void OperationStatusDialog::handleNewAskpassConnections()
{
    auto *source = qobject_cast<QLocalServer *>(sender());
    if (!source)
        return;
    server = source;
    serveNextConnection();
}

void OperationStatusDialog::serveNextConnection()
{
    while (!currentSocket && server) {
        QLocalSocket *socket = server->nextPendingConnection();
        if (!socket)
            return;
        socket->setParent(nullptr);
        if (socket->state() != QLocalSocket::ConnectedState) {
            // The helper gave up while it was waiting: nobody left to answer.
            socket->deleteLater();
            continue;
        }
        currentSocket = socket;
        connect(this, &QObject::destroyed, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::disconnected,
                this, &OperationStatusDialog::on_CurrentSocket_disconnected);
        auto *handler = new AskpassHandler(socket);
        connect(handler, &AskpassHandler::needALittleHelpHere, this, &OperationStatusDialog::helpOut);
    }
}

void OperationStatusDialog::on_CurrentSocket_disconnected()
{
    InstructionsLabel->clear();
    AnswerLineEdit->clear();
    HostKeyLineEdit->clear();
    UserLineEdit->clear();
    showAbortOnly();
    StackedWidget->setCurrentIndex(StatusPage);
    currentSocket = nullptr;
    // A helper may have connected while this one was answered; its newConnection
    // has come and gone.
    serveNextConnection();
}

void OperationStatusDialog::helpOut(const QString &instructions)
{
    static const QRegularExpression rsaFingerprint(QStringLiteral("RSA key fingerprint is (.*)\\."));
    static const QRegularExpression updateKey(QStringLiteral("Update key (.*) for host"));
    static const QRegularExpression storeKey(QStringLiteral("Store key (.*) for host"));
    static const QRegularExpression userQuestion(QStringLiteral("The user for \"(.*)\""));

    QRegularExpressionMatch match;
    QLineEdit *focus = nullptr;
    Page page = AnswerPage;
    if ((match = rsaFingerprint.match(instructions)).hasMatch()) {
        page = HostKeyPage;
        HostKeyLineEdit->setText(match.captured(1));
        focus = HostKeyLineEdit;
        showQuestionButtons(&OperationStatusDialog::sendYes);
    } else if ((match = updateKey.match(instructions)).hasMatch()
               || (match = storeKey.match(instructions)).hasMatch()) {
        page = HostKeyPage;
        HostKeyLineEdit->setText(match.captured(1));
        focus = HostKeyLineEdit;
        showQuestionButtons(&OperationStatusDialog::sendSave);
    } else if (userQuestion.match(instructions).hasMatch()) {
        page = UserPage;
        UserLineEdit->setText(loggedOnUserName());
        focus = UserLineEdit;
        showQuestionButtons(&OperationStatusDialog::sendUser);
    } else {
        InstructionsLabel->setText(instructions);
        showQuestionButtons(&OperationStatusDialog::sendAnswer);
    }
    StackedWidget->setCurrentIndex(page);
    if (focus)
        focus->selectAll();
    else
        focus = AnswerLineEdit;
    focus->setFocus();
}

void OperationStatusDialog::showQuestionButtons(void (OperationStatusDialog::*send)())
{
    ButtonBox->clear();
    QPushButton *continueButton = ButtonBox->addButton(tr("Continue"), QDialogButtonBox::AcceptRole);
    continueButton->setDefault(true);
    connect(continueButton, &QPushButton::clicked, this, send);
    ButtonBox->addButton(tr("Abort"), QDialogButtonBox::RejectRole);
}

void OperationStatusDialog::showAbortOnly()
{
    ButtonBox->clear();
    ButtonBox->addButton(tr("Abort"), QDialogButtonBox::RejectRole)->setDefault(true);
}

void OperationStatusDialog::sendFrame(const QByteArray &frame)
{
    if (currentSocket && currentSocket->state() == QLocalSocket::ConnectedState)
        currentSocket->write(frame);
}

void OperationStatusDialog::sendAnswer()
{
    sendFrame(encodeNetString(AnswerLineEdit->text()));
}

void OperationStatusDialog::sendYes()
{
    sendFrame(QByteArrayLiteral("3:yes,"));
}

void OperationStatusDialog::sendSave()
{
    sendFrame(QByteArrayLiteral("4:save,"));
}

void OperationStatusDialog::sendUser()
{
    sendFrame(encodeNetString(UserLineEdit->text()));
}
