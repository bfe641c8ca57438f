#pragma once

#include "asynctaskspecification.h"

#include <QString>

class RollbackDataList;

// The work of a single-file operation that produces m_Target from m_Source (and m_Extra, when
// the operation has a second input) on a pool thread.
class SlowFileOpFunc : public ASyncFunc
{
    Q_OBJECT

public:
    SlowFileOpFunc(const QString& source, const QString& target);
    SlowFileOpFunc(const QString& source, const QString& extra, const QString& target);

protected:
    const QString m_Source;
    const QString m_Extra;
    const QString m_Target;
};

// A single-file operation run on a pool thread. On success the created target is journalled for
// rollback; on failure m_FailMessage is emitted and nothing is journalled (whatever the worker
// wrote before failing stays on disk).
class SlowFileOpSpecification : public ASyncTaskSpecification
{
    Q_OBJECT

public:
    // rollbackList may be null (nothing is journalled); it is not owned. failMessage is the
    // message emitted when the operation fails.
    SlowFileOpSpecification(const QString& failMessage, RollbackDataList* rollbackList,
                            const QString& source, const QString& target, QObject* parent,
                            qreal weight);
    SlowFileOpSpecification(const QString& failMessage, RollbackDataList* rollbackList,
                            const QString& source, const QString& extra, const QString& target,
                            QObject* parent, qreal weight);

protected:
    void runDone(bool res) override;

    RollbackDataList* m_RollbackList;
    QString m_Source;
    QString m_Extra;
    QString m_Target;
    QString m_FailMessage;
};
