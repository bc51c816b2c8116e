#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

// One viewer of a shared session, as the sharing channel reports it.
struct RdpViewer
{
    quint32 id = 0;
    QString name;
    bool owner = false;      // id 0: the session's owner
    bool controller = false; // has control of the session
};

Q_DECLARE_METATYPE(RdpViewer)
Q_DECLARE_METATYPE(QList<RdpViewer>)
