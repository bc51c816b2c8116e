// nuvek2_rdp: the RDP server of one session.
//
//   nuvek2_rdp --display :N --port P --password-file FILE [--direct ADDRESS] [--rootless]
//
// Serves the X display :N (DISPLAY and XAUTHORITY come from the
// environment; --display wins) on 127.0.0.1:P with standard RDP security or
// TLS (a self-signed certificate that FreeRDP's shadow library makes once,
// in its configuration folder). With --direct it listens on ADDRESS:P as
// well, for viewers that join without SSH: logins from other computers
// must use TLS. Any user name logs in with the password in FILE as the
// owner; while the owner shares the session, a login with the sharing
// password is a viewer named by its user name. Prints
// "nuvek2_rdp: listening on 127.0.0.1:P" once it accepts connections.
// With --rootless, viewers with RemoteApp get each top-level window of the
// display as a window of their own (there is no window manager).
// SIGUSR1 disconnects every viewer; SIGTERM and SIGINT end the server.
// NUVEK2_RDP_TRACE=1 in the environment logs every message received on the
// oxdesk, oxcfg, oxshare and oxrail channels in hexadecimal on the standard
// error, and in rootless sessions the RemoteApp orders received and the window
// orders sent.

#include "clipboardbridge.h"
#include "logincheck.h"
#include "railwindows.h"
#include "sessionserver.h"
#include "x11capture.h"

#include <freerdp/locale/keyboard.h>
#include <freerdp/server/shadow.h>
#include <winpr/ssl.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: nuvek2_rdp --display :N --port P --password-file FILE"
                         " [--direct ADDRESS] [--rootless]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    std::string display, passwordFile, direct;
    long port = 0;
    bool rootless = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--rootless") {
            rootless = true;
            continue;
        }
        if (i + 1 >= argc)
            return usage();
        const char *value = argv[++i];
        if (option == "--display")
            display = value;
        else if (option == "--port")
            port = std::strtol(value, nullptr, 10);
        else if (option == "--password-file")
            passwordFile = value;
        else if (option == "--direct")
            direct = value;
        else
            return usage();
    }
    if (port < 1 || port > 65535 || passwordFile.empty()
        || direct.find_first_of(", ") != std::string::npos)
        return usage();
    if (!display.empty())
        setenv("DISPLAY", display.c_str(), 1);

    LoginCheck login;
    std::string error;
    if (!login.load(passwordFile, error)) {
        std::fprintf(stderr, "nuvek2_rdp: %s\n", error.c_str());
        return 1;
    }

    // Signals are taken by sigwait below; every thread inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    freerdp_keyboard_init(0);
    X11Capture::registerSubsystem();
    rdpShadowServer *server = shadow_server_new();
    if (!server)
        return 1;
    server->port = static_cast<DWORD>(port);
    const std::string addresses =
        "bind-address,127.0.0.1" + (direct.empty() || direct == "127.0.0.1" ? "" : "," + direct);
    server->ipcSocket = strdup(addresses.c_str());
    server->authentication = TRUE;
    server->mayView = TRUE;
    server->mayInteract = TRUE;
    rdpSettings *settings = server->settings;
    settings->RdpSecurity = TRUE;
    settings->TlsSecurity = TRUE;
    settings->NlaSecurity = FALSE;

    if (shadow_server_init(server) < 0) {
        std::fprintf(stderr, "nuvek2_rdp: the server cannot start\n");
        shadow_server_free(server);
        return 1;
    }
    ClipboardBridge clipboard;
    const bool haveClipboard = clipboard.start();
    if (!haveClipboard)
        std::fprintf(stderr, "nuvek2_rdp: no clipboard (XFIXES missing)\n");
    SessionServer::instance().install(server, &login, haveClipboard ? &clipboard : nullptr);
    RailWindows windows;
    if (rootless) {
        if (!windows.start([] { SessionServer::instance().railChanged(); })) {
            clipboard.stop();
            shadow_server_uninit(server);
            shadow_server_free(server);
            return 1;
        }
        SessionServer::instance().setRootless(&windows);
    }

    if (shadow_server_start(server) < 0) {
        std::fprintf(stderr, "nuvek2_rdp: cannot listen on 127.0.0.1:%ld\n", port);
        windows.stop();
        clipboard.stop();
        shadow_server_uninit(server);
        shadow_server_free(server);
        return 1;
    }
    std::printf("nuvek2_rdp: listening on 127.0.0.1:%ld\n", port);
    if (!direct.empty() && direct != "127.0.0.1")
        std::printf("nuvek2_rdp: listening on %s:%ld for direct joins\n", direct.c_str(), port);
    std::fflush(stdout);

    for (;;) {
        int received = 0;
        if (sigwait(&signals, &received) != 0)
            continue;
        if (received == SIGUSR1) {
            SessionServer::instance().dropViewers();
            continue;
        }
        std::fprintf(stderr, "nuvek2_rdp: stopping on signal %d\n", received);
        break;
    }
    shadow_server_stop(server);
    windows.stop();
    clipboard.stop();
    shadow_server_uninit(server);
    shadow_server_free(server);
    return 0;
}
