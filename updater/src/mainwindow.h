#pragma once

#include <QWidget>

#include <memory>

class Configuration;
class UpdateEngine;
namespace Ui {
class MainWindow;
}

// The updater's only window: shows channel, version and step, starts the engine once the
// configuration is complete, and reacts to the run's outcome.
class MainWindow : public QWidget
{
    Q_OBJECT

public:
    explicit MainWindow(Configuration *configuration);
    // Runs with the given engine instead of the product's one (tests use an engine with a
    // scripted root task); the window takes ownership.
    MainWindow(Configuration *configuration, UpdateEngine *engine);
    ~MainWindow() override;

    // The window of this process, or null; post-install commands ask for a restart through it.
    static MainWindow *instance() { return s_Instance; }

    void updateVersionLabel();
    void delete_force_update_files();
    void write_force_update_file(const QString &name);

public slots:
    void onRebootWithConfirmation();

private slots:
    void onFatalError(QString errorMessage);
    void onStartUpdate();
    void onStartNewUpdater();
    void onAppendText(QString text);
    void onUpdateFinished();
    void onUpdateCanceled();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    std::unique_ptr<Ui::MainWindow> m_Ui;
    Configuration *m_Configuration;
    UpdateEngine *m_Engine;
    bool m_Finished = false;
    bool m_CloseRequested = false;
    bool m_Started = false;
    bool m_RebootAsked = false;
    bool m_ShowingCancelBox = false; // guards onUpdateCanceled against re-entry from its box

    static MainWindow *s_Instance;
};
