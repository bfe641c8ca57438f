#include "fastfileoptaskspecification.h"

#include "rollback.h"

FastFileOpTaskSpecification::FastFileOpTaskSpecification(const QString& path,
                                                         RollbackDataList* rollbackList,
                                                         QObject* parent, qreal weight)
    : TaskSpecification(parent, weight), m_RollbackList(rollbackList), m_Path(path)
{
}

void FastFileOpTaskSpecification::execute()
{
    m_State = RUNNING;
    if (doOp())
        setFinished();
    else
        setFailed();
}

void FastFileOpTaskSpecification::addRollbackEntry(const RollbackData& entry)
{
    if (m_RollbackList)
        m_RollbackList->append(entry);
}
