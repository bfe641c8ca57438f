#pragma once

#include <QObject>
#include <QString>

class Configuration;

// Carries out one run on behalf of the main window. For now only the start-up clean-up and
// the interface the window needs; the run itself follows.
class UpdateEngine : public QObject
{
    Q_OBJECT

public:
    enum class State { PRE_INIT = 0, POST_INIT = 1, RUNNING = 2, FINISHED = 3, CANCELED = 4 };

    UpdateEngine(Configuration *config, QObject *parent);

    bool isActive() const { return m_State == State::POST_INIT || m_State == State::RUNNING; }
    bool initialize();
    bool startUpdate();
    void resetAfterCancel();

    // Deletes the files that an earlier updater parked under "_old_" names in dir.
    static void removeOldFiles(const QString &dir);
    // Deletes the Qt 4 libraries that very old releases installed into dir.
    static void removeQt4Files(const QString &dir);

public slots:
    void cancelUpdate();

signals:
    void fatalError(QString errorMessage);
    void error(QString errorMessage);
    void updateProgress(double doneFrac);
    void downloadProgress(qulonglong downloadDone, qulonglong downloadTotal, qulonglong speed,
                          bool downloading);
    void message(QString message);
    void updateFinished();
    void updateCanceled();

private:
    State m_State = State::PRE_INIT;
    Configuration *m_Config;
};
