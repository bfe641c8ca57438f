#pragma once

#include <QString>
#include <QTextStream>
#include <QtGlobal>

class QIODevice;

// The per-run log file. Every diagnostic line of the program reaches it through
// messageHandler(); it lives in "velloran_update_log" below the system temp directory.
struct LogFile
{
    QIODevice *device = nullptr; // owned; null until openLogFile()
    QTextStream stream;
};

extern QString s_LogTimestampFormat;

// The process-wide log, created and opened on first use and never destroyed.
LogFile *logFile();

// (Re)opens the log for a file named after the current time; failures are silent, the lines
// written afterwards are then lost.
void openLogFile(LogFile &log);

// Flushes and closes the log at the normal end of the program.
void closeLogFile();

// The directory and file name of a log started at the given time.
QString logDirectoryPath();
QString logFileName(const QDateTime &startTime);

void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg);
