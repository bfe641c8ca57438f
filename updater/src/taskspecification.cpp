#include "taskspecification.h"

#include <QMetaType>

void registerTaskMetaTypes()
{
    // A function-local static makes the registration happen once, thread-safely.
    static const int id = qRegisterMetaType<TaskSpecification*>("TaskSpecification*");
    Q_UNUSED(id);
}

TaskSpecification::TaskSpecification(QObject* parent, qreal weight)
    : QObject(parent), m_Weight(weight)
{
    registerTaskMetaTypes();
}

void TaskSpecification::reset()
{
    m_CancelRequested = false;
    m_State = IDLE;
    m_Progress = 0;
    emit updateProgress(0);
}

void TaskSpecification::getDownloadStatus(qulonglong& done, qulonglong& total, qulonglong& speed,
                                          bool& downloading)
{
    done = 0;
    total = 0;
    speed = 0;
    downloading = false;
}

void TaskSpecification::cancel()
{
    m_CancelRequested = true;
}

void TaskSpecification::handleOtherTaskCancelled(TaskSpecification* other)
{
    if (other != this && m_State == RUNNING)
        onOtherTaskCancelled(other);
}

void TaskSpecification::onOtherTaskCancelled(TaskSpecification*)
{
}

void TaskSpecification::setProgress(qreal fraction)
{
    m_Progress = fraction * m_Weight;
    emit updateProgress(m_Progress);
}

void TaskSpecification::setFinished()
{
    m_State = FINISHED;
    m_Progress = m_Weight;
    emit updateProgress(m_Weight);
    emit finished(this);
}

void TaskSpecification::setFailed()
{
    m_State = FAILED;
    emit canceled(this);
}

void TaskSpecification::setCanceled()
{
    m_State = CANCELED;
    emit canceled(this);
}
