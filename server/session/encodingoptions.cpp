#include "encodingoptions.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <cmath>

namespace {

// A whole number within [low, high].
bool readLevel(const QJsonObject &object, const char *key, int low, int high, int &value,
               std::string &error)
{
    const QJsonValue member = object.value(QLatin1String(key));
    if (member.isUndefined())
        return true;
    const double number = member.toDouble(-1.0);
    if (!member.isDouble() || std::floor(number) != number || number < low || number > high) {
        error = std::string(key) + " must be a whole number from " + std::to_string(low) + " to "
            + std::to_string(high);
        return false;
    }
    value = static_cast<int>(number);
    return true;
}

} // namespace

std::string EncodingOptions::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("BandwidthThrottleAdjust"), adaptive);
    object.insert(QStringLiteral("Compression"), compression);
    object.insert(QStringLiteral("FPSLimit"), fps);
    object.insert(QStringLiteral("FrameAcknowledgeWindow"), frameWindow);
    object.insert(QStringLiteral("CompressionMax"), MaxCompression);
    object.insert(QStringLiteral("FPSLimitMax"), MaxFps);
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

bool EncodingOptions::apply(const std::string &json, std::string &error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray::fromRawData(json.data(), static_cast<int>(json.size())), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        error = "the options are not a JSON object";
        return false;
    }
    const QJsonObject object = document.object();
    EncodingOptions next = *this;
    const QJsonValue adaptiveMember = object.value(QLatin1String("BandwidthThrottleAdjust"));
    if (!adaptiveMember.isUndefined()) {
        if (!adaptiveMember.isBool()) {
            error = "BandwidthThrottleAdjust must be true or false";
            return false;
        }
        next.adaptive = adaptiveMember.toBool();
    }
    if (!readLevel(object, "Compression", 0, MaxCompression, next.compression, error)
        || !readLevel(object, "FPSLimit", 1, MaxFps, next.fps, error)
        || !readLevel(object, "FrameAcknowledgeWindow", 0, MaxFrameWindow, next.frameWindow,
                      error))
        return false;
    *this = next;
    return true;
}
