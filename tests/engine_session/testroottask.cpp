#include "testroottask.h"

#include <QTimer>

TestRootTask::TestRootTask(Script script, QObject *parent, qreal weight)
    : TaskSpecification(parent, weight)
    , m_Script(script)
{
}

void TestRootTask::setDownloadStatus(qulonglong done, qulonglong total, qulonglong speed,
                                     bool downloading)
{
    m_Done = done;
    m_Total = total;
    m_Speed = speed;
    m_Downloading = downloading;
}

void TestRootTask::execute()
{
    m_State = RUNNING;
    emit message(QStringLiteral("Test run started"));
    setProgress(0.5);
    switch (m_Script) {
    case Script::FINISH:
        QTimer::singleShot(0, this, [this] { setFinished(); });
        break;
    case Script::FAIL:
        QTimer::singleShot(0, this, [this] {
            emit error(QStringLiteral("Download of update failed"));
            setFailed();
        });
        break;
    case Script::WAIT_FOR_CANCEL:
        break;
    }
}

void TestRootTask::cancel()
{
    TaskSpecification::cancel();
    if (m_State == RUNNING && m_Script == Script::WAIT_FOR_CANCEL)
        QTimer::singleShot(0, this, [this] { setCanceled(); });
}

void TestRootTask::getDownloadStatus(qulonglong &done, qulonglong &total, qulonglong &speed,
                                     bool &downloading)
{
    done = m_Done;
    total = m_Total;
    speed = m_Speed;
    downloading = m_Downloading;
}

TestEngine::TestEngine(Configuration *config, Factory factory)
    : UpdateEngine(config, nullptr)
    , m_Factory(std::move(factory))
{
}
