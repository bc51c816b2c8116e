// askpass: the helper the SSH client (and the client itself, for the login
// name) runs to ask the user something. It relays its one argument, the
// question, over the local socket named in OSTRANE_ASKPASS_SERVER and prints the
// answer it gets back, without a line end.
//
// Exit codes: 0 answered; 1 no answer (the socket closed or sent garbage);
// 2 wrong arguments; 3 no server named; 4 the server cannot be reached.

#include "link/netstring.h"

#include <QCoreApplication>
#include <QLocalSocket>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);

    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 2)
        return 2;
    const QString serverName = qEnvironmentVariable("OSTRANE_ASKPASS_SERVER");
    if (serverName.isEmpty())
        return 3;

    QLocalSocket socket;
    socket.connectToServer(serverName);
    if (!socket.waitForConnected(10000))
        return 4;

    socket.write(encodeNetString(arguments.at(1)));
    if (!socket.waitForBytesWritten(10000) && socket.bytesToWrite() > 0)
        return 1;

    // The user may take as long as they like; only the socket closing ends the wait.
    NetStringReader reader(&socket, "askpass");
    QByteArray answer;
    for (;;) {
        if (reader.readSingleFrame(answer))
            break;
        if (reader.state() == NetStringReader::Failed)
            return 1;
        if (socket.bytesAvailable() > 0)
            continue;
        if (socket.state() != QLocalSocket::ConnectedState || !socket.waitForReadyRead(-1)) {
            if (socket.bytesAvailable() > 0)
                continue;
            return 1;
        }
    }

    if (!answer.isEmpty()
        && std::fwrite(answer.constData(), 1, size_t(answer.size()), stdout) != size_t(answer.size()))
        return 1;
    return std::fflush(stdout) == 0 ? 0 : 1;
}
