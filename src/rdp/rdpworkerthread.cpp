#include "rdp/rdpworkerthread.h"

#include "rdp/rdpworker.h"

#include <QThread>

RdpWorkerThread::RdpWorkerThread(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<RdpWorkerTask>("RdpWorkerTask");

    thread = new QThread(this);
    worker = new RdpWorker;
    worker->moveToThread(thread);
    connect(thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(this, &RdpWorkerThread::doWork, worker, &RdpWorker::doWork);
    connect(worker, &RdpWorker::workIsDone, this, &RdpWorkerThread::finished);
    thread->start(QThread::InheritPriority);
}

RdpWorkerThread::~RdpWorkerThread()
{
    thread->quit();
    thread->wait();
}

void RdpWorkerThread::post(const RdpWorkerTask &task)
{
    emit doWork(task);
}
