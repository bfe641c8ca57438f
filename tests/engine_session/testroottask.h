#pragma once

#include "taskspecification.h"
#include "updateengine.h"

#include <functional>

// A root task that plays a scripted run: it reports half its progress and a message when
// started, then (from the event loop) finishes, fails with an error, or waits for a cancel.
class TestRootTask : public TaskSpecification
{
    Q_OBJECT

public:
    enum class Script { FINISH, FAIL, WAIT_FOR_CANCEL };

    TestRootTask(Script script, QObject *parent, qreal weight);

    // What getDownloadStatus() reports.
    void setDownloadStatus(qulonglong done, qulonglong total, qulonglong speed, bool downloading);

public slots:
    void execute() override;
    void cancel() override;
    void getDownloadStatus(qulonglong &done, qulonglong &total, qulonglong &speed,
                           bool &downloading) override;

private:
    Script m_Script;
    qulonglong m_Done = 0;
    qulonglong m_Total = 0;
    qulonglong m_Speed = 0;
    bool m_Downloading = false;
};

// The engine with the root task chosen by the test.
class TestEngine : public UpdateEngine
{
    Q_OBJECT

public:
    using Factory = std::function<TaskSpecification *(UpdateEngine *engine)>;

    TestEngine(Configuration *config, Factory factory);

protected:
    TaskSpecification *createRootTask() override { return m_Factory(this); }

private:
    Factory m_Factory;
};
