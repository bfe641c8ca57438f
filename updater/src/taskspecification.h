#pragma once

#include <QObject>

// Registers the task pointer type for queued connections. Safe to call more than once and from
// any thread; every task constructor calls it, so callers normally need not.
void registerTaskMetaTypes();

// One step of an update run. A task lives in the GUI thread, is started once with execute(),
// reports weighted progress, log lines and errors through signals, and ends exactly one way:
// finished(this) on success, canceled(this) on failure or cancellation (the receiver tells the
// two apart by reading state()).
class TaskSpecification : public QObject
{
    Q_OBJECT

public:
    // The values are fixed: other code compares against them.
    enum State : qint32 {
        IDLE = 0,     // constructed or reset, not started
        RUNNING = 1,  // execute() was called, the task has not ended
        FINISHED = 2, // ended with success
        FAILED = 3,   // ended by an error, or because a sibling failed
        CANCELED = 4, // ended because a cancel was requested
    };
    Q_ENUM(State)

    TaskSpecification(QObject* parent, qreal weight);

    State state() const { return m_State; }
    qreal weight() const { return m_Weight; }
    // The weighted progress: fraction done times weight().
    qreal progress() const { return m_Progress; }
    bool isCancelRequested() const { return m_CancelRequested; }

signals:
    void finished(TaskSpecification* task);
    void canceled(TaskSpecification* task);
    void error(QString errorMessage);
    // Carries the weighted progress, not the raw fraction.
    void updateProgress(double doneFrac);
    void message(QString message);
    // Sent by a composed task down to its subtasks: the sibling `task` ended unsuccessfully.
    void otherTaskCancelled(TaskSpecification* task);

public slots:
    // Starts the work; every concrete task sets m_State to RUNNING here.
    virtual void execute() = 0;
    // Leaves the task ready for another execute().
    virtual void reset();
    // Download statistics, polled once a second. The base reports nothing.
    virtual void getDownloadStatus(qulonglong& done, qulonglong& total, qulonglong& speed,
                                   bool& downloading);
    // Cooperative: the base only records the request.
    virtual void cancel();

    // Entry point of the parent's announcement; forwards to onOtherTaskCancelled() only while
    // this task runs and only for announcements about another task.
    void handleOtherTaskCancelled(TaskSpecification* other);

protected slots:
    // A sibling ended unsuccessfully while this task runs. The base ignores it.
    virtual void onOtherTaskCancelled(TaskSpecification* other);

protected:
    void setProgress(qreal fraction);
    void setFinished();
    void setFailed();
    void setCanceled();

    bool m_CancelRequested = false; // set by cancel(), cleared by reset()
    const qreal m_Weight;           // share of the parent's progress; fixed at construction
    qreal m_Progress = 0;           // fraction done times m_Weight
    State m_State = IDLE;
};
