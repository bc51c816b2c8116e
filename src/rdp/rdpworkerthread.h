#pragma once

#include "rdp/rdpworkertask.h"

#include <QObject>

class QThread;
class RdpWorker;

// The worker thread of one connection, seen from the GUI thread. Tasks go over by the
// queued doWork signal, results come back by the queued finished signal; nothing else is
// shared. Deleting it quits the thread and waits for the running task to end.
class RdpWorkerThread : public QObject
{
    Q_OBJECT

public:
    explicit RdpWorkerThread(QObject *parent = nullptr);
    ~RdpWorkerThread() override;

    void post(const RdpWorkerTask &task);

signals:
    void doWork(const RdpWorkerTask &task);
    void finished(const QVariant &result);

private:
    QThread *thread;
    RdpWorker *worker;
};
