// rdpbench: connects the client's display path (an RdpInstance with its desktop window)
// straight to an RDP server and counts the frames it paints.
//
//     rdpbench HOST PORT [GEOMETRY]
//
// Prints "connected" on standard output once the connection is up. Every SIGUSR1 prints
// "frames=N", the number of updates shown since then (one per frame when the server sends
// frame markers). Runs until it is ended by a signal; a failed or lost connection exits 1.
// Used by scripts/bench-display, which measures the process's CPU time itself.

#include "app/applicationsetup.h"
#include "rdp/rdpinstance.h"

#include <QApplication>
#include <QRegion>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onReportSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char *argv[])
{
    prepareApplicationSetup();
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: rdpbench HOST PORT [GEOMETRY]\n");
        return 2;
    }
    const QString host = args.at(1);
    const quint16 port = quint16(args.at(2).toUInt());
    const QString geometry = args.size() > 3 ? args.at(3) : QStringLiteral("1280x800");

    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return 2;
    quint64 frames = 0;
    QSocketNotifier reportRequests(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&reportRequests, &QSocketNotifier::activated, [&frames]() {
        char bytes[16];
        while (read(signalPipe[0], bytes, sizeof(bytes)) > 0) {
        }
        std::printf("frames=%llu\n", static_cast<unsigned long long>(frames));
        std::fflush(stdout);
    });
    std::signal(SIGUSR1, onReportSignal);

    RdpInstance instance;
    QObject::connect(&instance, &RdpInstance::regionUpdated, [&frames](const QRegion &) {
        ++frames;
    });
    QObject::connect(&instance, &RdpInstance::connected, []() {
        std::printf("connected\n");
        std::fflush(stdout);
    });
    QObject::connect(&instance, &RdpInstance::finished, [&app, &instance]() {
        std::fprintf(stderr, "rdpbench: the connection ended (exit code %d)\n",
                     instance.exitCode());
        app.exit(1);
    });
    instance.connectToSession(host, port, QStringLiteral("bench"), QStringLiteral("bench"), 0,
                              geometry, QStringLiteral("rdpbench"), false, QVariantMap());
    return app.exec();
}
