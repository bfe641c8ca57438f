#include "asynctaskspecification.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEvent>
#include <QThread>
#include <QThreadPool>

#include <exception>

ASyncRun::ASyncRun(ASyncFunc* func) : m_Func(func)
{
    Q_ASSERT(func);
}

ASyncRun::~ASyncRun()
{
    delete m_Func;
}

void ASyncRun::run()
{
    // Adopt the function object (the task detached it from the GUI thread), so that objects it
    // creates with itself as parent belong to this thread like it does.
    m_Func->moveToThread(QThread::currentThread());
    bool result = false;
    // An exception escaping into the pool would end the program, and the task would never hear
    // of its worker again; turn it into a failed run instead.
    try {
        result = m_Func->run();
    } catch (const std::exception& e) {
        qWarning() << "ASyncRun: worker function threw" << e.what();
    } catch (...) {
        qWarning() << "ASyncRun: worker function threw an unknown exception";
    }
    emit m_Func->runResult(result);
}

ASyncTaskSpecification::ASyncTaskSpecification(QObject* parent, qreal weight)
    : TaskSpecification(parent, weight)
{
}

void ASyncTaskSpecification::execute()
{
    ASyncFunc* func = createFunc();
    Q_ASSERT(func);
    if (!func) {
        qWarning() << "ASyncTaskSpecification: no function object to run";
        m_State = RUNNING;
        setFailed();
        return;
    }
    // Queued: the slots run in the GUI thread, in the order the worker emitted the signals.
    connect(func, &ASyncFunc::runResult, this, &ASyncTaskSpecification::onRunResult,
            Qt::QueuedConnection);
    connect(func, &ASyncFunc::message, this, &TaskSpecification::message, Qt::QueuedConnection);
    connect(func, &ASyncFunc::error, this, &TaskSpecification::error, Qt::QueuedConnection);
    connect(func, &ASyncFunc::progress, this, &ASyncTaskSpecification::onProgress,
            Qt::QueuedConnection);
    // The function object is used and destroyed by a pool thread; detached from the GUI thread,
    // it cannot have events posted to it there while it dies elsewhere.
    func->moveToThread(nullptr);
    QThreadPool::globalInstance()->start(new ASyncRun(func), 0);
    m_State = RUNNING;
}

void ASyncTaskSpecification::reset()
{
    QThreadPool::globalInstance()->waitForDone(-1);
    // The workers have returned, but what they emitted may still be queued for us; it belongs
    // to the run being reset and must not end the next one.
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    TaskSpecification::reset();
}

void ASyncTaskSpecification::onRunResult(bool res)
{
    runDone(res);
}

void ASyncTaskSpecification::onProgress(double progress)
{
    setProgress(progress);
}

void ASyncTaskSpecification::runDone(bool res)
{
    if (m_State != RUNNING)
        return;
    if (res)
        setFinished();
    else
        setFailed();
}
