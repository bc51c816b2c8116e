#pragma once

#include <QByteArray>

#include <sys/types.h>

// An Xvfb for a whole test program, started in main() before the application object (which
// then runs on it with the xcb platform). It picks a free display itself; the destructor ends
// it.
//
//     PrivateXServer xserver;
//     xserver.startForApplication();
//     QApplication app(argc, argv);
class PrivateXServer
{
public:
    PrivateXServer() = default;
    PrivateXServer(const PrivateXServer &) = delete;
    PrivateXServer &operator=(const PrivateXServer &) = delete;
    ~PrivateXServer();

    // Starts the server and sets DISPLAY and QT_QPA_PLATFORM for it. Without Xvfb nothing
    // changes and false is returned. Only the file-system socket is served: a test can stop
    // new clients by moving it away (socketPath()).
    bool startForApplication(const char *screen = "320x200x24");

    QByteArray display() const { return m_display; }
    QByteArray socketPath() const;

private:
    pid_t m_pid = -1;
    QByteArray m_display;
};
