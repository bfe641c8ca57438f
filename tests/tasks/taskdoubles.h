#pragma once

// Small tasks whose behaviour the tests control.

#include "asynctaskspecification.h"
#include "composedtaskspecification.h"
#include "fastfileoptaskspecification.h"
#include "slowfileopspecification.h"

#include <QSemaphore>
#include <QStringList>

#include <memory>

// A leaf task that ends when the test says so (or inside execute(), like a fast operation).
class FakeTask : public TaskSpecification
{
    Q_OBJECT

public:
    enum class Reaction { NONE, FINISH, FAIL, CANCEL };

    FakeTask(const QString& name, QStringList* startLog, QObject* parent, qreal weight);

    void execute() override;
    void cancel() override;
    void getDownloadStatus(qulonglong& done, qulonglong& total, qulonglong& speed,
                           bool& downloading) override;

    void finish() { setFinished(); }
    void fail();
    void report(qreal fraction) { setProgress(fraction); }
    void forceState(State state) { m_State = state; }

    const QString m_Name;
    Reaction m_OnExecute = Reaction::NONE;      // end synchronously inside execute()
    Reaction m_OnAnnouncement = Reaction::NONE; // end inside onOtherTaskCancelled()
    bool m_EndOnCancel = false;                 // end CANCELED inside cancel(), like a download
    int m_Announcements = 0;
    qulonglong m_Done = 0, m_Total = 0, m_Speed = 0;
    bool m_Downloading = false;

protected:
    void onOtherTaskCancelled(TaskSpecification* other) override;

private:
    void react(Reaction reaction);

    QStringList* m_StartLog;
};

// A composed task whose subtasks the test adds before starting it.
class FakeComposedTask : public ComposedTaskSpecification
{
    Q_OBJECT

public:
    FakeComposedTask(int maxParallel, QObject* parent, qreal weight);

    FakeTask* addFake(const QString& name, qreal weight = 1.0);
    void add(TaskSpecification* task) { addSubTask(task); }
    void execute() override { startSubTasks(); }
    void evaluate() { ComposedTaskSpecification::subtasksDone(); }

    using ComposedTaskSpecification::computeState;
    using ComposedTaskSpecification::deleteSubTasks;

    QStringList m_StartLog;
    int m_SubtasksDoneCalls = 0;

protected:
    void subtasksDone() override;
};

// Lets a test hold a worker inside run() and know when it got there.
struct WorkerGate
{
    QSemaphore started;
    QSemaphore release;
};

// Worker: optionally reports progress and lines, optionally waits at a gate, then returns the
// configured result (or throws).
class FakeFunc : public ASyncFunc
{
    Q_OBJECT

public:
    struct Plan
    {
        bool result = true;
        double progress = -1; // emitted when not negative
        QStringList messages;
        QString error;
        bool throwInstead = false;
        std::shared_ptr<WorkerGate> gate;
    };

    explicit FakeFunc(const Plan& plan) : m_Plan(plan) {}
    bool run() override;

private:
    const Plan m_Plan;
};

class FakeAsyncTask : public ASyncTaskSpecification
{
    Q_OBJECT

public:
    FakeAsyncTask(const FakeFunc::Plan& plan, QObject* parent, qreal weight)
        : ASyncTaskSpecification(parent, weight), m_Plan(plan)
    {
    }

    FakeFunc::Plan m_Plan;
    int m_FuncsCreated = 0;

protected:
    ASyncFunc* createFunc() override;
};

// Slow operation: writes the source's content, followed by the extra input's when given, to
// the target; fails when an input cannot be read or the target cannot be written.
class ConcatFunc : public SlowFileOpFunc
{
    Q_OBJECT

public:
    using SlowFileOpFunc::SlowFileOpFunc;
    bool run() override;
};

class ConcatTask : public SlowFileOpSpecification
{
    Q_OBJECT

public:
    ConcatTask(RollbackDataList* rollbackList, const QString& source, const QString& extra,
               const QString& target, QObject* parent, qreal weight);

protected:
    ASyncFunc* createFunc() override;
};

// Fast operation: creates one directory and journals it.
class MakeDirTask : public FastFileOpTaskSpecification
{
    Q_OBJECT

public:
    using FastFileOpTaskSpecification::FastFileOpTaskSpecification;

protected:
    bool doOp() override;
};
