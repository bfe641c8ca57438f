#pragma once

#include <QObject>
#include <QString>

class Configuration;
class QNetworkAccessManager;
class QTimer;
class TaskSpecification;

// Carries out one run (updater run or client run) on behalf of the main window: owns the one
// network access manager of the run and applies the proxy setting, continues or cleans up an
// earlier session and records the current one in update.ini, creates and drives the root task,
// forwards its signals, polls the download statistics once a second, and removes the session's
// temporary files when the run has succeeded.
//
// Calling order: initialize(); if true, startUpdate(); then exactly one of updateFinished() or
// updateCanceled() arrives. After updateCanceled() the caller calls resetAfterCancel().
class UpdateEngine : public QObject
{
    Q_OBJECT

public:
    enum class State : qint32 { PRE_INIT = 0, POST_INIT = 1, RUNNING = 2, FINISHED = 3, CANCELED = 4 };

    // An invalid proxy setting is reported through fatalError once the event loop runs (the
    // window connects to the engine only after constructing it), or by initialize().
    UpdateEngine(Configuration *config, QObject *parent);
    ~UpdateEngine() override;

    State state() const { return m_State; }
    bool isActive() const { return m_State == State::POST_INIT || m_State == State::RUNNING; }
    QNetworkAccessManager *network() const { return m_Network; }

    // Sets up the signature library, continues or cleans up the session recorded in update.ini
    // and records the current one. False leaves the engine in PRE_INIT; the reason has been
    // reported (fatalError, error, or the configuration's own fatalError).
    bool initialize();
    // Creates the root task and starts it. False when this build has no root task; the run then
    // ends as a failed one (error, then updateCanceled from the event loop).
    bool startUpdate();
    void resetAfterCancel();
    // Removes what a successful run leaves behind: the session record, and for a client run
    // the session's temporary directory.
    void cleanup();

    // Deletes everything below path except symbolic links, which are neither followed nor
    // deleted (a directory still holding one stays).
    static void removeDirContents(const QString &path);
    // Deletes the files that an earlier updater parked under "_old_" names in dir.
    static void removeOldFiles(const QString &dir);
    // Deletes the Qt 4 libraries that very old releases installed into dir.
    static void removeQt4Files(const QString &dir);

public slots:
    // Asks the running root task to cancel; the outcome arrives through updateCanceled (or
    // updateFinished if the run completes first). Does nothing unless a run is under way.
    void cancelUpdate();

signals:
    void fatalError(QString errorMessage);
    void error(QString errorMessage);
    void updateProgress(double doneFrac);
    // Once a second while running; once with all zero just before updateFinished or
    // updateCanceled.
    void downloadProgress(qulonglong downloadDone, qulonglong downloadTotal, qulonglong speed,
                          bool downloading);
    void message(QString message);
    void updateFinished();
    void updateCanceled();

protected:
    // The root task of a run, created with the engine as parent and weight 1.0; the engine
    // takes ownership. Null when this build has no root task.
    virtual TaskSpecification *createRootTask();
    Configuration *configuration() const { return m_Config; }

private slots:
    void onTimer();
    void onTaskFinished();
    void onTaskCanceled();

private:
    void applyProxy();
    void reportProxyError();
    void cleanupPreviousSession(int version, const QString &dir);
    void releaseTask();
    void announceEnd(bool finished);

    State m_State = State::PRE_INIT;
    Configuration *m_Config;            // not owned
    TaskSpecification *m_Task = nullptr; // root task while a run exists; owned, released with deleteLater()
    QTimer *m_Timer;                    // statistics poll, 1000 ms while RUNNING
    QNetworkAccessManager *m_Network;   // the one network access manager of the run
    QString m_ProxyError;               // non-empty when the proxy setting is invalid
    bool m_ProxyErrorReported = false;
};
