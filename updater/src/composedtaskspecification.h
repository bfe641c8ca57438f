#pragma once

#include "taskspecification.h"

#include <QList>

// A task made of subtasks, run in the order added with at most m_MaxParallel running at once.
// It owns its subtasks (they are created with it as parent and released with deleteLater()),
// reports the sum of their weighted progress times its own weight, forwards their error and
// message lines, and decides its outcome from theirs: a failed subtask outranks a cancelled one,
// which outranks success.
//
// Concrete composed tasks create their subtasks in makeSubtasksAndStart(), which adds them with
// addSubTask() and ends with startSubTasks(); they may override subtasksDone() to do their own
// finishing work before deciding the outcome.
class ComposedTaskSpecification : public TaskSpecification
{
    Q_OBJECT

public:
    ComposedTaskSpecification(int maxParallel, QObject* parent, qreal weight);
    ~ComposedTaskSpecification() override;

signals:
    // Queued to onStartNextTask(), so that a subtask is never started from inside the handler of
    // another subtask's signal.
    void startNextTask();

public slots:
    void reset() override;
    void getDownloadStatus(qulonglong& done, qulonglong& total, qulonglong& speed,
                           bool& downloading) override;
    void cancel() override;

protected slots:
    // Passes the announcement on to the own subtasks.
    void onOtherTaskCancelled(TaskSpecification* other) override;

    // Called exactly once per run, when no subtask runs and none will be started any more.
    // The default ends the task with the verdict of computeState().
    virtual void subtasksDone();
    virtual void connectSubTask(TaskSpecification* task);

protected:
    // Takes ownership: `task` must have been created with this task as its QObject parent.
    void addSubTask(TaskSpecification* task);
    void startSubTasks();
    // The verdict over the subtasks, without changing anything.
    State computeState() const;
    // Disconnects every subtask from this task and releases it with deleteLater().
    void deleteSubTasks();

    const QList<TaskSpecification*>& subTasks() const { return m_SubTasks; }

private slots:
    void onStartNextTask();
    void onUpdateProgress(double doneFrac);
    void onSubTaskFinished(TaskSpecification* task);
    void onSubTaskCanceled(TaskSpecification* task);

private:
    void updateProgressFromSubTasks();
    void markEnded(TaskSpecification* task);

    QList<TaskSpecification*> m_SubTasks; // every subtask in the order added; owned
    QList<TaskSpecification*> m_Queue;    // not started yet, front first
    QList<TaskSpecification*> m_Running;  // started and not ended
    QList<TaskSpecification*> m_Ended;    // ended, in order of ending
    const int m_MaxParallel;
    // A subtask ended unsuccessfully and the siblings were told; nothing more is started.
    bool m_OtherCancelSent = false;
    // subtasksDone() has run for the current run; guards against the re-entrant second call.
    bool m_SubtasksDoneCalled = false;
};
