#include "windows/rdpoptionsdialog.h"

#include "channels/oxcfg/oxcfg_main.h"
#include "rdp/rdpcontext.h"
#include "rdp/rdprailsession.h"
#include "rdp/rdpsettings.h"
#include "windows/rdpmainwidget.h"
#include "windows/rdpsessionobjects.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QSettings>
#include <QSlider>
#include <QSpacerItem>

#include <freerdp/settings.h>

#include <limits>


namespace {

const char *const perfGroup = "%1-Perf";
const char *const sessionGroup = "%1-Settings";

// Reads a JSON number as an int, bounded to the int range (fractions are cut off).
bool readNumber(const QJsonObject &object, const char *key, int *out)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isDouble())
        return false;
    const double number = value.toDouble();
    if (number != number) // NaN
        return false;
    *out = int(qBound(double(std::numeric_limits<int>::min()), number,
                      double(std::numeric_limits<int>::max())));
    return true;
}

// A stored int, or the fallback when the key is missing or holds no number.
int readSetting(const QSettings &settings, const char *key, int fallback)
{
    bool ok = false;
    const int value = settings.value(QLatin1String(key)).toInt(&ok);
    return ok ? value : fallback;
}

// The quality slider runs from the strongest compression (left) to none (right end).
int compressionForPosition(int position, int maximum) { return maximum - position; }
int positionForCompression(int compression, int maximum)
{
    return int(qBound<qint64>(0, qint64(maximum) - compression, maximum));
}

// The frame-window slider: "Off" at the left, then the largest window (maximum frames) at
// position 1 down to one frame at the right end.
int frameAckForPosition(int position, int maximum)
{
    return position <= 0 ? 0 : maximum + 1 - position;
}
int positionForFrameAck(int frameAck, int maximum)
{
    if (frameAck < 1)
        return 0;
    // A window larger than the slider offers shows as its largest one, not as "Off".
    return int(qMax<qint64>(1, qint64(maximum) + 1 - frameAck));
}

// Zoom positions: 0 shows the remote desktop twice as large, 2 at half its size.
double scalingFactorForPosition(int position)
{
    return position == 0 ? 0.5 : position == 2 ? 2.0 : 1.0;
}

} // namespace

RdpOptionsDialog::RdpOptionsDialog(RdpContext *context, const QString &remoteHost, const QString &sessionId,
                                   QWidget *parent)
    : QDialog(parent), context(context), remoteHost(remoteHost), sessionId(sessionId)
{
    setObjectName(QStringLiteral("RdpOptionsDialog"));
    resize(350, 408);

    auto *gridLayout = new QGridLayout(this);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));

    const auto makeSlider = [](QWidget *parent, const char *name, int maximum, int value) {
        auto *slider = new QSlider(Qt::Horizontal, parent);
        slider->setObjectName(QLatin1String(name));
        slider->setMaximum(maximum);
        slider->setValue(value);
        return slider;
    };
    const auto makeLabel = [](QWidget *parent, const char *name, const QString &text) {
        auto *label = new QLabel(text, parent);
        label->setObjectName(QLatin1String(name));
        return label;
    };

    updateBox = new QGroupBox(tr("Change Update Settings"), this);
    updateBox->setObjectName(QStringLiteral("UpdateBox"));
    updateBox->setCheckable(true);
    updateBox->setChecked(false);
    auto *gridLayout2 = new QGridLayout(updateBox);
    gridLayout2->setObjectName(QStringLiteral("gridLayout_2"));
    compressionLabel = makeLabel(updateBox, "CompressionLabel", tr("Image Quality: Highest"));
    qualitySlider = makeSlider(updateBox, "QualitySlider", 3, 3);
    qualitySlider->setPageStep(1);
    fpsLabel = makeLabel(updateBox, "FpsLabel", tr("Frame Rate: 60 fps"));
    fpsSlider = makeSlider(updateBox, "FpsSlider", 60, 60);
    fpsSlider->setMinimum(1);
    gridLayout2->addWidget(compressionLabel, 0, 0);
    gridLayout2->addWidget(qualitySlider, 1, 0);
    gridLayout2->addWidget(fpsLabel, 2, 0);
    gridLayout2->addWidget(fpsSlider, 3, 0);
    gridLayout->addWidget(updateBox, 0, 0);

    algorithmBox = new QGroupBox(this);
    algorithmBox->setObjectName(QStringLiteral("AlgorithmBox"));
    auto *gridLayout4 = new QGridLayout(algorithmBox);
    gridLayout4->setObjectName(QStringLiteral("gridLayout_4"));
    frameAckLabel = makeLabel(algorithmBox, "FrameAckLabel", tr("Frame Window: Off"));
    frameAckSlider = makeSlider(algorithmBox, "FrameAckSlider", 60, 0);
    gridLayout4->addWidget(frameAckLabel, 0, 0);
    gridLayout4->addWidget(frameAckSlider, 1, 0);
    gridLayout->addWidget(algorithmBox, 1, 0);

    auto *localBox = new QGroupBox(this);
    localBox->setObjectName(QStringLiteral("LocalBox"));
    auto *gridLayout3 = new QGridLayout(localBox);
    gridLayout3->setObjectName(QStringLiteral("gridLayout_3"));
    scaleLabel = makeLabel(localBox, "ScaleLabel", tr("Zoom: %1").arg(QStringLiteral("1x")));
    scaleSlider = makeSlider(localBox, "ScaleSlider", 2, 1);
    scaleSlider->setPageStep(1);
    gridLayout3->addWidget(scaleLabel, 0, 0);
    gridLayout3->addWidget(scaleSlider, 1, 0);
    gridLayout->addWidget(localBox, 2, 0);

    gridLayout->addItem(new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding), 4, 0);

    auto *buttonBox = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttonBox->setObjectName(QStringLiteral("ButtonBox"));
    gridLayout->addWidget(buttonBox, 5, 0);
    connect(buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);

    setTabOrder(updateBox, qualitySlider);
    setTabOrder(qualitySlider, fpsSlider);
    setTabOrder(fpsSlider, frameAckSlider);
    setTabOrder(frameAckSlider, scaleSlider);

    QMetaObject::connectSlotsByName(this);

    // Usable once the server has told its values.
    updateBox->setEnabled(false);
    algorithmBox->setEnabled(false);

    if (context) {
        if (context->localToRemoteScale == 0.5)
            scaleSlider->setValue(0);
        else if (context->localToRemoteScale == 2.0)
            scaleSlider->setValue(2);
    }

    connect(updateBox, &QGroupBox::toggled, this, &RdpOptionsDialog::sendUiValues);
    for (QSlider *slider : {qualitySlider, fpsSlider, frameAckSlider})
        connect(slider, &QSlider::actionTriggered, this, &RdpOptionsDialog::sendUiValues);
}

void RdpOptionsDialog::handleOptionsUpdated(const QString &json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8());
    if (!document.isObject())
        return;
    const QJsonObject options = document.object();

    const QJsonValue throttle = options.value(QLatin1String("BandwidthThrottleAdjust"));
    if (throttle.isBool())
        serverManual = !throttle.toBool();
    readNumber(options, "Compression", &serverCompression);
    readNumber(options, "FPSLimit", &serverFps);
    if (readNumber(options, "FrameAcknowledgeWindow", &serverFrameAck) && context
        && context->freerdpInstance() && context->settings()) {
        freerdp_settings_set_uint32(context->settings(), FreeRDP_FrameAcknowledge,
                                    UINT32(qMax(0, serverFrameAck)));
    }
    int maximum = 0;
    if (readNumber(options, "CompressionMax", &maximum))
        qualitySlider->setMaximum(qMax(qualitySlider->minimum(), maximum));
    if (readNumber(options, "FPSLimitMax", &maximum))
        fpsSlider->setMaximum(qMax(fpsSlider->minimum(), maximum));

    if (!updateBox->isEnabled())
        syncSavedValues();
    showServerValues();
}

void RdpOptionsDialog::handleSetOptionsResponse(const QString &json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8());
    if (!document.isObject())
        return;
    const QJsonObject answer = document.object();
    // Nothing to put back before the server has told its values.
    if (!answer.contains(QLatin1String("success")) && answer.contains(QLatin1String("error"))
        && updateBox->isEnabled())
        showServerValues();
}

void RdpOptionsDialog::syncSavedValues()
{
    if (remoteHost.isEmpty())
        return;
    QSettings settings;
    settings.beginGroup(QString::fromLatin1(perfGroup).arg(remoteHost));
    const bool manual = settings.value(QStringLiteral("Manual"), serverManual).toBool();
    const int compression = readSetting(settings, "Compression", serverCompression);
    const int fps = readSetting(settings, "Fps", serverFps);
    const int frameAck = readSetting(settings, "FrameAck", serverFrameAck);
    const int compressionMax = readSetting(settings, "CompressionMax", qualitySlider->maximum());
    const int fpsMax = readSetting(settings, "FpsMax", fpsSlider->maximum());

    // Values saved against other maxima no longer mean the same; values the sliders cannot
    // show were not saved by us.
    if (compressionMax != qualitySlider->maximum() || fpsMax != fpsSlider->maximum())
        return;
    if (compression < 0 || compression > compressionMax || fps < fpsSlider->minimum()
        || fps > fpsMax || frameAck < 0 || frameAck > frameAckSlider->maximum())
        return;
    if (manual == serverManual && compression == serverCompression && fps == serverFps
        && frameAck == serverFrameAck)
        return;
    sendOptions(manual, compression, fps, frameAck);
}

void RdpOptionsDialog::sendUiValues()
{
    // Putting the server's values into the controls must not send them back as a request.
    if (showingServerValues)
        return;
    const bool manual = updateBox->isChecked();
    const int compression =
        compressionForPosition(qualitySlider->sliderPosition(), qualitySlider->maximum());
    const int fps = fpsSlider->sliderPosition();
    const int frameAck =
        frameAckForPosition(frameAckSlider->sliderPosition(), frameAckSlider->maximum());
    sendOptions(manual, compression, fps, frameAck);

    if (remoteHost.isEmpty())
        return;
    QSettings settings;
    settings.beginGroup(QString::fromLatin1(perfGroup).arg(remoteHost));
    settings.setValue(QStringLiteral("Manual"), manual);
    settings.setValue(QStringLiteral("Compression"), compression);
    settings.setValue(QStringLiteral("Fps"), fps);
    settings.setValue(QStringLiteral("FrameAck"), frameAck);
    settings.setValue(QStringLiteral("CompressionMax"), qualitySlider->maximum());
    settings.setValue(QStringLiteral("FpsMax"), fpsSlider->maximum());
}

void RdpOptionsDialog::sendOptions(bool manual, int compression, int fps, int frameAck)
{
    QJsonObject options;
    options.insert(QStringLiteral("BandwidthThrottleAdjust"), !manual);
    if (manual) {
        options.insert(QStringLiteral("Compression"), compression);
        options.insert(QStringLiteral("FPSLimit"), fps);
    }
    options.insert(QStringLiteral("FrameAcknowledgeWindow"), frameAck);
    const QByteArray text = QJsonDocument(options).toJson(QJsonDocument::Compact);

    OxcfgClientContext *client = context ? context->oxcfgClient : nullptr;
    if (client && client->SetOptions)
        client->SetOptions(client, text.constData());
}

void RdpOptionsDialog::showServerValues()
{
    showingServerValues = true;
    updateBox->setChecked(serverManual);
    qualitySlider->setValue(positionForCompression(serverCompression, qualitySlider->maximum()));
    fpsSlider->setValue(serverFps);
    frameAckSlider->setValue(positionForFrameAck(serverFrameAck, frameAckSlider->maximum()));
    showingServerValues = false;

    // A new maximum changes what a position means even when the position stays.
    on_QualitySlider_valueChanged(qualitySlider->value());
    on_FrameAckSlider_valueChanged(frameAckSlider->value());

    updateBox->setEnabled(true);
    algorithmBox->setEnabled(true);
}

void RdpOptionsDialog::on_QualitySlider_valueChanged(int position)
{
    const int maximum = qualitySlider->maximum();
    QString quality;
    if (position == maximum)
        quality = tr("Highest");
    else if (position == 0)
        quality = tr("Very Low");
    else if (2 * qint64(position) > maximum)
        quality = tr("Higher");
    else if (2 * qint64(position) < maximum)
        quality = tr("Lower");
    else
        quality = tr("Medium");
    compressionLabel->setText(tr("Image Quality: %1").arg(quality));
}

void RdpOptionsDialog::on_FpsSlider_valueChanged(int position)
{
    fpsLabel->setText(tr("Frame Rate: %1 fps").arg(position));
}

void RdpOptionsDialog::on_FrameAckSlider_valueChanged(int position)
{
    const QString window = position <= 0
        ? tr("Off")
        : QStringLiteral("%1 frames").arg(frameAckForPosition(position, frameAckSlider->maximum()));
    frameAckLabel->setText(tr("Frame Window: %1").arg(window));
}

void RdpOptionsDialog::on_ScaleSlider_actionTriggered(int action)
{
    Q_UNUSED(action);
    if (!context)
        return;
    const double factor = scalingFactorForPosition(scaleSlider->sliderPosition());
    const RdpZoom zoom = rdpZoomForScalingFactor(factor);
    context->localToRemoteScale = zoom.localToRemote;
    context->remoteToLocalScale = zoom.remoteToLocal;

    if (context->mainWidget) {
        context->mainWidget->handleScaleChanged();
    } else if (context->railSession) {
        context->railSession->handleScaleChanged();
    }

    if (sessionId.isEmpty())
        return;
    QSettings settings;
    settings.beginGroup(QString::fromLatin1(sessionGroup).arg(sessionId));
    settings.setValue(QStringLiteral("ScalingFactor"), factor);
}

void RdpOptionsDialog::on_ScaleSlider_valueChanged(int position)
{
    const char *zoom = position == 0 ? "2x" : position == 2 ? "0.5x" : "1x";
    scaleLabel->setText(tr("Zoom: %1").arg(QLatin1String(zoom)));
}
