#include "rdp/rdpsettings.h"

#include "rdp/rdpkeyboard.h"

#include <QSettings>
#include <QStringList>

#include <freerdp/constants.h>

RdpZoom rdpZoomForScalingFactor(double scalingFactor)
{
    RdpZoom zoom;
    if (scalingFactor == 0.5) {
        zoom.localToRemote = 0.5;
        zoom.remoteToLocal = 2.0;
    } else if (scalingFactor == 2.0) {
        zoom.localToRemote = 2.0;
        zoom.remoteToLocal = 0.5;
    }
    return zoom;
}

RdpZoom rdpStoredZoom(const QString &sessionId)
{
    QSettings settings;
    settings.beginGroup(QStringLiteral("%1-Settings").arg(sessionId));
    bool ok = false;
    const double factor = settings.value(QStringLiteral("ScalingFactor"), 1.0).toDouble(&ok);
    return rdpZoomForScalingFactor(ok ? factor : 1.0);
}

QSize rdpDesktopSizeForGeometry(const QString &mode)
{
    int width = 0;
    int height = 0;
    const QStringList parts = mode.split(QLatin1Char('x'), Qt::SkipEmptyParts);
    if (parts.size() == 2) {
        width = parts.at(0).toInt();  // 0 when not a number
        height = parts.at(1).toInt();
    }
    // Negative numbers are no better than missing ones.
    if (width <= 0)
        width = 1024;
    if (height <= 0)
        height = 768;
    return QSize(width, height);
}

namespace {

bool setString(rdpSettings *settings, size_t id, const QString &value)
{
    return freerdp_settings_set_string(settings, id, value.toLocal8Bit().constData());
}

} // namespace

bool applyRdpSettings(rdpSettings *settings, const RdpConnectOptions &options)
{
    bool ok = true;
    ok &= freerdp_settings_set_uint32(settings, FreeRDP_OsMajorType, OSMAJORTYPE_WINDOWS);
    ok &= freerdp_settings_set_uint32(settings, FreeRDP_OsMinorType, OSMINORTYPE_WINDOWS_NT);
    ok &= freerdp_settings_set_bool(settings, FreeRDP_RdpSecurity, TRUE);
    ok &= freerdp_settings_set_bool(settings, FreeRDP_TlsSecurity, FALSE);
    ok &= freerdp_settings_set_bool(settings, FreeRDP_NlaSecurity, FALSE);
    ok &= freerdp_settings_set_bool(settings, FreeRDP_ExtSecurity, FALSE);
    ok &= freerdp_settings_set_bool(settings, FreeRDP_UseRdpSecurityLayer, TRUE);
    ok &= freerdp_settings_set_bool(settings, FreeRDP_SoftwareGdi, TRUE);
    ok &= freerdp_settings_set_bool(settings, FreeRDP_RemoteFxCodec, TRUE);
    ok &= freerdp_settings_set_bool(settings, FreeRDP_FastPathOutput, TRUE);
    ok &= freerdp_settings_set_uint32(settings, FreeRDP_ColorDepth, 32);
    // A flag set in this FreeRDP: 1 announces large (96x96) pointers.
    ok &= freerdp_settings_set_uint32(settings, FreeRDP_LargePointerFlag, 1);
    ok &= freerdp_settings_set_bool(settings, FreeRDP_FrameMarkerCommandEnabled, TRUE);
    ok &= freerdp_settings_set_uint32(settings, FreeRDP_KeyboardLayout, options.keyboardLayout);
    ok &= freerdp_settings_set_bool(settings, FreeRDP_RedirectClipboard, TRUE);

    // Addressing: straight to the host with TLS, through the SSH link's SOCKS forward (the
    // proxy resolves 127.0.0.1 on the server), or straight without TLS.
    if (options.direct) {
        ok &= freerdp_settings_set_bool(settings, FreeRDP_TlsSecurity, TRUE);
        ok &= setString(settings, FreeRDP_ServerHostname, options.host);
    } else if (options.tunnelPort != 0) {
        ok &= freerdp_settings_set_uint32(settings, FreeRDP_ProxyType, PROXY_TYPE_SOCKS);
        ok &= setString(settings, FreeRDP_ProxyHostname, QStringLiteral("localhost"));
        ok &= freerdp_settings_set_uint16(settings, FreeRDP_ProxyPort, options.tunnelPort);
        ok &= setString(settings, FreeRDP_ServerHostname, QStringLiteral("127.0.0.1"));
    } else {
        ok &= setString(settings, FreeRDP_ServerHostname, options.host);
    }
    ok &= freerdp_settings_set_uint32(settings, FreeRDP_ServerPort, options.port);
    ok &= setString(settings, FreeRDP_Username, options.user);
    ok &= setString(settings, FreeRDP_Password, options.password);

    if (options.mode == QLatin1String("rootless")) {
        ok &= freerdp_settings_set_uint32(settings, FreeRDP_DesktopWidth,
                                          quint32(qMax(0, options.remoteDesktopSize.width())));
        ok &= freerdp_settings_set_uint32(settings, FreeRDP_DesktopHeight,
                                          quint32(qMax(0, options.remoteDesktopSize.height())));
        ok &= freerdp_settings_set_string(settings, FreeRDP_RemoteApplicationProgram, "nothing");
        ok &= freerdp_settings_set_bool(settings, FreeRDP_RemoteApplicationMode, TRUE);
        ok &= freerdp_settings_set_bool(settings, FreeRDP_RemoteAppLanguageBarSupported, TRUE);
        ok &= freerdp_settings_set_bool(settings, FreeRDP_Workarea, TRUE);
        ok &= freerdp_settings_set_bool(settings, FreeRDP_DisableWallpaper, TRUE);
        ok &= freerdp_settings_set_bool(settings, FreeRDP_DisableFullWindowDrag, TRUE);
    } else if (options.mode == QLatin1String("fullscreen")) {
        ok &= freerdp_settings_set_bool(settings, FreeRDP_Fullscreen, TRUE);
        ok &= freerdp_settings_set_uint32(settings, FreeRDP_DesktopWidth,
                                          quint32(qMax(0, options.remoteDesktopSize.width())));
        ok &= freerdp_settings_set_uint32(settings, FreeRDP_DesktopHeight,
                                          quint32(qMax(0, options.remoteDesktopSize.height())));
        ok &= setString(settings, FreeRDP_WindowTitle, options.title);
    } else {
        const QSize size = rdpDesktopSizeForGeometry(options.mode);
        ok &= freerdp_settings_set_uint32(settings, FreeRDP_DesktopWidth, quint32(size.width()));
        ok &= freerdp_settings_set_uint32(settings, FreeRDP_DesktopHeight, quint32(size.height()));
        ok &= setString(settings, FreeRDP_WindowTitle, options.title);
    }
    return ok;
}

int rdpExitCodeForReason(quint32 reason)
{
    if (reason == 0)
        return 0;
    if (reason >= 1 && reason <= 12)
        return int(reason);
    if (reason >= 128 && reason <= 131)
        return int(reason);
    // Licensing errors get codes of their own, 16 to 26.
    if (reason >= 256 && reason <= 266)
        return int(reason - 240);
    if (reason >= 4297 && reason <= 4499)
        return 32;
    return 255;
}

quint32 localKeyboardLayout()
{
    // Detecting also loads FreeRDP's key code table that key translation uses.
    static const quint32 layout = initRdpKeyboard(0);
    return layout;
}
