#include "windows/rdpsharingnotification.h"

#include <QGridLayout>
#include <QLabel>

#include <algorithm>

RdpSharingNotification::RdpSharingNotification(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_StyledBackground);
    setObjectName(QStringLiteral("RdpSharingNotification"));
    resize(300, 25);
    setStyleSheet(QStringLiteral("background-color: rgb(85,170,255);\n"
                                 "background: rgb(85,170,255);\n"
                                 "color: white;"));
    auto *grid = new QGridLayout(this);
    grid->setObjectName(QStringLiteral("gridLayout"));
    grid->setContentsMargins(6, 6, 6, 6);
    label = new QLabel(this);
    label->setObjectName(QStringLiteral("TextLabel"));
    label->setWordWrap(true);
    label->setText(tr("Hi!"));
    grid->addWidget(label, 0, 0);
}

void RdpSharingNotification::setText(const QString &text)
{
    label->setText(text);
    QLayout *grid = layout();
    grid->invalidate();
    int height = grid->minimumHeightForWidth(width());
    if (height < 0)
        height = grid->minimumSize().height();
    resize(width(), std::min(height, 300));
}

QString RdpSharingNotification::text() const
{
    return label->text();
}
