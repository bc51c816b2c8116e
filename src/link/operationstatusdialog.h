#pragma once

#include <QDialog>
#include <QPointer>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QLocalServer;
class QLocalSocket;
class QStackedWidget;

// The "Connecting..." dialog of one connection attempt. It serves the askpass
// relay: each question the helper sends turns it into a question page, and the
// answer goes back over the helper's socket.
class OperationStatusDialog : public QDialog
{
    Q_OBJECT

public:
    enum Page { StatusPage = 0, AnswerPage = 1, HostKeyPage = 2, UserPage = 3 };

    explicit OperationStatusDialog(QWidget *parent = nullptr);

public slots:
    // Connected to the relay server's newConnection.
    void handleNewAskpassConnections();

private slots:
    void on_CurrentSocket_disconnected();
    void helpOut(const QString &instructions);
    void sendAnswer();
    void sendYes();
    void sendSave();
    void sendUser();

private:
    void serveNextConnection();
    void showQuestionButtons(void (OperationStatusDialog::*send)());
    void showAbortOnly();
    void sendFrame(const QByteArray &frame);

    QStackedWidget *StackedWidget = nullptr;
    QLabel *label = nullptr;
    QLabel *InstructionsLabel = nullptr;
    QLineEdit *AnswerLineEdit = nullptr;
    QLabel *label_2 = nullptr;
    QLabel *WarningIconLabel = nullptr;
    QLineEdit *HostKeyLineEdit = nullptr;
    QLabel *label_3 = nullptr;
    QLineEdit *UserLineEdit = nullptr;
    QDialogButtonBox *ButtonBox = nullptr;

    QPointer<QLocalSocket> currentSocket;
    // The server the last connection came from, to serve connections that were
    // left waiting while another one was being answered.
    QPointer<QLocalServer> server;
};
