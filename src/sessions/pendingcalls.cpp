#include "sessions/pendingcalls.h"

QString PendingCalls::call(const QString &method, const QJsonObject &params,
                           const JsonRpcCallback &callback)
{
    if (!m_handler)
        return QString();
    const QString id = m_handler->call(
        method, params,
        [this, callback](const QString &id, const QJsonValue &result, const QJsonValue &error) {
            m_ids.remove(id);
            if (callback)
                callback(id, result, error);
        });
    m_ids.insert(id);
    return id;
}

void PendingCalls::cancelAll()
{
    if (m_handler) {
        for (const QString &id : qAsConst(m_ids))
            m_handler->cancel(id);
    }
    m_ids.clear();
}
