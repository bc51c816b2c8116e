#include "connections/richtextdelegate.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QPainter>
#include <QTextDocument>

RichTextDelegate::RichTextDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{
}

void RichTextDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                             const QModelIndex &index) const
{
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    QStyle *style = item.widget ? item.widget->style() : QApplication::style();

    QTextDocument document;
    document.setHtml(item.text);
    item.text.clear();

    // Background, selection and focus as usual, but without the text.
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, nullptr);

    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &item);
    painter->save();
    painter->translate(textRect.topLeft());
    painter->setClipRect(textRect.translated(-textRect.topLeft()));
    document.documentLayout()->draw(painter, QAbstractTextDocumentLayout::PaintContext());
    painter->restore();
}

QSize RichTextDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);

    QTextDocument document;
    document.setHtml(item.text);
    const QSizeF size = document.size();
    return QSize(int(size.width()), int(size.height()));
}
