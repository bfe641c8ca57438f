#include "processtools.h"

#include <QDebug>
#include <QFile>
#include <QProcess>

void ProcessTools::startVlrClient(const QString &installDir)
{
    qDebug() << "startVlrClient";
    startVlrClient_linux(installDir);
}

void ProcessTools::startClientUpdater(const QString &dir, const QStringList &arguments)
{
    qDebug() << "startClientUpdater" << dir << arguments;
    startNewUpdater_linux(dir, arguments);
}

void ProcessTools::startVlrClient_linux(const QString &installDir)
{
    const QString path = installDir + QLatin1Char('/') + runScriptName();
    qDebug() << "starting " << path;
    QProcess::startDetached(path, QStringList(), installDir);
}

void ProcessTools::startNewUpdater_linux(const QString &dir, const QStringList &arguments)
{
    const QString path = dir + QStringLiteral("/update");
    qDebug() << "startNewUpdater_linux" << path;
    if (!QFile::exists(path)) {
        qDebug() << "Failed to find" << path;
        return;
    }
    qDebug() << "starting" << path;
    QProcess::startDetached(path, arguments, dir);
}
