#pragma once

#include "taskspecification.h"

#include <QRunnable>

// The work of an asynchronous task, run once on a pool thread. It gets everything it needs in its
// constructor (copies, or pointers to data the GUI thread leaves alone while it runs), never
// touches a task object, and reports only through its signals.
class ASyncFunc : public QObject
{
    Q_OBJECT

public:
    ASyncFunc() = default;

    // Does the whole work on the calling thread; may emit message, error and progress meanwhile.
    virtual bool run() = 0;

signals:
    // The result of run(); always the last signal of a run.
    void runResult(bool res);
    void message(QString message);
    void error(QString errorMessage);
    // Fraction done, 0 to 1.
    void progress(double progress);
};

// Carries one ASyncFunc to the thread pool. The pool deletes the runnable after run(), and the
// runnable deletes the function object.
class ASyncRun : public QRunnable
{
public:
    // Takes ownership of func.
    explicit ASyncRun(ASyncFunc* func);
    ~ASyncRun() override;

    ASyncRun(const ASyncRun&) = delete;
    ASyncRun& operator=(const ASyncRun&) = delete;

    void run() override;

private:
    ASyncFunc* m_Func;
};

// A task whose work runs on the global thread pool. The task object stays in the GUI thread and
// learns the outcome only through runDone(), which the worker's result reaches through a queued
// connection. A cancel request does not stop a started worker: its result ends the task.
class ASyncTaskSpecification : public TaskSpecification
{
    Q_OBJECT

public:
    ASyncTaskSpecification(QObject* parent, qreal weight);

public slots:
    void execute() override;
    // Waits for all work of the global pool (not just this task's), then resets. Results of the
    // previous run still queued for this task are dropped.
    void reset() override;

protected slots:
    void onRunResult(bool res);
    void onProgress(double progress);

protected:
    // A new function object for this run; called once per execute().
    virtual ASyncFunc* createFunc() = 0;
    // The outcome handler; the default ends a running task, finished when res is true and
    // failed otherwise, and ignores a result for a task that is no longer running.
    virtual void runDone(bool res);
};
