#pragma once

#include <QList>
#include <QString>

class QObject;

// One journalled change to the installation, and how to undo it.
class RollbackData
{
public:
    enum Op {
        FILE_RENAME = 0, // renamed from m_FormerPath to m_Path; undone by renaming back
        FILE_CREATE = 1, // created m_Path; undone by deleting it
        DIR_CREATE = 2,  // created the directory m_Path; undone by removing it when empty
    };

    // For FILE_RENAME only.
    RollbackData(int op, const QString& from, const QString& to);
    // For FILE_CREATE and DIR_CREATE.
    RollbackData(int op, const QString& path);

    const QString& path() const { return m_Path; }
    const QString& formerPath() const { return m_FormerPath; }
    int op() const { return m_Op; }

    // Undoes this change. A failure is reported as a line through the reporter's message(QString)
    // signal (nothing when reporter is null) and returns false.
    bool rollback(QObject* reporter) const;

    // Emits `text` through the reporter's message(QString) signal; does nothing for a null
    // reporter.
    static void message(QObject* reporter, QString text);

private:
    QString m_Path;       // the path after the change
    QString m_FormerPath; // for a rename: the name before; empty otherwise
    int m_Op;
};

// A journal of changes, in the order they were made.
class RollbackDataList : public QList<RollbackData>
{
public:
    // Undoes every entry, newest first, and empties the journal. A failed entry is reported and
    // does not stop the others; returns true only if every entry was undone.
    bool rollback(QObject* reporter);
};
