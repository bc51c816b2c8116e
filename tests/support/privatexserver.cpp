#include "support/privatexserver.h"

#include <QtGlobal>

#include <csignal>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

PrivateXServer::~PrivateXServer()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
}

bool PrivateXServer::startForApplication(const char *screen)
{
    // Without the abstract socket nothing keeps a second server from taking a display whose
    // socket file it finds: each program looks for a free display from a number of its own.
    int display = 100 + int(::getpid() % 800);
    while (::access(("/tmp/.X11-unix/X" + std::to_string(display)).c_str(), F_OK) == 0
           || ::access(("/tmp/.X" + std::to_string(display) + "-lock").c_str(), F_OK) == 0)
        ++display;
    int fds[2];
    if (::pipe(fds) != 0)
        return false;
    m_pid = ::fork();
    if (m_pid == 0) {
        ::close(fds[0]);
        const std::string fd = std::to_string(fds[1]), name = ':' + std::to_string(display);
        ::execlp("Xvfb", "Xvfb", name.c_str(), "-displayfd", fd.c_str(), "-nolisten", "tcp", "-nolisten", "local",
                 "-screen", "0", screen, static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    QByteArray number;
    char c;
    while (m_pid > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(fds[0]);
    if (number.isEmpty())
        return false;
    m_display = ':' + number;
    qputenv("DISPLAY", m_display);
    qputenv("QT_QPA_PLATFORM", "xcb");
    return true;
}

QByteArray PrivateXServer::socketPath() const
{
    return "/tmp/.X11-unix/X" + m_display.mid(1);
}
