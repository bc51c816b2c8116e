#pragma once

#include "link/boundedlog.h"

#include <QHostInfo>
#include <QIODevice>
#include <QProcess>
#include <QString>
#include <QStringList>

// Full path of one of the helper programs ("plink", "askpass"): beside the
// running executable first, then in $NUVEK_BIN_DIR when that is set, then on
// PATH. The bare name when it is found nowhere.
QString findHelperProgram(const QString &name);

// The link to one server: a QIODevice whose byte stream is the standard input
// and output of the SSH client process (plink), which logs in and runs the
// server's command program. It also opens a SOCKS forward on a free local
// port, reads the client's diagnostics (the address it connects to, the moment
// it is authenticated), keeps them in a bounded log, and reports the end of the
// link with finished(status).
class SshDevice : public QIODevice
{
    Q_OBJECT

public:
    static constexpr int LogLimit = 65536;
    static constexpr quint16 FirstTunnelPort = 41000;
    static constexpr quint16 LastTunnelPort = 41100; // excluded

    explicit SshDevice(QObject *parent = nullptr);
    ~SshDevice() override;

    // Starts the link; does nothing while the device is open. An empty user is
    // asked for first (through askpass); an empty command means a tunnel only.
    void connectTo(const QString &host, quint16 port, const QString &user, const QString &command,
                   bool fips, const QString &askpassServer);

    // Ends the link. An authenticated link with a command gets end of input (the
    // server program ends by itself); anything else is terminated.
    void close() override;

    quint16 tunnelPort() const { return m_tunnelPort; }
    quint16 sshPort() const { return m_port; }
    QString realHost() const { return m_realHost; }
    QString host() const { return m_host; }
    QString user() const { return m_user; }
    bool status() const { return m_status; }
    QStringList log() const { return m_log; }

    // The first port in [first, last) that does not accept a TCP connection on
    // 127.0.0.1 within 100 ms; `last` when every one does.
    static quint16 findFreePort(quint16 first, quint16 last);

    // The range the tunnel port is probed in; [41000, 41100) unless changed.
    void setTunnelPortRange(quint16 first, quint16 last);

    // The pipe is a stream.
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;
    qint64 bytesToWrite() const override;
    bool canReadLine() const override;
    bool atEnd() const override;

signals:
    void connected();
    void finished(bool status);

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 maxSize) override;

private slots:
    void on_AProc_finished(int exitCode, QProcess::ExitStatus exitStatus);
    void on_Proc_error(QProcess::ProcessError error);
    void on_Proc_finished(int exitCode, QProcess::ExitStatus exitStatus);
    void on_Proc_readyReadStandardError();
    void RealHost_lookupFinished(const QHostInfo &info);

private:
    void askForUser();
    void startClient();
    QStringList clientArguments() const;
    void fail(const QString &error);
    // Ends a helper process without waiting: deleted once it has finished.
    static void release(QProcess *process);

    QString m_host;
    quint16 m_port = 0;
    QString m_user;
    QString m_command;
    bool m_fips = false;
    QString m_askpassServer;
    QProcess *m_askpassProcess = nullptr;
    QProcess *m_sshProcess = nullptr;
    quint16 m_tunnelPort = 0;
    QString m_realHost;
    int m_lookupId = -1;
    bool m_accessGranted = false;
    QStringList m_log;
    BoundedLog m_logLimit;
    bool m_status = true;
    quint16 m_firstTunnelPort = FirstTunnelPort;
    quint16 m_lastTunnelPort = LastTunnelPort;
};
