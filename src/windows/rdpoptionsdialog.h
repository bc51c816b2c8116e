#pragma once

#include <QDialog>
#include <QString>

class QGroupBox;
class QLabel;
class QSlider;
struct RdpContext;

// The session's encoding and zoom options. The encoding options live on the
// server and travel as JSON over the oxcfg channel; the user's choices are
// remembered per host (encoding) and per session (zoom).
//
// Every user action on the controls sends at once. Values the server reports
// are only shown: putting them into the controls sends nothing back.
class RdpOptionsDialog : public QDialog
{
    Q_OBJECT

public:
    RdpOptionsDialog(RdpContext *context, const QString &remoteHost, const QString &sessionId,
                     QWidget *parent = nullptr);

    // The server's options report (oxcfg), and its answer to a set request.
    void handleOptionsUpdated(const QString &json);
    void handleSetOptionsResponse(const QString &json);

private slots:
    void syncSavedValues();
    void sendUiValues();
    void on_QualitySlider_valueChanged(int position);
    void on_FpsSlider_valueChanged(int position);
    void on_FrameAckSlider_valueChanged(int position);
    void on_ScaleSlider_actionTriggered(int action);
    void on_ScaleSlider_valueChanged(int position);

private:
    void sendOptions(bool manual, int compression, int fps, int frameAck);
    void showServerValues();

    RdpContext *context;
    QString remoteHost;
    QString sessionId;

    QGroupBox *updateBox;
    QLabel *compressionLabel;
    QSlider *qualitySlider;
    QLabel *fpsLabel;
    QSlider *fpsSlider;
    QGroupBox *algorithmBox;
    QLabel *frameAckLabel;
    QSlider *frameAckSlider;
    QLabel *scaleLabel;
    QSlider *scaleSlider;

    // What the server reported last.
    bool serverManual = false;
    int serverCompression = 0;
    int serverFps = 60;
    int serverFrameAck = 0;

    // True while the server's values are put into the controls.
    bool showingServerValues = false;
};
