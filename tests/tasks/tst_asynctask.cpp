#include "rollback.h"
#include "taskdoubles.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>
#include <QtTest>

#include <memory>

class TestAsyncTask : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void workerProgressIsWeighted();
    void signalsArriveInOrderInGuiThread();
    void outcome_data();
    void outcome();
    void resetDropsResultOfPreviousRun();
    void slowOpJournal_data();
    void slowOpJournal();
    void fastOp_data();
    void fastOp();

private:
    static bool waitEnded(const TaskSpecification& task)
    {
        return QTest::qWaitFor([&] { return task.state() >= TaskSpecification::FINISHED; });
    }
    static bool write(const QString& path, const QByteArray& data)
    {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
    }
    static QByteArray read(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

void TestAsyncTask::cleanup()
{
    QThreadPool::globalInstance()->waitForDone();
}

void TestAsyncTask::workerProgressIsWeighted()
{
    FakeFunc::Plan plan;
    plan.progress = 0.5;
    FakeAsyncTask task(plan, nullptr, 0.2);
    QSignalSpy progress(&task, &TaskSpecification::updateProgress);
    task.execute();
    QCOMPARE(task.state(), TaskSpecification::RUNNING);
    QVERIFY(waitEnded(task));
    QCOMPARE(progress.count(), 2);
    QVERIFY(qFuzzyCompare(progress.at(0).at(0).toDouble(), 0.1));
    QVERIFY(qFuzzyCompare(progress.at(1).at(0).toDouble(), 0.2)); // finished: the full weight
    QCOMPARE(task.m_FuncsCreated, 1);
}

void TestAsyncTask::signalsArriveInOrderInGuiThread()
{
    FakeFunc::Plan plan;
    plan.messages = QStringList{"one", "two"};
    plan.error = "bad";
    FakeAsyncTask task(plan, nullptr, 1.0);
    QStringList seen;
    bool allInGuiThread = true;
    auto note = [&](const QString& what) {
        seen.append(what);
        allInGuiThread = allInGuiThread && QThread::currentThread() == QCoreApplication::instance()->thread();
    };
    connect(&task, &TaskSpecification::message, this, [&](const QString& m) { note(m); });
    connect(&task, &TaskSpecification::error, this, [&](const QString& e) { note("error " + e); });
    connect(&task, &TaskSpecification::finished, this, [&] { note("finished"); });

    task.execute();
    QVERIFY(waitEnded(task));
    QCOMPARE(seen, QStringList({"one", "two", "error bad", "finished"}));
    QVERIFY(allInGuiThread);
}

void TestAsyncTask::outcome_data()
{
    QTest::addColumn<bool>("result");
    QTest::addColumn<bool>("throws");
    QTest::addColumn<bool>("cancelWhileRunning");
    QTest::addColumn<TaskSpecification::State>("expected");

    QTest::newRow("succeeds") << true << false << false << TaskSpecification::FINISHED;
    QTest::newRow("fails") << false << false << false << TaskSpecification::FAILED;
    // A cancel request does not stop a started worker; its result decides.
    QTest::newRow("succeeds after cancel") << true << false << true << TaskSpecification::FINISHED;
    QTest::newRow("fails after cancel") << false << false << true << TaskSpecification::FAILED;
    // An exception must not take the program down or leave the task running forever.
    QTest::newRow("throws") << true << true << false << TaskSpecification::FAILED;
}

void TestAsyncTask::outcome()
{
    QFETCH(bool, result);
    QFETCH(bool, throws);
    QFETCH(bool, cancelWhileRunning);
    QFETCH(TaskSpecification::State, expected);

    FakeFunc::Plan plan;
    plan.result = result;
    plan.throwInstead = throws;
    plan.gate = std::make_shared<WorkerGate>();
    FakeAsyncTask task(plan, nullptr, 1.0);
    QSignalSpy finished(&task, &TaskSpecification::finished);
    QSignalSpy canceled(&task, &TaskSpecification::canceled);
    if (throws)
        QTest::ignoreMessage(QtWarningMsg, "ASyncRun: worker function threw worker broke");

    task.execute();
    QVERIFY(QTest::qWaitFor([&] { return plan.gate->started.tryAcquire(); }));
    if (cancelWhileRunning) {
        task.cancel();
        QTest::qWait(10);
        QCOMPARE(task.state(), TaskSpecification::RUNNING);
    }
    plan.gate->release.release();
    QVERIFY(waitEnded(task));
    QTest::qWait(10);
    QCOMPARE(task.state(), expected);
    QCOMPARE(finished.count(), expected == TaskSpecification::FINISHED ? 1 : 0);
    QCOMPARE(canceled.count(), expected == TaskSpecification::FINISHED ? 0 : 1);
}

void TestAsyncTask::resetDropsResultOfPreviousRun()
{
    FakeFunc::Plan plan;
    plan.progress = 0.5;
    FakeAsyncTask task(plan, nullptr, 1.0);
    QSignalSpy finished(&task, &TaskSpecification::finished);
    task.execute();
    // The worker returns, but the test does not let its signals be delivered yet.
    QVERIFY(QThreadPool::globalInstance()->waitForDone(10000));
    task.reset();
    QCOMPARE(task.state(), TaskSpecification::IDLE);
    QTest::qWait(20);
    QCOMPARE(task.state(), TaskSpecification::IDLE);
    QCOMPARE(task.progress(), 0.0);
    QCOMPARE(finished.count(), 0);

    task.m_Plan.result = false;
    task.execute();
    QVERIFY(waitEnded(task));
    QCOMPARE(task.state(), TaskSpecification::FAILED);
}

void TestAsyncTask::slowOpJournal_data()
{
    QTest::addColumn<bool>("sourceExists");
    QTest::addColumn<bool>("withExtra");
    QTest::addColumn<bool>("withJournal");

    QTest::newRow("success") << true << false << true;
    QTest::newRow("success with second input") << true << true << true;
    QTest::newRow("success without journal") << true << false << false;
    QTest::newRow("failure") << false << false << true;
}

void TestAsyncTask::slowOpJournal()
{
    QFETCH(bool, sourceExists);
    QFETCH(bool, withExtra);
    QFETCH(bool, withJournal);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString source = tmp.filePath("src"), extra = tmp.filePath("extra");
    const QString target = tmp.filePath("out");
    if (sourceExists)
        QVERIFY(write(source, "abc"));
    QVERIFY(write(extra, "def"));

    RollbackDataList journal;
    ConcatTask task(withJournal ? &journal : nullptr, source, withExtra ? extra : QString(),
                    target, nullptr, 1.0);
    QStringList seen;
    connect(&task, &TaskSpecification::message, this, [&](const QString& m) { seen << m; });
    connect(&task, &TaskSpecification::canceled, this, [&] { seen << "canceled"; });
    connect(&task, &TaskSpecification::finished, this, [&] { seen << "finished"; });

    task.execute();
    QVERIFY(waitEnded(task));
    QTest::qWait(10);

    if (!sourceExists) {
        QCOMPARE(task.state(), TaskSpecification::FAILED);
        const QString failure = QString("Could not join '%1' to '%2'").arg(source, target);
        QCOMPARE(seen, QStringList({failure, "canceled"}));
        QVERIFY(journal.isEmpty());
        return;
    }
    QCOMPARE(task.state(), TaskSpecification::FINISHED);
    QCOMPARE(seen, QStringList({"finished"}));
    QCOMPARE(read(target), QByteArray(withExtra ? "abcdef" : "abc"));
    if (!withJournal)
        return;
    QCOMPARE(journal.size(), 1);
    QCOMPARE(journal.at(0).op(), int(RollbackData::FILE_CREATE));
    QCOMPARE(journal.at(0).path(), target);
    QVERIFY(journal.rollback(nullptr));
    QVERIFY(!QFile::exists(target));
}

void TestAsyncTask::fastOp_data()
{
    QTest::addColumn<bool>("alreadyThere");
    QTest::addColumn<bool>("withJournal");

    QTest::newRow("success") << false << true;
    QTest::newRow("success without journal") << false << false;
    QTest::newRow("failure") << true << true;
}

void TestAsyncTask::fastOp()
{
    QFETCH(bool, alreadyThere);
    QFETCH(bool, withJournal);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString dir = tmp.filePath("d");
    if (alreadyThere)
        QVERIFY(QDir().mkdir(dir));
    RollbackDataList journal;
    MakeDirTask task(dir, withJournal ? &journal : nullptr, nullptr, 1.0);
    QSignalSpy finished(&task, &TaskSpecification::finished);
    QSignalSpy canceled(&task, &TaskSpecification::canceled);

    task.execute(); // ends before it returns
    if (alreadyThere) {
        QCOMPARE(task.state(), TaskSpecification::FAILED);
        QCOMPARE(canceled.count(), 1);
        QVERIFY(journal.isEmpty());
        return;
    }
    QCOMPARE(task.state(), TaskSpecification::FINISHED);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(journal.size(), withJournal ? 1 : 0);
    if (withJournal) {
        QCOMPARE(journal.at(0).op(), int(RollbackData::DIR_CREATE));
        QCOMPARE(journal.at(0).path(), dir);
    }
}

QTEST_GUILESS_MAIN(TestAsyncTask)
#include "tst_asynctask.moc"
