#include "logfile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

#include <cstdlib>

QString s_LogTimestampFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss:zzz");

namespace {

// Guards the creation of the log and every write: lines come from the GUI thread and from
// the thread pool, and one line must reach the file as a unit.
QMutex s_LogMutex;
LogFile *s_LogFile = nullptr;

LogFile *logFileLocked()
{
    if (!s_LogFile) {
        s_LogFile = new LogFile;
        openLogFile(*s_LogFile);
    }
    return s_LogFile;
}

const char *levelMarker(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "\t|\tDebug\t|\t";
    case QtWarningMsg:
        return "\t|\tWarning\t|\t";
    case QtCriticalMsg:
        return "\t|\tCritical\t|\t";
    case QtInfoMsg:
        return "\t|\tInfo\t|\t";
    case QtFatalMsg:
        return "\t|\tFatal\t|\t";
    }
    return nullptr;
}

} // namespace

QString logDirectoryPath()
{
    return QDir::toNativeSeparators(QDir::tempPath() + QLatin1Char('/')
                                    + QStringLiteral("velloran_update_log") + QLatin1Char('/'));
}

QString logFileName(const QDateTime &startTime)
{
    QString stamp = startTime.toString(Qt::ISODate);
    stamp.replace(QLatin1Char(':'), QLatin1Char('_'));
    stamp.replace(QLatin1Char('T'), QStringLiteral("__"));
    return QStringLiteral("update__") + stamp + QStringLiteral(".log");
}

LogFile *logFile()
{
    QMutexLocker lock(&s_LogMutex);
    return logFileLocked();
}

void openLogFile(LogFile &log)
{
    const QString directory = logDirectoryPath();
    if (!QDir(directory).exists())
        QDir().mkdir(directory);

    auto *file = new QFile(directory + logFileName(QDateTime::currentDateTime()));
    delete log.device;
    log.device = file;
    file->open(QIODevice::WriteOnly | QIODevice::Text);
    log.stream.setDevice(file);
}

void closeLogFile()
{
    QMutexLocker lock(&s_LogMutex);
    LogFile *log = logFileLocked();
    log->stream.flush();
    log->device->close();
}

void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    const char *marker = levelMarker(type);
    if (!marker)
        return;
    const QByteArray text = msg.toLocal8Bit() + '\n';

    QMutexLocker lock(&s_LogMutex);
    QTextStream &stream = logFileLocked()->stream;
    stream << QDateTime::currentDateTime().toString(s_LogTimestampFormat) << marker << text;
    stream.flush();
    if (type == QtFatalMsg)
        std::abort();
}
