#pragma once

#include "rdp/rdpworkertask.h"

#include <QObject>

// Lives in the worker thread: runs each task it is given and reports the result.
class RdpWorker : public QObject
{
    Q_OBJECT

public:
    explicit RdpWorker(QObject *parent = nullptr);

signals:
    void workIsDone(const QVariant &result);

public slots:
    void doWork(const RdpWorkerTask &task);
};
