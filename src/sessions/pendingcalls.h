#pragma once

#include "link/jsonrpchandler.h"

#include <QPointer>
#include <QSet>
#include <QString>

// The calls one object has sent and not yet seen answered, with the guarded link
// they went through. A call whose reply arrives leaves the set before its callback
// runs; the calls still in the set are cancelled when the object is destroyed, so a
// callback never reaches an object that is gone.
class PendingCalls
{
public:
    explicit PendingCalls(JsonRpcHandler *handler = nullptr) : m_handler(handler) {}
    ~PendingCalls() { cancelAll(); }
    PendingCalls(const PendingCalls &) = delete;
    PendingCalls &operator=(const PendingCalls &) = delete;

    // The link, or null once it has been destroyed.
    JsonRpcHandler *handler() const { return m_handler; }

    // Sends the call and keeps its id until the reply comes. Without a link nothing
    // is sent and an empty string is returned.
    QString call(const QString &method, const QJsonObject &params,
                 const JsonRpcCallback &callback = JsonRpcCallback());

    // Cancels every call still waiting; their callbacks will never run.
    void cancelAll();

    bool isEmpty() const { return m_ids.isEmpty(); }
    int count() const { return m_ids.size(); }
    bool contains(const QString &id) const { return m_ids.contains(id); }

private:
    QPointer<JsonRpcHandler> m_handler;
    QSet<QString> m_ids;
};
