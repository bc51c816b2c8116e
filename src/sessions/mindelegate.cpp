#include "sessions/mindelegate.h"

MinDelegate::MinDelegate(int n, QObject *parent)
    : QStyledItemDelegate(parent)
    , m_size(n)
{
}

QSize MinDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    return QSize(m_size, m_size);
}
