#pragma once

#include <QStyledItemDelegate>

// Item delegate whose size hint is an n by n square for every item; it keeps a
// column wide enough for the row action buttons placed over it.
class MinDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit MinDelegate(int n, QObject *parent = nullptr);

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    int m_size;
};
