#include "composedtaskspecification.h"

#include <QtGlobal>

#include <algorithm>

ComposedTaskSpecification::ComposedTaskSpecification(int maxParallel, QObject* parent,
                                                     qreal weight)
    : TaskSpecification(parent, weight), m_MaxParallel(maxParallel)
{
    Q_ASSERT(maxParallel > 0);
    connect(this, &ComposedTaskSpecification::startNextTask, this,
            &ComposedTaskSpecification::onStartNextTask, Qt::QueuedConnection);
}

ComposedTaskSpecification::~ComposedTaskSpecification()
{
    // The subtasks are also our QObject children and die right after this body; cutting their
    // connections first keeps their last signals from reaching a half-destroyed parent.
    deleteSubTasks();
}

void ComposedTaskSpecification::addSubTask(TaskSpecification* task)
{
    Q_ASSERT(task);
    Q_ASSERT(task->parent() == this);
    m_SubTasks.append(task);
    m_Queue.append(task);
    connectSubTask(task);
    updateProgressFromSubTasks();
}

void ComposedTaskSpecification::connectSubTask(TaskSpecification* task)
{
    connect(task, &TaskSpecification::finished, this, &ComposedTaskSpecification::onSubTaskFinished);
    connect(task, &TaskSpecification::canceled, this, &ComposedTaskSpecification::onSubTaskCanceled);
    connect(task, &TaskSpecification::error, this, &TaskSpecification::error);
    connect(task, &TaskSpecification::updateProgress, this,
            &ComposedTaskSpecification::onUpdateProgress);
    connect(task, &TaskSpecification::message, this, &TaskSpecification::message);
    connect(this, &TaskSpecification::otherTaskCancelled, task,
            &TaskSpecification::handleOtherTaskCancelled);
}

void ComposedTaskSpecification::startSubTasks()
{
    m_State = RUNNING;
    const int n = std::min(int(m_Queue.size()), m_MaxParallel);
    if (n == 0) {
        m_SubtasksDoneCalled = true;
        subtasksDone();
        return;
    }
    for (int i = 0; i < n; ++i)
        emit startNextTask();
}

void ComposedTaskSpecification::onStartNextTask()
{
    // A start request that outlived its run (the task was reset, or its subtasks released)
    // must neither start anything nor evaluate an empty run.
    if (m_State == IDLE)
        return;
    if (m_State == RUNNING && !m_Queue.isEmpty() && !m_OtherCancelSent && !m_CancelRequested) {
        TaskSpecification* task = m_Queue.takeFirst();
        m_Running.append(task);
        task->execute();
    } else if (m_Running.isEmpty() && !m_SubtasksDoneCalled) {
        m_SubtasksDoneCalled = true;
        subtasksDone();
    }
}

void ComposedTaskSpecification::markEnded(TaskSpecification* task)
{
    m_Running.removeOne(task);
    // A subtask that reports its end a second time is already listed.
    if (!m_Ended.contains(task))
        m_Ended.append(task);
}

void ComposedTaskSpecification::onSubTaskFinished(TaskSpecification* task)
{
    markEnded(task);
    emit startNextTask();
}

void ComposedTaskSpecification::onSubTaskCanceled(TaskSpecification* task)
{
    markEnded(task);
    if (!m_OtherCancelSent) {
        m_OtherCancelSent = true;
        // While a cancel request is being passed down, every sibling gets cancel() itself.
        // Announcing the first cancelled one as well would make the others end FAILED, and the
        // user's abort would climb up as a failure.
        if (!m_CancelRequested) {
            // A sibling may end right inside this emission and re-enter this slot; the two
            // flags make the evaluation below run once, in whichever call finds m_Running
            // empty first.
            emit otherTaskCancelled(task);
        }
    }
    if (m_Running.isEmpty() && !m_SubtasksDoneCalled) {
        m_SubtasksDoneCalled = true;
        subtasksDone();
    }
}

void ComposedTaskSpecification::onUpdateProgress(double)
{
    updateProgressFromSubTasks();
}

void ComposedTaskSpecification::updateProgressFromSubTasks()
{
    qreal sum = 0;
    for (const TaskSpecification* task : qAsConst(m_SubTasks))
        sum += task->progress();
    setProgress(sum);
}

void ComposedTaskSpecification::subtasksDone()
{
    switch (computeState()) {
    case FINISHED:
        setFinished();
        break;
    case CANCELED:
        setCanceled();
        break;
    default:
        // Includes subtasks that never started or never ended without a cancel request.
        setFailed();
        break;
    }
}

TaskSpecification::State ComposedTaskSpecification::computeState() const
{
    if (m_SubTasks.isEmpty())
        return FINISHED;
    bool anyCanceled = false;
    bool allFinished = true;
    for (const TaskSpecification* task : m_SubTasks) {
        switch (task->state()) {
        case FAILED:
            return FAILED;
        case CANCELED:
            anyCanceled = true;
            allFinished = false;
            break;
        case FINISHED:
            break;
        default:
            allFinished = false;
            break;
        }
    }
    if (anyCanceled)
        return CANCELED;
    if (allFinished)
        return FINISHED;
    if (m_CancelRequested)
        return CANCELED;
    if (m_OtherCancelSent)
        return FAILED;
    return RUNNING;
}

void ComposedTaskSpecification::cancel()
{
    m_CancelRequested = true;
    if (m_State != RUNNING)
        return;
    // Also the subtasks not started yet or already ended: on those it only sets their flag.
    // A subtask may end inside cancel(), and what that triggers may change the list: iterate
    // over a copy (released subtasks are deleted later, so the pointers stay valid).
    const QList<TaskSpecification*> tasks = m_SubTasks;
    for (TaskSpecification* task : tasks)
        task->cancel();
}

void ComposedTaskSpecification::onOtherTaskCancelled(TaskSpecification* other)
{
    emit otherTaskCancelled(other);
}

void ComposedTaskSpecification::getDownloadStatus(qulonglong& done, qulonglong& total,
                                                  qulonglong& speed, bool& downloading)
{
    downloading = false;
    for (TaskSpecification* task : qAsConst(m_SubTasks)) {
        qulonglong subDone = 0, subTotal = 0, subSpeed = 0;
        bool subDownloading = false;
        task->getDownloadStatus(subDone, subTotal, subSpeed, subDownloading);
        if (subDownloading)
            downloading = true;
        speed += subSpeed;
        // A task that does not know its size yet would distort the ratio.
        if (subTotal != 0) {
            done += subDone;
            total += subTotal;
        }
    }
}

void ComposedTaskSpecification::reset()
{
    const QList<TaskSpecification*> tasks = m_SubTasks;
    for (TaskSpecification* task : tasks)
        task->reset();
    m_Queue = m_SubTasks;
    m_Running.clear();
    m_Ended.clear();
    m_OtherCancelSent = false;
    m_SubtasksDoneCalled = false;
    TaskSpecification::reset();
}

void ComposedTaskSpecification::deleteSubTasks()
{
    for (TaskSpecification* task : qAsConst(m_SubTasks)) {
        disconnect(task, nullptr, this, nullptr);
        disconnect(this, nullptr, task, nullptr);
        task->deleteLater();
    }
    m_SubTasks.clear();
    m_Queue.clear();
    m_Running.clear();
    m_Ended.clear();
}
