#include "sessions/sharingkey.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>

namespace {

// A port number: the number's low 16 bits, as an int would keep them. Numbers without an
// int value (fractions aside), such as 1e300, give 0 like a missing member.
quint16 portValue(const QJsonValue &value)
{
    if (!value.isDouble())
        return 0;
    const double number = value.toDouble();
    if (!std::isfinite(number) || number <= -2147483649.0 || number >= 2147483648.0)
        return 0;
    return quint16(int(number) & 0xFFFF);
}

} // namespace

bool SharingKey::parse(const QString &key, SharingKey *out)
{
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromBase64(key.toLatin1()));
    if (!document.isObject())
        return false;
    const QJsonObject object = document.object();
    SharingKey result;
    result.hostname = object.value(QLatin1String("Hostname")).toString();
    result.sshPort = portValue(object.value(QLatin1String("SshPort")));
    result.rdpPort = portValue(object.value(QLatin1String("RdpPort")));
    result.password = object.value(QLatin1String("Password")).toString();
    result.direct = object.value(QLatin1String("Direct")).toBool();
    result.windowMode = object.value(QLatin1String("WindowMode")).toString();
    *out = result;
    return true;
}

QString SharingKey::make(const QString &hostname, quint16 sshPort, quint16 rdpPort,
                         const QString &password)
{
    QJsonObject object;
    object.insert(QLatin1String("Hostname"), hostname);
    object.insert(QLatin1String("SshPort"), int(sshPort));
    object.insert(QLatin1String("RdpPort"), int(rdpPort));
    object.insert(QLatin1String("Password"), password);
    return QString::fromLatin1(QJsonDocument(object).toJson(QJsonDocument::Compact).toBase64());
}
