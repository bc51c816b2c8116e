#pragma once

#include "link/netstring.h"

#include <QObject>
#include <QString>

class QIODevice;
class QLocalServer;

// Program side of one askpass connection: reads the one question the helper
// sends and hands it on. Owned by the socket it reads.
class AskpassHandler : public QObject
{
    Q_OBJECT

public:
    explicit AskpassHandler(QIODevice *device);

    QIODevice *device() const { return reader.device(); }
    // 0 waiting for the question, 1 question received, 2 failed.
    int state() const { return reader.state(); }
    QString errorString() const { return reader.errorString(); }

signals:
    void needALittleHelpHere(const QString &instructions);

private slots:
    void on_Device_readyRead();

private:
    NetStringReader reader;
};

// The relay server of one connection attempt: listens on "askpass-<cookie>" and
// lets only sockets of this user connect, since answers carry passwords. Its
// fullServerName() is what the helper program is told; it is empty when
// listening failed.
QLocalServer *createAskpassServer(QObject *parent);
