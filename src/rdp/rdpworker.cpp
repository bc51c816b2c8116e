#include "rdp/rdpworker.h"

RdpWorker::RdpWorker(QObject *parent) : QObject(parent) {}

void RdpWorker::doWork(const RdpWorkerTask &task)
{
    emit workIsDone(task ? task() : QVariant());
}
