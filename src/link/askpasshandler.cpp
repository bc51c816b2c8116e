#include "link/askpasshandler.h"

#include "app/cookie.h"

#include <QIODevice>
#include <QLocalServer>

AskpassHandler::AskpassHandler(QIODevice *device)
    : QObject(device), reader(device, "AskpassHandler")
{
    connect(device, &QIODevice::readyRead, this, &AskpassHandler::on_Device_readyRead);
    // Bytes that came before the handler was made raise no readyRead of their own.
    if (device->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &AskpassHandler::on_Device_readyRead, Qt::QueuedConnection);
}

void AskpassHandler::on_Device_readyRead()
{
    QByteArray payload;
    if (reader.readSingleFrame(payload))
        emit needALittleHelpHere(QString::fromUtf8(payload));
}

QLocalServer *createAskpassServer(QObject *parent)
{
    auto *server = new QLocalServer(parent);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    QString cookie, error;
    // Without a cookie the name would be guessable: better no relay at all.
    if (generateCookie(cookie, error))
        server->listen(QStringLiteral("askpass-%1").arg(cookie));
    return server;
}
