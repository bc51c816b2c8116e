#include "rdp/rdpcertificateprompt.h"

#include "app/datafolders.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

#include <winpr/synch.h>

namespace {

// The gate of the connect step running on this thread; none elsewhere.
thread_local std::shared_ptr<RdpCertificatePrompt::Gate> currentGate;

QString text(const char *value)
{
    return QString::fromUtf8(value ? value : "");
}

} // namespace

RdpCertificatePrompt::Gate::~Gate()
{
    if (answered)
        CloseHandle(answered);
}

RdpCertificatePrompt::Scope::Scope(std::shared_ptr<Gate> gate)
{
    currentGate = std::move(gate);
}

RdpCertificatePrompt::Scope::~Scope()
{
    currentGate.reset();
}

RdpCertificatePrompt::RdpCertificatePrompt(QObject *parent)
    : QObject(parent), m_gate(std::make_shared<Gate>())
{
    m_gate->answered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_gate->prompt = this;
    m_gate->closed = true;
}

RdpCertificatePrompt::~RdpCertificatePrompt()
{
    cancel();
}

QString RdpCertificatePrompt::storeFolder()
{
    const QDir data = userDataDir();
    if (data.path().isEmpty() || data.path() == QLatin1String("."))
        return QString(); // no home: FreeRDP's own default
    return data.filePath(QStringLiteral("rdp"));
}

void RdpCertificatePrompt::prepare(freerdp *instance, bool direct)
{
    instance->VerifyCertificateEx = verifyCertificate;
    instance->VerifyChangedCertificateEx = verifyChangedCertificate;
    rdpSettings *settings = instance->context->settings;
    // A direct connection insists on TLS: were standard RDP security allowed as well, anyone
    // on the way could offer that instead and so skip the certificate check.
    if (direct)
        freerdp_settings_set_bool(settings, FreeRDP_RdpSecurity, FALSE);
    const QString folder = storeFolder();
    if (direct && !folder.isEmpty())
        freerdp_settings_set_string(settings, FreeRDP_ConfigPath, folder.toLocal8Bit().constData());
    // No worker runs now: nothing waits on the gate.
    ResetEvent(m_gate->answered);
    m_gate->closed = false;
}

void RdpCertificatePrompt::cancel()
{
    m_gate->closed = true;
    SetEvent(m_gate->answered);
    // A question still on its way is void.
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    if (box) {
        box->disconnect(this);
        box->close();
    }
}

void RdpCertificatePrompt::answer(DWORD value)
{
    if (m_gate->closed)
        return;
    m_gate->answer = value;
    SetEvent(m_gate->answered);
}

DWORD RdpCertificatePrompt::askFromWorker(const char *host, UINT16 port, const char *subject,
                                          const char *issuer, const char *fingerprint,
                                          const char *oldFingerprint, bool changed)
{
    const std::shared_ptr<Gate> gate = currentGate;
    if (!gate || gate->closed || !gate->answered)
        return Reject;
    QMetaObject::invokeMethod(gate->prompt, "ask", Qt::QueuedConnection,
                              Q_ARG(QString, text(host)), Q_ARG(uint, port), Q_ARG(QString, text(subject)),
                              Q_ARG(QString, text(issuer)), Q_ARG(QString, text(fingerprint)),
                              Q_ARG(QString, text(oldFingerprint)), Q_ARG(bool, changed));
    if (WaitForSingleObject(gate->answered, INFINITE) != WAIT_OBJECT_0 || gate->closed)
        return Reject;
    const DWORD value = gate->answer;
    ResetEvent(gate->answered);
    return value;
}

DWORD RdpCertificatePrompt::verifyCertificate(freerdp *, const char *host, UINT16 port,
                                              const char *, const char *subject,
                                              const char *issuer, const char *fingerprint, DWORD)
{
    return askFromWorker(host, port, subject, issuer, fingerprint, nullptr, false);
}

DWORD RdpCertificatePrompt::verifyChangedCertificate(freerdp *, const char *host, UINT16 port,
                                                     const char *, const char *subject,
                                                     const char *issuer, const char *fingerprint,
                                                     const char *, const char *,
                                                     const char *oldFingerprint, DWORD)
{
    return askFromWorker(host, port, subject, issuer, fingerprint, oldFingerprint, true);
}

void RdpCertificatePrompt::ask(const QString &host, uint port, const QString &subject,
                               const QString &issuer, const QString &fingerprint,
                               const QString &oldFingerprint, bool changed)
{
    if (m_gate->closed)
        return;
    if (box) {
        box->disconnect(this);
        box->close();
    }
    const QString server = QStringLiteral("%1:%2").arg(host).arg(port);
    QString details;
    if (changed) {
        details = tr("New fingerprint: %1\nPrevious fingerprint: %2")
                      .arg(fingerprint, oldFingerprint);
    } else {
        details = tr("Fingerprint: %1").arg(fingerprint);
    }
    details += QLatin1Char('\n') + tr("Subject: %1\nIssuer: %2").arg(subject, issuer)
        + QStringLiteral("\n\n") + tr("Connect only if the session's owner confirms this fingerprint.");

    box = new QMessageBox(QMessageBox::Warning, QCoreApplication::applicationName(),
                          changed ? tr("The certificate of %1 has changed since the last connection. "
                                       "Someone may be intercepting the connection.")
                                        .arg(server)
                                  : tr("The identity of %1 cannot be verified.").arg(server),
                          QMessageBox::NoButton);
    box->setObjectName(QStringLiteral("RdpCertificatePrompt"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setInformativeText(details);
    QPushButton *always = box->addButton(tr("Trust Always"), QMessageBox::AcceptRole);
    always->setObjectName(QStringLiteral("TrustAlwaysButton"));
    QPushButton *once = box->addButton(tr("Connect Once"), QMessageBox::YesRole);
    once->setObjectName(QStringLiteral("ConnectOnceButton"));
    QPushButton *reject = box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(reject);
    box->setEscapeButton(reject);
    QMessageBox *shown = box;
    connect(shown, &QMessageBox::finished, this, [this, shown, always, once] {
        QAbstractButton *clicked = shown->clickedButton();
        answer(clicked == always ? AcceptAndRemember : clicked == once ? AcceptOnce : Reject);
    });
    shown->show();
    shown->raise();
    shown->activateWindow();
}
