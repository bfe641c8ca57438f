#include "taskdoubles.h"

#include <QSignalSpy>
#include <QThreadPool>
#include <QtTest>

#include <memory>

using State = TaskSpecification::State;

class TestComposedTask : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void taskPointerTravelsQueued();
    void emptyFinishesAtOnce();
    void progressIsWeightedSum();
    void boundedParallelism();
    void subtaskEndingInsideExecuteStartsNextFromLoop();
    void sequentialFailureStopsTheRest();
    void parallelFailureTellsSiblingOnce();
    void announcementEndingSiblingInsideHandler();
    void announcementTravelsDownOnce();
    void handleOtherTaskCancelledIgnoresSelfAndIdle();
    void cancelDuringWorker();
    void userCancelOfParallelSubtasksIsCanceled();
    void verdict_data();
    void verdict();
    void downloadStatusAggregation();
    void resetAllowsAnotherRun();
    void staleStartAfterResetIsIgnored();
    void releasedSubtasksAreDisconnected();
    void deletedWhileWorkerRuns();

private:
    // Runs the event loop until the task has ended.
    static bool waitEnded(const TaskSpecification& task)
    {
        return QTest::qWaitFor([&] { return task.state() >= TaskSpecification::FINISHED; });
    }
};

void TestComposedTask::cleanup()
{
    QThreadPool::globalInstance()->waitForDone();
}

// Receives a task pointer through a queued, name-based connection, which needs the pointer
// type registered by name.
class TaskReceiver : public QObject
{
    Q_OBJECT

public slots:
    void take(TaskSpecification* task) { m_Received = task; }

public:
    TaskSpecification* m_Received = nullptr;
};

void TestComposedTask::taskPointerTravelsQueued()
{
    FakeTask task("t", nullptr, nullptr, 1.0);
    TaskReceiver receiver;
    QVERIFY(connect(&task, SIGNAL(finished(TaskSpecification*)), &receiver,
                    SLOT(take(TaskSpecification*)), Qt::QueuedConnection));
    task.execute();
    task.finish();
    QVERIFY(QTest::qWaitFor([&] { return receiver.m_Received != nullptr; }));
    QCOMPARE(receiver.m_Received, &task);
}

void TestComposedTask::emptyFinishesAtOnce()
{
    FakeComposedTask task(1, nullptr, 0.7);
    QSignalSpy finished(&task, &TaskSpecification::finished);
    QSignalSpy canceled(&task, &TaskSpecification::canceled);
    task.execute();
    QCOMPARE(finished.count(), 1); // synchronously, without the event loop
    QCOMPARE(canceled.count(), 0);
    QCOMPARE(task.state(), TaskSpecification::FINISHED);
    QCOMPARE(task.progress(), 0.7);
    QCOMPARE(task.m_SubtasksDoneCalls, 1);
    QCoreApplication::processEvents();
    QCOMPARE(task.m_SubtasksDoneCalls, 1);
}

void TestComposedTask::progressIsWeightedSum()
{
    FakeComposedTask task(2, nullptr, 0.5);
    FakeTask* a = task.addFake("a", 0.2);
    FakeTask* b = task.addFake("b", 0.6);
    QSignalSpy progress(&task, &TaskSpecification::updateProgress);
    task.execute();
    QVERIFY(QTest::qWaitFor([&] { return task.m_StartLog.size() == 2; }));

    a->report(0.5); // a: 0.1 of its 0.2
    QCOMPARE(a->progress(), 0.1);
    QVERIFY(qFuzzyCompare(task.progress(), 0.5 * 0.1));
    QVERIFY(qFuzzyCompare(progress.last().at(0).toDouble(), 0.05));
    b->report(1.0);
    QVERIFY(qFuzzyCompare(task.progress(), 0.5 * (0.1 + 0.6)));

    a->finish();
    b->finish();
    QVERIFY(waitEnded(task));
    QCOMPARE(task.state(), TaskSpecification::FINISHED);
    QCOMPARE(task.progress(), 0.5);
    QCOMPARE(progress.last().at(0).toDouble(), 0.5);
}

void TestComposedTask::boundedParallelism()
{
    FakeComposedTask task(2, nullptr, 1.0);
    QList<FakeTask*> subtasks;
    for (const char* name : {"a", "b", "c", "d", "e"})
        subtasks.append(task.addFake(name));
    QSignalSpy finished(&task, &TaskSpecification::finished);

    task.execute();
    QVERIFY(task.m_StartLog.isEmpty()); // starts come from the event loop
    QVERIFY(QTest::qWaitFor([&] { return task.m_StartLog.size() == 2; }));
    QCoreApplication::processEvents();
    QCOMPARE(task.m_StartLog, QStringList({"a", "b"}));

    // Each ended subtask makes room for exactly one more, in order.
    const QList<QStringList> expected = {
        {"a", "b", "c"}, {"a", "b", "c", "d"}, {"a", "b", "c", "d", "e"}};
    for (int i = 0; i < 3; ++i) {
        subtasks[i]->finish();
        QVERIFY(QTest::qWaitFor([&] { return task.m_StartLog.size() == 3 + i; }));
        QCoreApplication::processEvents();
        QCOMPARE(task.m_StartLog, expected[i]);
        QCOMPARE(task.m_SubtasksDoneCalls, 0);
    }
    subtasks[3]->finish();
    QCoreApplication::processEvents();
    QCOMPARE(task.m_SubtasksDoneCalls, 0);
    subtasks[4]->finish();
    QVERIFY(waitEnded(task));
    QCoreApplication::processEvents();
    QCOMPARE(task.m_SubtasksDoneCalls, 1);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(task.state(), TaskSpecification::FINISHED);
}

void TestComposedTask::subtaskEndingInsideExecuteStartsNextFromLoop()
{
    FakeComposedTask task(1, nullptr, 1.0);
    FakeTask* a = task.addFake("a");
    FakeTask* b = task.addFake("b");
    a->m_OnExecute = b->m_OnExecute = FakeTask::Reaction::FINISH;
    // Connected after the parent's own connection, so it runs after the parent saw a's end.
    State bWhenAEnded = TaskSpecification::RUNNING;
    connect(a, &TaskSpecification::finished, this, [&] { bWhenAEnded = b->state(); });

    task.execute();
    QVERIFY(waitEnded(task));
    QCOMPARE(bWhenAEnded, TaskSpecification::IDLE);
    QCOMPARE(task.m_StartLog, QStringList({"a", "b"}));
    QCOMPARE(task.state(), TaskSpecification::FINISHED);
}

void TestComposedTask::sequentialFailureStopsTheRest()
{
    FakeComposedTask task(1, nullptr, 1.0);
    FakeTask* a = task.addFake("a");
    FakeTask* b = task.addFake("b");
    FakeTask* c = task.addFake("c");
    QSignalSpy canceled(&task, &TaskSpecification::canceled);
    QSignalSpy errors(&task, &TaskSpecification::error);

    task.execute();
    QVERIFY(QTest::qWaitFor([&] { return a->state() == TaskSpecification::RUNNING; }));
    a->finish();
    QVERIFY(QTest::qWaitFor([&] { return b->state() == TaskSpecification::RUNNING; }));
    b->fail();
    QVERIFY(waitEnded(task));
    QTest::qWait(20); // give a wrongly queued start the chance to happen

    QCOMPARE(task.state(), TaskSpecification::FAILED);
    QCOMPARE(canceled.count(), 1);
    QCOMPARE(c->state(), TaskSpecification::IDLE);
    QCOMPARE(task.m_StartLog, QStringList({"a", "b"}));
    QCOMPARE(errors.count(), 1); // forwarded unchanged
    QCOMPARE(errors.at(0).at(0).toString(), QString("b failed"));
    QCOMPARE(task.m_SubtasksDoneCalls, 1);
}

void TestComposedTask::parallelFailureTellsSiblingOnce()
{
    FakeComposedTask task(2, nullptr, 1.0);
    FakeTask* a = task.addFake("a");
    FakeTask* b = task.addFake("b");
    FakeTask* c = task.addFake("c");
    QSignalSpy canceled(&task, &TaskSpecification::canceled);

    task.execute();
    QVERIFY(QTest::qWaitFor([&] { return task.m_StartLog.size() == 2; }));
    a->fail();
    QCOMPARE(b->m_Announcements, 1);
    QCOMPARE(a->m_Announcements, 0); // the failed task itself is skipped
    QTest::qWait(20);
    QCOMPARE(task.state(), TaskSpecification::RUNNING); // b still runs
    QCOMPARE(canceled.count(), 0);
    QCOMPARE(c->state(), TaskSpecification::IDLE);

    b->finish();
    QVERIFY(waitEnded(task));
    QTest::qWait(20);
    QCOMPARE(task.state(), TaskSpecification::FAILED);
    QCOMPARE(canceled.count(), 1);
    QCOMPARE(b->m_Announcements, 1);
    QCOMPARE(c->state(), TaskSpecification::IDLE);
    QCOMPARE(task.m_SubtasksDoneCalls, 1);
}

// A sibling that ends inside its announcement handler (as an aborted download does) re-enters
// the parent while the parent is still handling the first failure.
void TestComposedTask::announcementEndingSiblingInsideHandler()
{
    FakeComposedTask task(2, nullptr, 1.0);
    FakeTask* a = task.addFake("a");
    FakeTask* b = task.addFake("b");
    b->m_OnAnnouncement = FakeTask::Reaction::FAIL;
    QSignalSpy canceled(&task, &TaskSpecification::canceled);

    task.execute();
    QVERIFY(QTest::qWaitFor([&] { return task.m_StartLog.size() == 2; }));
    a->fail();
    QCOMPARE(b->state(), TaskSpecification::FAILED);
    QCOMPARE(task.state(), TaskSpecification::FAILED);
    QCOMPARE(canceled.count(), 1);
    QCOMPARE(task.m_SubtasksDoneCalls, 1);
    QTest::qWait(20);
    QCOMPARE(canceled.count(), 1);
    QCOMPARE(task.m_SubtasksDoneCalls, 1);
}

void TestComposedTask::announcementTravelsDownOnce()
{
    FakeComposedTask root(2, nullptr, 1.0);
    FakeTask* a = root.addFake("a");
    auto* inner = new FakeComposedTask(1, &root, 1.0);
    FakeTask* leaf = inner->addFake("leaf");
    root.add(inner);

    root.execute();
    QVERIFY(QTest::qWaitFor([&] { return leaf->state() == TaskSpecification::RUNNING; }));
    a->fail();
    QCOMPARE(leaf->m_Announcements, 1);
    QCOMPARE(inner->state(), TaskSpecification::RUNNING); // ends only when its subtask does
    leaf->finish();
    QVERIFY(waitEnded(root));
    QCOMPARE(inner->state(), TaskSpecification::FINISHED);
    QCOMPARE(root.state(), TaskSpecification::FAILED);
    QCOMPARE(leaf->m_Announcements, 1);
}

void TestComposedTask::handleOtherTaskCancelledIgnoresSelfAndIdle()
{
    FakeTask task("t", nullptr, nullptr, 1.0), other("o", nullptr, nullptr, 1.0);
    task.handleOtherTaskCancelled(&other); // idle
    QCOMPARE(task.m_Announcements, 0);
    task.execute();
    task.handleOtherTaskCancelled(&task); // itself
    QCOMPARE(task.m_Announcements, 0);
    task.handleOtherTaskCancelled(&other);
    QCOMPARE(task.m_Announcements, 1);
    task.finish();
    task.handleOtherTaskCancelled(&other); // ended
    QCOMPARE(task.m_Announcements, 1);
}

void TestComposedTask::cancelDuringWorker()
{
    FakeComposedTask task(1, nullptr, 1.0);
    FakeFunc::Plan plan;
    plan.gate = std::make_shared<WorkerGate>();
    auto* worker = new FakeAsyncTask(plan, &task, 1.0);
    task.add(worker);
    FakeTask* next = task.addFake("next");
    QSignalSpy canceled(&task, &TaskSpecification::canceled);

    task.execute();
    QVERIFY(QTest::qWaitFor([&] { return plan.gate->started.tryAcquire(); }));
    task.cancel();
    QTest::qWait(20);
    QCOMPARE(worker->state(), TaskSpecification::RUNNING); // not ended early
    QCOMPARE(canceled.count(), 0);

    plan.gate->release.release();
    QVERIFY(waitEnded(task));
    QTest::qWait(20);
    QCOMPARE(worker->state(), TaskSpecification::FINISHED); // the worker's own outcome
    QCOMPARE(next->state(), TaskSpecification::IDLE);
    QVERIFY(next->isCancelRequested());
    QCOMPARE(task.state(), TaskSpecification::CANCELED);
    QCOMPARE(canceled.count(), 1);
}

// Subtasks that end at once when cancelled (downloads do) must not turn a user's abort into a
// failure: the first one's end must not be announced to siblings that get cancel() anyway.
void TestComposedTask::userCancelOfParallelSubtasksIsCanceled()
{
    FakeComposedTask root(1, nullptr, 1.0);
    auto* list = new FakeComposedTask(2, &root, 1.0);
    QList<FakeTask*> downloads;
    for (const char* name : {"x", "y", "z"}) {
        FakeTask* t = list->addFake(name);
        t->m_EndOnCancel = true;
        t->m_OnAnnouncement = FakeTask::Reaction::FAIL;
        downloads.append(t);
    }
    root.add(list);

    root.execute();
    QVERIFY(QTest::qWaitFor([&] { return list->m_StartLog.size() == 2; }));
    root.cancel();
    QVERIFY(waitEnded(root));
    QCOMPARE(downloads[0]->state(), TaskSpecification::CANCELED);
    QCOMPARE(downloads[1]->state(), TaskSpecification::CANCELED);
    QCOMPARE(downloads[1]->m_Announcements, 0);
    QCOMPARE(downloads[2]->state(), TaskSpecification::IDLE);
    QCOMPARE(list->state(), TaskSpecification::CANCELED);
    QCOMPARE(root.state(), TaskSpecification::CANCELED);
}

void TestComposedTask::verdict_data()
{
    QTest::addColumn<QList<int>>("states");
    QTest::addColumn<bool>("cancelRequested");
    QTest::addColumn<int>("computed");
    QTest::addColumn<int>("ended");

    const int I = TaskSpecification::IDLE, R = TaskSpecification::RUNNING,
              F = TaskSpecification::FINISHED, X = TaskSpecification::FAILED,
              C = TaskSpecification::CANCELED;
    QTest::newRow("no subtasks") << QList<int>{} << false << F << F;
    QTest::newRow("all finished") << QList<int>{F, F} << false << F << F;
    QTest::newRow("failed outranks cancelled") << QList<int>{C, X, F} << false << X << X;
    QTest::newRow("failed outranks cancel request") << QList<int>{F, X} << true << X << X;
    QTest::newRow("cancelled outranks finished") << QList<int>{F, C} << false << C << C;
    QTest::newRow("never started, cancel requested") << QList<int>{F, I} << true << C << C;
    // Nothing explains the missing end: still running as a value, a failure as an outcome.
    QTest::newRow("never started, no reason") << QList<int>{F, I} << false << R << X;
}

void TestComposedTask::verdict()
{
    QFETCH(QList<int>, states);
    QFETCH(bool, cancelRequested);
    QFETCH(int, computed);
    QFETCH(int, ended);

    FakeComposedTask task(1, nullptr, 1.0);
    for (int state : states)
        task.addFake("t")->forceState(State(state));
    if (cancelRequested)
        task.cancel(); // not running: only the flag
    QCOMPARE(int(task.computeState()), computed);
    task.evaluate();
    QCOMPARE(int(task.state()), ended);
}

void TestComposedTask::downloadStatusAggregation()
{
    FakeComposedTask root(1, nullptr, 1.0);
    FakeTask* known = root.addFake("known");
    known->m_Done = 10;
    known->m_Total = 100;
    known->m_Speed = 5;
    auto* inner = new FakeComposedTask(1, &root, 1.0);
    FakeTask* sizeless = inner->addFake("sizeless"); // total not known yet
    sizeless->m_Done = 7;
    sizeless->m_Speed = 3;
    sizeless->m_Downloading = true;
    FakeTask* other = inner->addFake("other");
    other->m_Done = 1;
    other->m_Total = 2;
    root.add(inner);

    qulonglong done = 0, total = 0, speed = 0;
    bool downloading = false;
    root.getDownloadStatus(done, total, speed, downloading);
    QCOMPARE(done, 11ULL);
    QCOMPARE(total, 102ULL);
    QCOMPARE(speed, 8ULL);
    QVERIFY(downloading);

    sizeless->m_Downloading = false;
    done = total = speed = 0;
    root.getDownloadStatus(done, total, speed, downloading);
    QVERIFY(!downloading);
}

void TestComposedTask::resetAllowsAnotherRun()
{
    FakeComposedTask task(1, nullptr, 1.0);
    FakeTask* a = task.addFake("a", 0.5);
    FakeTask* b = task.addFake("b", 0.5);
    task.execute();
    QVERIFY(QTest::qWaitFor([&] { return a->state() == TaskSpecification::RUNNING; }));
    a->report(1.0);
    a->fail();
    QVERIFY(waitEnded(task));
    QCOMPARE(task.state(), TaskSpecification::FAILED);

    task.reset();
    QCOMPARE(task.state(), TaskSpecification::IDLE);
    QCOMPARE(a->state(), TaskSpecification::IDLE);
    QCOMPARE(task.progress(), 0.0);
    a->m_OnExecute = b->m_OnExecute = FakeTask::Reaction::FINISH;
    task.execute();
    QVERIFY(waitEnded(task));
    QCOMPARE(task.state(), TaskSpecification::FINISHED);
    QCOMPARE(task.m_StartLog, QStringList({"a", "a", "b"}));
    QCOMPARE(task.m_SubtasksDoneCalls, 2);
}

void TestComposedTask::staleStartAfterResetIsIgnored()
{
    FakeComposedTask task(1, nullptr, 1.0);
    task.addFake("a");
    QSignalSpy ended(&task, &TaskSpecification::canceled);
    QSignalSpy finished(&task, &TaskSpecification::finished);
    task.execute(); // queues a start
    task.reset();
    QTest::qWait(20);
    QVERIFY(task.m_StartLog.isEmpty());
    QCOMPARE(task.m_SubtasksDoneCalls, 0);
    QCOMPARE(ended.count() + finished.count(), 0);
    QCOMPARE(task.state(), TaskSpecification::IDLE);
}

void TestComposedTask::releasedSubtasksAreDisconnected()
{
    FakeComposedTask task(1, nullptr, 1.0);
    FakeTask* a = task.addFake("a");
    QPointer<FakeTask> guard(a);
    task.execute();
    QVERIFY(QTest::qWaitFor([&] { return a->state() == TaskSpecification::RUNNING; }));
    task.deleteSubTasks();
    QSignalSpy messages(&task, &TaskSpecification::message);
    emit a->message("late");
    a->fail();
    QCOMPARE(messages.count(), 0);
    QCOMPARE(task.m_SubtasksDoneCalls, 0);
    QVERIFY(QTest::qWaitFor([&] { return guard.isNull(); }));
}

// The subtask tree goes away while a worker still runs; its late result must go nowhere.
void TestComposedTask::deletedWhileWorkerRuns()
{
    auto task = std::make_unique<FakeComposedTask>(1, nullptr, 1.0);
    FakeFunc::Plan plan;
    plan.gate = std::make_shared<WorkerGate>();
    plan.messages = QStringList{"working"};
    auto* worker = new FakeAsyncTask(plan, task.get(), 1.0);
    task->add(worker);
    QPointer<FakeAsyncTask> guard(worker);

    task->execute();
    QVERIFY(QTest::qWaitFor([&] { return plan.gate->started.tryAcquire(); }));
    task.reset();
    QVERIFY(guard.isNull());
    plan.gate->release.release();
    QVERIFY(QThreadPool::globalInstance()->waitForDone(10000));
    QTest::qWait(20);
}

QTEST_GUILESS_MAIN(TestComposedTask)
#include "tst_composedtask.moc"
