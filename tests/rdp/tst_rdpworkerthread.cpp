#include "rdp/rdpworkerthread.h"

#include <QAtomicInt>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

// Tasks run on the worker's own thread, results come back queued, deletion waits.
class TestRdpWorkerThread : public QObject
{
    Q_OBJECT

private slots:
    void resultsComeBackInOrder();
    void taskRunsOnAnotherThread();
    void deletionWaitsForRunningTask();
};

void TestRdpWorkerThread::resultsComeBackInOrder()
{
    RdpWorkerThread worker;
    QSignalSpy spy(&worker, &RdpWorkerThread::finished);
    worker.post([]() { return QVariant(1); });
    worker.post([]() { return QVariant(QStringLiteral("two")); });
    worker.post(RdpWorkerTask()); // an empty task gives an empty result
    QTRY_COMPARE(spy.count(), 3);
    QCOMPARE(spy.at(0).at(0).value<QVariant>(), QVariant(1));
    QCOMPARE(spy.at(1).at(0).value<QVariant>(), QVariant(QStringLiteral("two")));
    QVERIFY(!spy.at(2).at(0).value<QVariant>().isValid());
}

void TestRdpWorkerThread::taskRunsOnAnotherThread()
{
    RdpWorkerThread worker;
    QThread *receivedOn = nullptr;
    connect(&worker, &RdpWorkerThread::finished, this,
            [&receivedOn]() { receivedOn = QThread::currentThread(); });
    QSignalSpy spy(&worker, &RdpWorkerThread::finished);
    worker.post([]() {
        return QVariant::fromValue(reinterpret_cast<quintptr>(QThread::currentThread()));
    });
    QTRY_COMPARE(spy.count(), 1);
    const auto ranOn = reinterpret_cast<QThread *>(spy.at(0).at(0).value<QVariant>().value<quintptr>());
    QVERIFY(ranOn != QThread::currentThread());
    QCOMPARE(receivedOn, QThread::currentThread());
}

void TestRdpWorkerThread::deletionWaitsForRunningTask()
{
    QAtomicInt done(0);
    auto *worker = new RdpWorkerThread;
    worker->post([&done]() {
        QThread::msleep(200);
        done.storeRelease(1);
        return QVariant();
    });
    QThread::msleep(20); // let the task start
    delete worker;
    QCOMPARE(done.loadAcquire(), 1);
}

QTEST_GUILESS_MAIN(TestRdpWorkerThread)
#include "tst_rdpworkerthread.moc"
