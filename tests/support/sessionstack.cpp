#include "support/sessionstack.h"

#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

SessionStack::~SessionStack()
{
    stop({});
}

QString SessionStack::start(bool *skip)
{
    *skip = true;
    if (QStandardPaths::findExecutable("Xvnc").isEmpty())
        return QStringLiteral("Xvnc is needed");
    m_sshd = std::make_unique<SshdFixture>();
    QString why;
    if (!m_sshd->isAvailable(&why))
        return why;
    *skip = false;
    m_dataHome = m_sshd->tempPath() + "/data";
    const passwd *account = ::getpwnam(m_sshd->user().toLocal8Bit().constData());
    if (!m_sshd->installClientKey() || !account || !QDir().mkpath(m_dataHome)
        || ::chown(QFile::encodeName(m_dataHome).constData(), account->pw_uid, account->pw_gid) != 0)
        return QStringLiteral("cannot prepare the test account");
    m_sshd->addProgram("nuvek2_sci", QStringLiteral("#!/bin/sh\nexport XDG_DATA_HOME='%1' "
                                                    "NUVEK2_RDP_TRACE=1\nexec '%2/nuvek2_sci' \"$@\"\n")
                                         .arg(m_dataHome, nuvekBinDir())
                                         .toUtf8());
    if (!m_sshd->start(&why))
        return why;
    m_sshd->applyClientEnvironment();
    m_link = std::make_unique<SshDevice>();
    m_rpc = new JsonRpcHandler(m_link.get(), m_link.get());
    QSignalSpy up(m_link.get(), &SshDevice::connected);
    m_link->connectTo(m_sshd->host(), m_sshd->port(), m_sshd->user(), "nuvek2_sci", false, QString());
    return up.wait(20000) ? QString() : m_link->log().join('\n');
}

void SessionStack::stop(const QStringList &sessionIds)
{
    if (m_link && m_link->isOpen()) {
        for (const QString &id : sessionIds)
            call("Nuvek.terminate", {{"id", id}});
        m_link->close();
        QTRY_VERIFY(childProcessIds("plink").isEmpty());
    }
    m_link.reset();
    m_sshd.reset();
}

QJsonValue SessionStack::call(const QString &method, const QJsonObject &params)
{
    QJsonValue result;
    bool answered = false;
    m_rpc->call(method, params, [&](const QString &, const QJsonValue &value, const QJsonValue &error) {
        result = value;
        if (!error.isUndefined())
            qWarning("%s: %s", qPrintable(method), QJsonDocument(error.toObject()).toJson().constData());
        answered = true;
    });
    if (!QTest::qWaitFor([&] { return answered; }, 30000))
        qWarning("%s had no answer", qPrintable(method));
    return result;
}

SessionInfo SessionStack::startSession(const QString &id, const QString &command, const QString &geometry)
{
    const QJsonObject reply = call("Nuvek.start", {{"id", id}, {"command", command}, {"geometry", geometry}}).toObject();
    SessionInfo info;
    info.id = id;
    info.password = reply.value("password").toString();
    info.windowMode = reply.value("windowMode").toString();
    info.port = quint16(reply.value("port").toInt());
    QDir hosts(m_dataHome + "/Ostrane Rodorivezozoru/Nuvek/server/sessions");
    for (const QString &host : hosts.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        info.dir = hosts.filePath(host + "/" + id);
    QFile record(info.dir + "/session.json");
    if (record.open(QIODevice::ReadOnly))
        info.display = ":" + QByteArray::number(QJsonDocument::fromJson(record.readAll())["display"].toInt());
    return info;
}

QByteArray SessionStack::rdpLog(const SessionInfo &session)
{
    QFile log(session.dir + "/rdp.log");
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
}

std::unique_ptr<RdpInstance> SessionStack::connectViewer(const SessionInfo &session, const QString &mode,
                                                         const QString &password)
{
    auto instance = std::make_unique<RdpInstance>();
    QSignalSpy connected(instance.get(), &RdpInstance::connected);
    QSignalSpy finished(instance.get(), &RdpInstance::finished);
    const QVariantMap params{{"SessionId", session.id}, {"RemoteHost", "e2e-host"}, {"SshHost", m_link->realHost()}};
    instance->connectToSession("127.0.0.1", session.port, m_sshd->user(),
                               password.isNull() ? session.password : password, m_link->tunnelPort(), mode,
                               session.id, false, params);
    (void)QTest::qWaitFor([&] { return !connected.isEmpty() || !finished.isEmpty(); }, 20000);
    return instance;
}
