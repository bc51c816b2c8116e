#include "link/boundedlog.h"

#include <QtGlobal>

BoundedLog::BoundedLog(QStringList *list, int maximum)
    : m_list(list)
    , m_maximum(qMax(maximum, 0))
{
    for (const QString &entry : qAsConst(*m_list))
        m_total += entry.size();
}

void BoundedLog::append(const QString &text)
{
    while (m_total + text.size() > m_maximum && !m_list->isEmpty())
        m_total -= m_list->takeFirst().size();
    m_list->append(text);
    m_total += text.size();
}

void BoundedLog::clear()
{
    m_list->clear();
    m_total = 0;
}
