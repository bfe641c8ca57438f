#pragma once

#include <QString>
#include <QStringList>

// Hands over to another process at the end of a run; both start it detached and do not wait.
class ProcessTools
{
public:
    // Starts the client's start script in installDir.
    static void startVlrClient(const QString &installDir);
    // Starts the new updater "update" in dir with the given arguments.
    static void startClientUpdater(const QString &dir, const QStringList &arguments);

    static QString runScriptName() { return QStringLiteral("vlrclient_runscript.sh"); }

private:
    static void startVlrClient_linux(const QString &installDir);
    static void startNewUpdater_linux(const QString &dir, const QStringList &arguments);
};
