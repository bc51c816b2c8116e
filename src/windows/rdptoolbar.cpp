#include "windows/rdptoolbar.h"

#include "rdp/rdpcontext.h"
#include "windows/rdpmainwidget.h"
#include "windows/rdpsessionobjects.h"

#include <QDialog>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QPushButton>
#include <QVariant>

RdpToolbar::RdpToolbar(RdpContext *context, QWidget *parent)
    : QWidget(parent)
    , context(context)
{
    setObjectName(QStringLiteral("RdpToolbar"));
    resize(234, 44);
    setStyleSheet(QStringLiteral(
        "QPushButton[myFlat=\"true\"] { border: 0px; padding: 3px; }\n"
        "QPushButton[myFlat=\"true\"]::menu-indicator { image: none; width: 0px; height: 0px; }\n"
        "QPushButton[myFlat=\"true\"]:hover { border-color: gray; border-radius: 3px;"
        " border-style: outset; border-width: 1px; }\n"
        "QPushButton[myFlat=\"true\"]:pressed { background-color: darkgray; border-color: gray;"
        " border-radius: 3px; border-style: outset; border-width: 1px; }\n"
        "QPushButton[myFlat=\"true\"]:checked { background-color: darkgray; border-color: gray;"
        " border-radius: 3px; border-style: outset; border-width: 1px; }"));

    auto *grid = new QGridLayout(this);
    grid->setObjectName(QStringLiteral("gridLayout"));
    grid->setSpacing(0);
    grid->setContentsMargins(0, 0, 0, 0);
    auto *frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Raised);
    frame->setLineWidth(2);
    grid->addWidget(frame, 0, 0);
    auto *row = new QHBoxLayout(frame);
    row->setObjectName(QStringLiteral("horizontalLayout"));
    row->setContentsMargins(3, 3, 3, 3);

    QWidget *previous = nullptr;
    const auto add = [&](const QString &name, const QString &icon, bool checkable,
                         const QString &toolTip) {
        QPushButton *button = addButton(name, icon, checkable, toolTip);
        row->addWidget(button);
        if (previous)
            setTabOrder(previous, button);
        previous = button;
        return button;
    };
    add(QStringLiteral("DisconnectButton"), QStringLiteral(":/images/resources/pause.svg"), false,
        tr("Disconnect the session."));
    resizeButton = add(QStringLiteral("ResizeButton"),
                       QStringLiteral(":/images/resources/arrow-resize.svg"), true,
                       tr("Toggle resize mode."));
    fullscreenButton = add(QStringLiteral("FullscreenButton"),
                           QStringLiteral(":/images/resources/arrow-expand.svg"), true,
                           tr("Toggle fullscreen mode."));
    add(QStringLiteral("OptionsButton"), QStringLiteral(":/images/resources/gear-a.svg"), false,
        tr("Adjust session settings."));
    sharingButton = add(QStringLiteral("SharingButton"),
                        QStringLiteral(":/images/resources/android-share-alt.svg"), false,
                        tr("Show the sharing controls."));

    QMetaObject::connectSlotsByName(this);
}

QPushButton *RdpToolbar::addButton(const QString &name, const QString &icon, bool checkable,
                                   const QString &toolTip)
{
    auto *button = new QPushButton(this);
    button->setObjectName(name);
    button->setIcon(QIcon(icon));
    button->setIconSize(QSize(24, 24));
    button->setCheckable(checkable);
    button->setFlat(true);
    button->setToolTip(toolTip);
    button->setProperty("myFlat", true);
    return button;
}

bool RdpToolbar::isResizeChecked() const
{
    return resizeButton->isChecked();
}

void RdpToolbar::setResizeChecked(bool checked)
{
    resizeButton->setChecked(checked);
}

void RdpToolbar::setFullscreenChecked(bool checked)
{
    fullscreenButton->setChecked(checked);
}

void RdpToolbar::setResizeEnabled(bool enabled)
{
    resizeButton->setEnabled(enabled);
}

void RdpToolbar::setSharingEnabled(bool enabled)
{
    sharingButton->setEnabled(enabled);
}

void RdpToolbar::on_DisconnectButton_clicked()
{
    requestSessionQuit(context);
}

void RdpToolbar::on_ResizeButton_clicked(bool checked)
{
    if (context->mainWidget)
        context->mainWidget->setResizeMode(checked);
}

void RdpToolbar::on_FullscreenButton_clicked(bool checked)
{
    if (!context->mainWidget)
        return;
    if (checked)
        context->mainWidget->enterFullScreen();
    else
        context->mainWidget->exitFullScreen();
}

void RdpToolbar::on_OptionsButton_clicked()
{
    if (QDialog *dialog = sessionOptionsDialog(context))
        dialog->open();
    emit buttonClicked();
}

void RdpToolbar::on_SharingButton_clicked()
{
    if (QDialog *dialog = sessionSharingDialog(context))
        dialog->open();
    emit buttonClicked();
}
