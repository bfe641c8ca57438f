#include "updateengine.h"

#include "configuration.h"

#include <QDebug>
#include <QDir>
#include <QFile>

namespace {

void removeExisting(const QString &dir, const QStringList &names, const QString &prefix,
                    const char *logText)
{
    for (const QString &name : names) {
        const QString path = QDir(dir).absoluteFilePath(prefix + name);
        if (QFile::exists(path))
            qDebug() << logText << path;
        QFile::remove(path);
    }
}

const QStringList &qt4Libraries()
{
    static const QStringList names = {
        QStringLiteral("libQtCore.so.4"), QStringLiteral("libQtGui.so.4"),
        QStringLiteral("libQtNetwork.so.4"), QStringLiteral("libQtSql.so.4")};
    return names;
}

} // namespace

UpdateEngine::UpdateEngine(Configuration *config, QObject *parent)
    : QObject(parent)
    , m_Config(config)
{
    connect(m_Config, &Configuration::message, this, &UpdateEngine::message);
    m_Config->readUpdaterSettings();
}

bool UpdateEngine::initialize()
{
    Q_ASSERT_X(m_State == State::PRE_INIT, "initialize", "m_State == State::PRE_INIT");
    qDebug() << "initialize: the update run is not available in this build yet";
    return false;
}

bool UpdateEngine::startUpdate()
{
    Q_ASSERT_X(m_State == State::POST_INIT, "startUpdate", "m_State == State::POST_INIT");
    return false;
}

void UpdateEngine::resetAfterCancel()
{
    Q_ASSERT_X(m_State == State::CANCELED, "resetAfterCancel", "m_State== State::CANCELED");
    m_State = State::PRE_INIT;
}

void UpdateEngine::cancelUpdate()
{
}

void UpdateEngine::removeOldFiles(const QString &dir)
{
    static const QStringList names = {
        QStringLiteral("update"), QStringLiteral("libQtCore.so.4"), QStringLiteral("libQtGui.so.4"),
        QStringLiteral("libQtNetwork.so.4"), QStringLiteral("libQtSql.so.4"),
        QStringLiteral("libQt5Core.so.5"), QStringLiteral("libQt5Gui.so.5"),
        QStringLiteral("libQt5Network.so.5"), QStringLiteral("libQt5Sql.so.5"),
        QStringLiteral("libqgif.so"), QStringLiteral("libqjpeg.so"),
        QStringLiteral("libqtaccessiblewidgets.so"), QStringLiteral("libsqlite.so")};
    removeExisting(dir, names, QStringLiteral("_old_"), "Remove old file:");
}

void UpdateEngine::removeQt4Files(const QString &dir)
{
    removeExisting(dir, qt4Libraries(), QString(), "Remove Qt4 file:");
}
