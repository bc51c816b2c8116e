#pragma once

#include <QString>
#include <QStringList>

// Keeps a string list within a number of characters by dropping its oldest
// entries. The list is owned elsewhere; this only holds a pointer to it and the
// running character count.
class BoundedLog
{
public:
    // A non-positive maximum is stored as 0. The count starts as the length of
    // the entries already in the list.
    BoundedLog(QStringList *list, int maximum);

    // Drops entries from the front until `text` fits, then appends it. An entry
    // longer than the maximum is kept whole, alone.
    void append(const QString &text);

    // Empties the list.
    void clear();

    int maximum() const { return m_maximum; }
    qint64 total() const { return m_total; }

private:
    QStringList *m_list;
    int m_maximum;
    qint64 m_total = 0;
};
