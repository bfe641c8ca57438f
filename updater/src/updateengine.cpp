#include "updateengine.h"

#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "taskspecification.h"
#include "updateinidata.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QTimer>
#include <QUrl>

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

// Session directories are only ever made by Configuration::createTempDir(), under this name.
// The directory named in update.ini is deleted with everything in it, so a record that names
// anything else (a damaged or hand-edited file, or a link placed under that name) must not lead
// there.
bool isSessionDir(const QString &dir)
{
    const QFileInfo info(QDir::cleanPath(dir));
    return info.fileName().startsWith(QLatin1String("velloran_temp_")) && !info.isSymLink();
}

enum class DirRemoval { REMOVED, FAILED, NO_PARENT };

// Empties a session directory and removes it from its parent.
DirRemoval removeSessionDir(const QString &dir)
{
    if (!isSessionDir(dir)) {
        qWarning() << "Not a session directory, left in place:" << dir;
        return DirRemoval::FAILED;
    }
    UpdateEngine::removeDirContents(dir);
    const QFileInfo info(QDir::cleanPath(dir));
    QDir parent(info.absoluteFilePath());
    if (!parent.cdUp())
        return DirRemoval::NO_PARENT;
    return parent.rmdir(info.fileName()) ? DirRemoval::REMOVED : DirRemoval::FAILED;
}

} // namespace

UpdateEngine::UpdateEngine(Configuration *config, QObject *parent)
    : QObject(parent)
    , m_Config(config)
    , m_Timer(new QTimer(this))
    , m_Network(new QNetworkAccessManager(this))
{
    connect(m_Config, &Configuration::message, this, &UpdateEngine::message);
    connect(m_Timer, &QTimer::timeout, this, &UpdateEngine::onTimer);
    m_Config->readUpdaterSettings();
    applyProxy();
}

UpdateEngine::~UpdateEngine() = default;

void UpdateEngine::applyProxy()
{
    const QString text = m_Config->proxy();
    if (text.isEmpty()) {
        m_Network->setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
        return;
    }
    const QUrl url(text, QUrl::TolerantMode);
    // "host:port" parses as a URL with the scheme "host" and no host at all; a proxy without a
    // host would make every download fail, so it is reported like any other invalid text.
    const QString host = url.host(QUrl::FullyDecoded);
    if (url.isValid() && !host.isEmpty()) {
        m_Network->setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, host, quint16(url.port(3128))));
        qDebug() << "Using HTTP proxy" << host << url.port(3128);
        return;
    }
    qWarning() << "Invalid proxy setting" << text;
    m_ProxyError = QObject::tr("'%1' is an invalid proxy specification").arg(text);
    // The window connects to fatalError only after the engine is constructed: report from the
    // event loop.
    QTimer::singleShot(0, this, &UpdateEngine::reportProxyError);
}

void UpdateEngine::reportProxyError()
{
    if (m_ProxyErrorReported)
        return;
    m_ProxyErrorReported = true;
    emit fatalError(m_ProxyError);
}

bool UpdateEngine::initialize()
{
    Q_ASSERT_X(m_State == State::PRE_INIT, "initialize", "m_State == State::PRE_INIT");
    if (m_State != State::PRE_INIT)
        return false;
    if (!m_ProxyError.isEmpty()) {
        // Running without the configured proxy would bypass it: never start.
        reportProxyError();
        return false;
    }

    try {
        CheckSigFunc::initializeCrypt();
    } catch (const crypt_exception &e) {
        emit fatalError(QString::fromUtf8(e.what()));
        return false;
    }

    int version = 0;
    QString dir;
    QString vlrdir;
    if (UpdateIniData::get(&version, nullptr, &dir, &vlrdir)) {
        qDebug() << "Current version =" << version << "/ new version =" << m_Config->version();
        if (version == m_Config->version()) {
            qDebug() << "Continuing previous session";
            emit message(QObject::tr("Previous update session for v. %1 found").arg(version));
        } else {
            cleanupPreviousSession(version, dir);
            dir.clear();
            vlrdir.clear();
        }
    } else {
        qDebug() << "update.ini not found";
    }

    if (!m_Config->initalizeStart(dir, vlrdir))
        return false;

    qDebug() << "initialize" << "modifying update.ini" << m_Config->runKind();
    if (!UpdateIniData::modify(m_Config->version(), m_Config->tempDir(), m_Config->installDir(),
                               m_Config->clientType(), UpdateIniData::iniPath())) {
        qDebug() << "Failed to write to update.ini";
        emit error(QObject::tr("Failed to write update.ini. The updater does not seem to have the "
                      "required write permissions."));
        return false;
    }
    m_State = State::POST_INIT;
    return true;
}

void UpdateEngine::cleanupPreviousSession(int version, const QString &dir)
{
    qDebug() << "Cleaning up previous session";
    emit message(QObject::tr("Cleanup previous session (v. %1, %2) files...")
                     .arg(QString::number(version), dir));
    switch (removeSessionDir(dir)) {
    case DirRemoval::REMOVED:
        emit message(QObject::tr("Ok"));
        break;
    case DirRemoval::FAILED:
        emit message(QObject::tr("Failed to remove directory"));
        break;
    case DirRemoval::NO_PARENT:
        break;
    }
    UpdateIniData::removeRecord(UpdateIniData::iniPath());
}

TaskSpecification *UpdateEngine::createRootTask()
{
    // The root task of the product run joins the engine in a later build step.
    return nullptr;
}

bool UpdateEngine::startUpdate()
{
    qDebug() << "Starting update";
    Q_ASSERT_X(m_State == State::POST_INIT, "startUpdate", "m_State == State::POST_INIT");
    if (m_State != State::POST_INIT)
        return false;

    m_Task = createRootTask();
    if (!m_Task) {
        qWarning() << "No root task: this build cannot run updates";
        emit error(QObject::tr("This build of the updater cannot run updates."));
        m_State = State::CANCELED;
        // Ended like a failed run, but from the event loop: the caller is still in its start.
        QTimer::singleShot(0, this, [this] { announceEnd(false); });
        return false;
    }
    connect(m_Task, &TaskSpecification::finished, this, &UpdateEngine::onTaskFinished);
    connect(m_Task, &TaskSpecification::canceled, this, &UpdateEngine::onTaskCanceled);
    connect(m_Task, &TaskSpecification::error, this, &UpdateEngine::error);
    connect(m_Task, &TaskSpecification::updateProgress, this, &UpdateEngine::updateProgress);
    connect(m_Task, &TaskSpecification::message, this, &UpdateEngine::message);

    m_State = State::RUNNING;
    m_Timer->start(1000);
    m_Task->execute();
    return true;
}

void UpdateEngine::onTimer()
{
    if (m_State != State::RUNNING || !m_Task)
        return;
    qulonglong done = 0;
    qulonglong total = 0;
    qulonglong speed = 0;
    bool downloading = false;
    m_Task->getDownloadStatus(done, total, speed, downloading);
    emit downloadProgress(done, total, speed, downloading);
}

void UpdateEngine::onTaskFinished()
{
    // The root task ends once; anything after that (or from a released task) is ignored.
    if (m_State != State::RUNNING)
        return;
    m_Timer->stop();
    cleanup();
    m_State = State::FINISHED;
    emit message(QObject::tr("Update successfully finished"));
    releaseTask();
    announceEnd(true);
}

void UpdateEngine::onTaskCanceled()
{
    if (m_State != State::RUNNING)
        return;
    m_Timer->stop();
    m_State = State::CANCELED;
    if (m_Task && m_Task->state() == TaskSpecification::CANCELED)
        emit message(QObject::tr("User aborted update"));
    // The session stays: the next start for the same version continues it.
    releaseTask();
    announceEnd(false);
}

void UpdateEngine::announceEnd(bool finished)
{
    emit downloadProgress(0, 0, 0, false);
    if (finished)
        emit updateFinished();
    else
        emit updateCanceled();
}

void UpdateEngine::releaseTask()
{
    if (!m_Task)
        return;
    disconnect(m_Task, nullptr, this, nullptr);
    m_Task->deleteLater();
    m_Task = nullptr;
}

void UpdateEngine::cancelUpdate()
{
    if (m_State == State::RUNNING && m_Task)
        m_Task->cancel();
}

void UpdateEngine::resetAfterCancel()
{
    Q_ASSERT_X(m_State == State::CANCELED, "resetAfterCancel", "m_State== State::CANCELED");
    m_State = State::PRE_INIT;
    releaseTask();
}

void UpdateEngine::cleanup()
{
    qDebug() << "cleanup";
    const QString iniPath = UpdateIniData::iniPath();
    if (m_Config->runKind() != 0) {
        qDebug() << "Removing temporary files";
        emit message(QObject::tr("Remove temporary files..."));
        int version = 0;
        QString dir;
        if (UpdateIniData::get(&version, nullptr, &dir, nullptr)) {
            removeSessionDir(dir);
            UpdateIniData::removeRecord(iniPath);
        }
        emit message(QObject::tr("Temporary files removed."));
        return;
    }
    // The temporary directory stays: the new updater placed there continues the session from
    // the copy of the record it was given.
    UpdateIniData::removeRecord(iniPath);
    qDebug() << "Deleted local update.ini" << iniPath;
    emit message(QObject::tr("Removed temporary update.ini"));
}

void UpdateEngine::removeDirContents(const QString &path)
{
    const QDir dir(path);
    const QDir::Filters common = QDir::NoSymLinks | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    // With QDir::System, Qt lists dangling symbolic links despite QDir::NoSymLinks: skip them too.
    for (const QFileInfo &file : dir.entryInfoList(QDir::Files | common)) {
        if (!file.isSymLink())
            QFile::remove(file.absoluteFilePath());
    }
    for (const QFileInfo &sub : dir.entryInfoList(QDir::Dirs | common)) {
        if (sub.isSymLink())
            continue;
        removeDirContents(sub.absoluteFilePath());
        dir.rmdir(sub.fileName());
    }
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
