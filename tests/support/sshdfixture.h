#pragma once

#include <QList>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// A private OpenSSH server on 127.0.0.1 and a free port, for tests. Its host key, config,
// log, the authorized keys, a client key pair, a known_hosts file that trusts the host key
// and a client ssh config live in one temporary folder, with a "bin" folder put first on
// the test account's PATH. Logins go to the account "nuvektest" (password password()), or to
// "nuvektest2" for a second person; both are created when missing; that needs root, otherwise isAvailable() says why and tests QSKIP.
//
//     SshdFixture sshd;
//     if (!sshd.isAvailable(&why)) QSKIP(qPrintable(why));
//     sshd.installClientKey();                  // key login (password login is always on)
//     sshd.addProgram("nuvek2_sci", script);    // on the account's PATH
//     QVERIFY2(sshd.start(&why), qPrintable(why));
//     sshd.applyClientEnvironment();            // our plink trusts the host and uses the key
class SshdFixture
{
public:
    SshdFixture();
    ~SshdFixture();
    SshdFixture(const SshdFixture &) = delete;
    SshdFixture &operator=(const SshdFixture &) = delete;

    bool isAvailable(QString *why = nullptr);
    void setPublicKeyAuthentication(bool on) { m_pubkeyAuth = on; } // before start(); default on
    // An executable `name` (the whole file, with its #! line) in the bin folder.
    QString addProgram(const QString &name, const QByteArray &content);
    // Generates the client key (once) and authorizes it; removeClientKey() withdraws it.
    bool installClientKey();
    void removeClientKey();

    bool start(QString *error = nullptr);
    void stop();
    bool isRunning() const { return m_sshd && m_sshd->state() == QProcess::Running; }

    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return m_port; }
    QString user() const { return QStringLiteral("nuvektest"); }
    // Another account with the same password, for a second person.
    static QString secondUser() { return QStringLiteral("nuvektest2"); }
    static QString password() { return QStringLiteral("Nuvek-test-7q2"); }
    QString tempPath() const { return m_dir ? m_dir->path() : QString(); }
    QString binPath() const { return tempPath() + QStringLiteral("/bin"); }
    QString knownHostsPath() const { return tempPath() + QStringLiteral("/known hosts"); }

    // Sets NUVEK_KNOWN_HOSTS and NUVEK_SSH_CONFIG for our plink until stop().
    void applyClientEnvironment();

    static quint16 freePort();

private:
    QString file(const char *name) const { return m_dir->filePath(QLatin1String(name)); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_sshd;
    quint16 m_port = 0;
    bool m_prepared = false;
    bool m_pubkeyAuth = true;
    QList<QPair<QByteArray, QByteArray>> m_savedEnv; // (name, value or null when unset)
};
