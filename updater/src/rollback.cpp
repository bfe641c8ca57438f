#include "rollback.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QObject>

RollbackData::RollbackData(int op, const QString& from, const QString& to)
    : m_Path(to), m_FormerPath(from), m_Op(op)
{
    Q_ASSERT(op==FILE_RENAME);
}

RollbackData::RollbackData(int op, const QString& path) : m_Path(path), m_Op(op)
{
    Q_ASSERT(op!=FILE_RENAME);
}

bool RollbackData::rollback(QObject* reporter) const
{
    switch (m_Op) {
    case FILE_RENAME:
        if (QFile::rename(m_Path, m_FormerPath))
            return true;
        // The text names the rename being undone, in its original direction.
        message(reporter, QObject::tr("warning: rollback rename %1 to %2 failed")
                              .arg(m_FormerPath, m_Path));
        return false;
    case FILE_CREATE:
        if (QFile::remove(m_Path))
            return true;
        message(reporter, QObject::tr("warning: rollback create file %1 failed").arg(m_Path));
        return false;
    case DIR_CREATE: {
        // Cleaned, so that a trailing "/" still names the directory itself.
        const QFileInfo info(QDir::cleanPath(m_Path));
        if (info.dir().rmdir(info.fileName()))
            return true;
        message(reporter, QObject::tr("warning: rollback create dir %1 failed").arg(m_Path));
        return false;
    }
    }
    qWarning() << "RollbackData::rollback: unknown operation" << m_Op << m_Path;
    return false;
}

void RollbackData::message(QObject* reporter, QString text)
{
    if (!reporter)
        return;
    // Checked first so that a reporter without the signal gives our warning, not Qt's.
    if (reporter->metaObject()->indexOfMethod("message(QString)") < 0
        || !QMetaObject::invokeMethod(reporter, "message", Q_ARG(QString, text))) {
        qWarning() << "Warning: message signal was not found in RollbackData::message";
    }
}

bool RollbackDataList::rollback(QObject* reporter)
{
    bool complete = true;
    while (!isEmpty()) {
        if (!takeLast().rollback(reporter))
            complete = false;
    }
    return complete;
}
