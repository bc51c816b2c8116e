#pragma once

#include <QSize>
#include <QString>

#include <freerdp/settings.h>

// The FreeRDP settings of a connection, and the rules behind them, apart from the
// connection object so that they can be checked without a server.

// What connectToSession was given, plus what the caller measured locally.
struct RdpConnectOptions
{
    QString host;              // host to reach directly
    quint16 port = 0;          // the session's RDP port
    QString user;
    QString password;
    quint16 tunnelPort = 0;    // local SOCKS port of the SSH link; 0 = none
    QString mode;              // "rootless", "fullscreen" or a geometry "WxH"
    QString title;
    bool direct = false;       // straight to host:port with TLS instead of the tunnel
    quint32 keyboardLayout = 0;
    QSize remoteDesktopSize;   // the local screens in remote pixels (rootless, fullscreen)
};

// Zoom of a session: remote pixels per local pixel and its inverse.
struct RdpZoom
{
    double localToRemote = 1.0;
    double remoteToLocal = 1.0;
};

// Only the factors 0.5 and 2 are known; anything else is 1.
RdpZoom rdpZoomForScalingFactor(double scalingFactor);

// "ScalingFactor" of the group "<sessionId>-Settings" in the default settings.
RdpZoom rdpStoredZoom(const QString &sessionId);

// Desktop size for a geometry mode "WxH": a zero width gives 1024, a zero height 768; a
// mode that is not two numbers around one x ("800x", "", "fullscreen") gives 1024x768.
QSize rdpDesktopSizeForGeometry(const QString &mode);

// Fills in everything a connection needs; false when FreeRDP refused a value.
bool applyRdpSettings(rdpSettings *settings, const RdpConnectOptions &options);

// The exit code reported for the reason a connection ended (0, FreeRDP's error info, or our
// own 131 and 255).
int rdpExitCodeForReason(quint32 reason);

// The keyboard layout of this desktop as an RDP layout id (detected once).
quint32 localKeyboardLayout();
