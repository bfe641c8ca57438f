#include "slowfileopspecification.h"

#include "rollback.h"

SlowFileOpFunc::SlowFileOpFunc(const QString& source, const QString& target)
    : m_Source(source), m_Target(target)
{
}

SlowFileOpFunc::SlowFileOpFunc(const QString& source, const QString& extra, const QString& target)
    : m_Source(source), m_Extra(extra), m_Target(target)
{
}

SlowFileOpSpecification::SlowFileOpSpecification(const QString& failMessage,
                                                 RollbackDataList* rollbackList,
                                                 const QString& source, const QString& target,
                                                 QObject* parent, qreal weight)
    : SlowFileOpSpecification(failMessage, rollbackList, source, QString(), target, parent,
                              weight)
{
}

SlowFileOpSpecification::SlowFileOpSpecification(const QString& failMessage,
                                                 RollbackDataList* rollbackList,
                                                 const QString& source, const QString& extra,
                                                 const QString& target, QObject* parent,
                                                 qreal weight)
    : ASyncTaskSpecification(parent, weight),
      m_RollbackList(rollbackList),
      m_Source(source),
      m_Extra(extra),
      m_Target(target),
      m_FailMessage(failMessage)
{
}

void SlowFileOpSpecification::runDone(bool res)
{
    if (res && m_RollbackList)
        m_RollbackList->append(RollbackData(RollbackData::FILE_CREATE, m_Target));
    if (!res)
        emit message(m_FailMessage);
    ASyncTaskSpecification::runDone(res);
}
