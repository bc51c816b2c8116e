#pragma once

#include "link/jsonrpchandler.h"
#include "link/sshdevice.h"
#include "rdp/rdpinstance.h"
#include "support/sshdfixture.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <memory>

// Starts the stack in a test function: skips where this machine cannot, fails where it should.
#define START_SESSION_STACK(stack)                                                                 \
    do {                                                                                           \
        bool skip_ = false;                                                                        \
        const QString why_ = (stack).start(&skip_);                                                \
        if (skip_)                                                                                 \
            QSKIP(qPrintable(why_));                                                               \
        QVERIFY2(why_.isEmpty(), qPrintable(why_));                                                \
    } while (false)

// One session as nuvek2_sci started it, and where its files and display are.
struct SessionInfo
{
    QString id, password, dir, windowMode;
    quint16 port = 0;
    QByteArray display;
};

// The real stack behind a session: a private sshd, our plink logged in to the test account
// and the real nuvek2_sci there (with NUVEK2_RDP_TRACE on, so the session's rdp.log shows
// what the own channels receive), its data in a folder the account owns.
class SessionStack
{
public:
    ~SessionStack();

    // Empty when the link is up; else why not, with `skip` set when this machine cannot.
    QString start(bool *skip);
    // Terminates the sessions named, closes the link and stops the server.
    void stop(const QStringList &sessionIds);

    QJsonValue call(const QString &method, const QJsonObject &params);
    SessionInfo startSession(const QString &id, const QString &command, const QString &geometry);
    static QByteArray rdpLog(const SessionInfo &session);
    // A viewer through the link's SOCKS forward, once it is connected or has failed. mode as
    // RdpInstance takes it; the session's own password unless one is given.
    std::unique_ptr<RdpInstance> connectViewer(const SessionInfo &session, const QString &mode,
                                               const QString &password = QString());

    SshdFixture &sshd() { return *m_sshd; }
    SshDevice &link() { return *m_link; }
    QString dataHome() const { return m_dataHome; }

private:
    std::unique_ptr<SshdFixture> m_sshd;
    std::unique_ptr<SshDevice> m_link;
    JsonRpcHandler *m_rpc = nullptr;
    QString m_dataHome;
};
