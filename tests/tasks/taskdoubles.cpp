#include "taskdoubles.h"

#include "rollback.h"

#include <QDir>
#include <QFile>

#include <stdexcept>

FakeTask::FakeTask(const QString& name, QStringList* startLog, QObject* parent, qreal weight)
    : TaskSpecification(parent, weight), m_Name(name), m_StartLog(startLog)
{
}

void FakeTask::execute()
{
    m_State = RUNNING;
    if (m_StartLog)
        m_StartLog->append(m_Name);
    react(m_OnExecute);
}

void FakeTask::cancel()
{
    TaskSpecification::cancel();
    if (m_EndOnCancel && m_State == RUNNING)
        setCanceled();
}

void FakeTask::getDownloadStatus(qulonglong& done, qulonglong& total, qulonglong& speed,
                                 bool& downloading)
{
    done = m_Done;
    total = m_Total;
    speed = m_Speed;
    downloading = m_Downloading;
}

void FakeTask::fail()
{
    emit error(m_Name + " failed");
    setFailed();
}

void FakeTask::onOtherTaskCancelled(TaskSpecification*)
{
    ++m_Announcements;
    react(m_OnAnnouncement);
}

void FakeTask::react(Reaction reaction)
{
    switch (reaction) {
    case Reaction::NONE:
        break;
    case Reaction::FINISH:
        finish();
        break;
    case Reaction::FAIL:
        fail();
        break;
    case Reaction::CANCEL:
        setCanceled();
        break;
    }
}

FakeComposedTask::FakeComposedTask(int maxParallel, QObject* parent, qreal weight)
    : ComposedTaskSpecification(maxParallel, parent, weight)
{
}

FakeTask* FakeComposedTask::addFake(const QString& name, qreal weight)
{
    auto* task = new FakeTask(name, &m_StartLog, this, weight);
    addSubTask(task);
    return task;
}

void FakeComposedTask::subtasksDone()
{
    ++m_SubtasksDoneCalls;
    ComposedTaskSpecification::subtasksDone();
}

bool FakeFunc::run()
{
    if (m_Plan.progress >= 0)
        emit progress(m_Plan.progress);
    for (const QString& line : m_Plan.messages)
        emit message(line);
    if (!m_Plan.error.isEmpty())
        emit error(m_Plan.error);
    if (m_Plan.gate) {
        m_Plan.gate->started.release();
        m_Plan.gate->release.acquire();
    }
    if (m_Plan.throwInstead)
        throw std::runtime_error("worker broke");
    return m_Plan.result;
}

ASyncFunc* FakeAsyncTask::createFunc()
{
    ++m_FuncsCreated;
    return new FakeFunc(m_Plan);
}

static bool readAll(const QString& path, QByteArray* data)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *data += file.readAll();
    return true;
}

bool ConcatFunc::run()
{
    QByteArray data;
    if (!readAll(m_Source, &data) || (!m_Extra.isEmpty() && !readAll(m_Extra, &data)))
        return false;
    QFile out(m_Target);
    return out.open(QIODevice::WriteOnly) && out.write(data) == data.size();
}

ConcatTask::ConcatTask(RollbackDataList* rollbackList, const QString& source,
                       const QString& extra, const QString& target, QObject* parent,
                       qreal weight)
    : SlowFileOpSpecification(QString("Could not join '%1' to '%2'").arg(source, target),
                              rollbackList, source, extra, target, parent, weight)
{
}

ASyncFunc* ConcatTask::createFunc()
{
    return new ConcatFunc(m_Source, m_Extra, m_Target);
}

bool MakeDirTask::doOp()
{
    if (!QDir().mkdir(m_Path))
        return false;
    addRollbackEntry(RollbackData(RollbackData::DIR_CREATE, m_Path));
    return true;
}
