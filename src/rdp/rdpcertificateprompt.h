#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <freerdp/freerdp.h>

#include <atomic>
#include <memory>

class QMessageBox;

// Asks the user whether to trust a server certificate that FreeRDP could not verify, and lets
// FreeRDP remember the answer.
//
// FreeRDP asks while it connects, on the connection's worker thread. The question travels to
// the GUI thread as a queued call; the worker then waits on an event of the prompt's gate,
// which the answer sets. The GUI thread never waits for the worker while a question is open:
// cancel() (run first when a connection is torn down) answers "no" and wakes the worker, so
// that the worker can end. Questions come only from a worker thread that runs the connect
// step inside a Scope; any other thread (FreeRDP handling a redirection on the GUI thread)
// gets "no" at once.
//
// Accepted certificates are kept in FreeRDP's own certificate store ("known_hosts2", one line
// per host and port), which for direct connections lies in the folder "rdp" of the user's
// data folder.
class RdpCertificatePrompt : public QObject
{
    Q_OBJECT

public:
    // FreeRDP's answers: no, yes and remember, yes for this connection only.
    enum Answer : DWORD { Reject = 0, AcceptAndRemember = 1, AcceptOnce = 2 };

    // What a worker thread waits on.
    struct Gate
    {
        HANDLE answered = nullptr;            // manual reset
        std::atomic<DWORD> answer{Reject};
        std::atomic<bool> closed{false};
        RdpCertificatePrompt *prompt = nullptr;
        ~Gate();
    };

    // Makes the questions of the worker thread's connect step go to `gate`.
    class Scope
    {
    public:
        explicit Scope(std::shared_ptr<Gate> gate);
        ~Scope();
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;
    };

    explicit RdpCertificatePrompt(QObject *parent = nullptr);
    ~RdpCertificatePrompt() override;

    // Before a connection: installs FreeRDP's callbacks; a direct connection gets TLS only
    // (no standard RDP security) and FreeRDP's certificate store in our data folder. Opens
    // the gate for questions.
    void prepare(freerdp *instance, bool direct);
    // Closes the gate: an open question is answered "no" and any later one at once.
    void cancel();

    std::shared_ptr<Gate> gate() const { return m_gate; }

    // The folder of FreeRDP's certificate store.
    static QString storeFolder();

private slots:
    void ask(const QString &host, uint port, const QString &subject, const QString &issuer,
             const QString &fingerprint, const QString &oldFingerprint, bool changed);

private:
    static DWORD askFromWorker(const char *host, UINT16 port, const char *subject,
                               const char *issuer, const char *fingerprint,
                               const char *oldFingerprint, bool changed);
    static DWORD verifyCertificate(freerdp *instance, const char *host, UINT16 port,
                                   const char *commonName, const char *subject,
                                   const char *issuer, const char *fingerprint, DWORD flags);
    static DWORD verifyChangedCertificate(freerdp *instance, const char *host, UINT16 port,
                                          const char *commonName, const char *subject,
                                          const char *issuer, const char *fingerprint,
                                          const char *oldSubject, const char *oldIssuer,
                                          const char *oldFingerprint, DWORD flags);
    void answer(DWORD value);

    std::shared_ptr<Gate> m_gate;
    QPointer<QMessageBox> box;
};
