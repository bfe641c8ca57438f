#pragma once

#include "taskspecification.h"

#include <QString>

class RollbackData;
class RollbackDataList;

// A quick single-file operation done synchronously in the GUI thread. The task ends inside
// execute(), so its finished or canceled signal is emitted before execute() returns.
class FastFileOpTaskSpecification : public TaskSpecification
{
    Q_OBJECT

public:
    // rollbackList may be null (nothing is journalled); it is not owned.
    FastFileOpTaskSpecification(const QString& path, RollbackDataList* rollbackList,
                                QObject* parent, qreal weight);

public slots:
    void execute() override;

protected:
    // Does the operation and journals what it changed through addRollbackEntry().
    virtual bool doOp() = 0;
    void addRollbackEntry(const RollbackData& entry);

    RollbackDataList* m_RollbackList;
    QString m_Path;
};
