#include "updateinidata.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QSettings>

namespace {

const QString s_Group = QStringLiteral("current");

const char *statusName(QSettings::Status status)
{
    switch (status) {
    case QSettings::NoError:
        return "QSettings::NoError";
    case QSettings::AccessError:
        return "QSettings::AccessError";
    case QSettings::FormatError:
        return "QSettings::FormatError";
    }
    return "QSettings::Status(unknown)";
}

} // namespace

QString UpdateIniData::iniPath()
{
    return QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("update.ini"));
}

bool UpdateIniData::get(int *version, QString *type, QString *dir, QString *vlrdir)
{
    const QString path = iniPath();
    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(s_Group);
    bool ok = false;
    const int readVersion = settings.value(QStringLiteral("version")).toInt(&ok);
    const QString readDir = settings.value(QStringLiteral("dir")).toString();
    const QString readVlrdir = settings.value(QStringLiteral("vlrdir")).toString();
    const QString readType = settings.value(QStringLiteral("type")).toString();
    settings.endGroup();

    qDebug() << "get" << path << readVersion << readDir << readVlrdir << readType;

    if (!ok || readType.isEmpty() || readDir.isEmpty() || !QFile::exists(readDir))
        return false;

    if (version)
        *version = readVersion;
    if (type)
        *type = readType;
    if (dir)
        *dir = readDir;
    if (vlrdir)
        *vlrdir = readVlrdir;
    return true;
}

bool UpdateIniData::modify(int version, const QString &dir, const QString &vlrdir,
                           const QString &type, const QString &iniFile)
{
    qDebug() << "modify" << iniFile << version << dir << vlrdir << type;

    QSettings settings(iniFile, QSettings::IniFormat);
    settings.beginGroup(s_Group);
    settings.setValue(QStringLiteral("version"), version);
    settings.setValue(QStringLiteral("dir"), dir);
    settings.setValue(QStringLiteral("vlrdir"), vlrdir);
    settings.setValue(QStringLiteral("type"), type);
    settings.endGroup();
    settings.sync();
    const QSettings::Status status = settings.status();

    qDebug().noquote() << "UpdateiniData::modify write result" << statusName(status);
    return status == QSettings::NoError;
}

bool UpdateIniData::modifyTempIni(const QString &dir)
{
    const QString target = dir + QStringLiteral("/update.ini");
    qDebug() << "modifyTempIni" << target;

    int version = 0;
    QString type;
    QString recordDir;
    QString vlrdir;
    if (!get(&version, &type, &recordDir, &vlrdir)) {
        qDebug() << "Failed to read existing update.ini";
        return false;
    }
    return modify(version, recordDir, vlrdir, QStringLiteral("client_linux_amd64"), target);
}

bool UpdateIniData::removeRecord(const QString &iniFile)
{
    if (!QFile::exists(iniFile))
        return true;
    bool empty = false;
    QSettings::Status status = QSettings::NoError;
    {
        QSettings settings(iniFile, QSettings::IniFormat);
        settings.remove(s_Group);
        settings.sync();
        status = settings.status();
        empty = settings.allKeys().isEmpty();
    }
    qDebug().noquote() << "UpdateiniData::removeRecord write result" << statusName(status);
    // A file that does not parse holds nothing worth keeping; QSettings will not rewrite it.
    if (status == QSettings::FormatError)
        return QFile::remove(iniFile);
    if (status != QSettings::NoError)
        return false;
    return !empty || QFile::remove(iniFile);
}
