#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "buildsettings.h"
#include "configuration.h"
#include "processtools.h"
#include "singleinstancechecker.h"
#include "updateengine.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>

MainWindow *MainWindow::s_Instance = nullptr;

MainWindow::MainWindow(Configuration *configuration)
    : MainWindow(configuration, nullptr)
{
}

MainWindow::MainWindow(Configuration *configuration, UpdateEngine *engine)
    : m_Ui(new Ui::MainWindow)
    , m_Configuration(configuration)
    , m_Engine(engine ? engine : new UpdateEngine(configuration, this))
{
    m_Engine->setParent(this);
    // The images live in the static library; its resources must be registered explicitly.
    Q_INIT_RESOURCE(velloran);
    s_Instance = this;

    connect(m_Engine, &UpdateEngine::error, this, [this](const QString &text) {
        m_Ui->outputTextEdit->append(text);
        QMessageBox::critical(this, QObject::tr("Error"), text, QMessageBox::Ok);
    });
    connect(m_Engine, &UpdateEngine::fatalError, this, &MainWindow::onFatalError);
    connect(m_Engine, &UpdateEngine::updateProgress, this,
            [this](double done) { m_Ui->totalProgressBar->setValue(int(done * 1000)); });
    connect(m_Engine, &UpdateEngine::message, this, &MainWindow::onAppendText);
    connect(m_Engine, &UpdateEngine::updateFinished, this, &MainWindow::onUpdateFinished);
    connect(m_Engine, &UpdateEngine::updateCanceled, this, &MainWindow::onUpdateCanceled);

    m_Ui->setupUi(this);
    connect(m_Ui->detailsButton, &QPushButton::toggled, m_Ui->outputTextEdit, &QWidget::setVisible);
    // Queued, so that the log view is already visible when it is scrolled.
    connect(m_Ui->detailsButton, &QPushButton::clicked, this, [this] {
        if (m_Ui->outputTextEdit->isVisible()) {
            QScrollBar *bar = m_Ui->outputTextEdit->verticalScrollBar();
            bar->setValue(bar->maximum());
        }
    }, Qt::QueuedConnection);

    // The notice links to the web site the program was built for.
    const QString website = BuildSettings::productWebsite();
    m_Ui->copyrightLabel->setText(
        QStringLiteral("<small>%1 <a href=\"%2\">%3</a></small>")
            .arg(tr("Copyright © 2026 Velloran."), website.toHtmlEscaped(),
                 QUrl(website).host().toHtmlEscaped()));
    m_Ui->velloranLabel->setUrl(website);
    m_Ui->banner->setUrl(website);
    m_Ui->velloranLabel->hide();
    m_Ui->outputTextEdit->hide();

    auto *checker = new SingleInstanceChecker(this);
    connect(checker, &SingleInstanceChecker::otherInstanceActivate, this, [this](const QString &text) {
        if (text == QLatin1String("#")) {
            raise();
            activateWindow();
        }
    });

    connect(m_Configuration, &Configuration::fatalError, this, [this](const QString &text) {
        QMessageBox::critical(this, QObject::tr("Error"), text, QMessageBox::Ok);
        QCoreApplication::exit(1);
    });
    connect(m_Configuration, &Configuration::ready, this, &MainWindow::onStartUpdate);

    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    move(available.width() / 2 - width() / 2, available.height() / 2 - height() / 2);
}

MainWindow::~MainWindow()
{
    s_Instance = nullptr;
}

void MainWindow::updateVersionLabel()
{
    QString text;
    // The version string comes from the command line or the version service: shown as text.
    if (!m_Configuration->versionString().isEmpty())
        text += QStringLiteral("<div style=\"font-weight:bold;font-size:large\">")
              + tr("Update to Velloran %1").arg(m_Configuration->versionString().toHtmlEscaped())
              + QStringLiteral("</div>");

    QString channelName;
    switch (m_Configuration->channel()) {
    case STABLE:
        channelName = tr("Stable");
        break;
    case BETA:
        channelName = tr("Beta");
        break;
    case ALPHA:
        channelName = tr("Alpha");
        break;
    }
    text += QStringLiteral("<div style=\"margin-top:0.2em\">")
          + tr("You are currently on <strong>%1 channel</strong>.").arg(channelName)
          + QStringLiteral("</div>");

    text += QStringLiteral("<div style=\"margin-top:0.2em;font-style:italic\">")
          + (m_Configuration->runKind() == 0 ? tr("Step one: Updating updater")
                                             : tr("Step two: Updating Velloran client"))
          + QStringLiteral("</div>");
    m_Ui->versionLabel->setText(text);
}

void MainWindow::showEvent(QShowEvent *event)
{
    const int side = m_Ui->versionLabel->height();
    m_Ui->velloranLabel->setMaximumWidth(side);
    m_Ui->velloranLabel->setMaximumHeight(side);
    m_Ui->velloranLabel->show();
    QWidget::showEvent(event);
}

void MainWindow::onStartUpdate()
{
    qDebug() << "onStartUpdate" << m_Finished << m_Started;
    if (m_Finished || m_Started)
        return;
    if (m_Engine->isActive()) {
        qDebug() << "Session already active";
        return;
    }
    if (!m_Configuration->isReady()) {
        qDebug() << "Aborting start update, configuration not yet ready";
        return;
    }
    if (m_Engine->initialize()) {
        qDebug() << "Update engine initialized";
        m_Started = true;
        m_Engine->startUpdate();
    }
}

void MainWindow::onUpdateFinished()
{
    qDebug() << "onUpdateFinished";
    m_Finished = true;
    if (m_RebootAsked)
        return;
    QTimer::singleShot(1000, this, [this] {
        if (m_Configuration->runKind() == 1) {
            ProcessTools::startVlrClient(m_Configuration->installDir());
            close();
        } else {
            onStartNewUpdater();
        }
    });
}

void MainWindow::onStartNewUpdater()
{
    qDebug() << "onStartNewUpdater";
    const QString versionString = m_Configuration->versionString();
    const QStringList arguments = {QStringLiteral("--clientupdate"), Configuration::clientTypeFor(1),
                                   QString::number(m_Configuration->version()),
                                   versionString.isEmpty() ? QStringLiteral("#") : versionString};
    ProcessTools::startClientUpdater(m_Configuration->tempDir(), arguments);
    close();
}

void MainWindow::onUpdateCanceled()
{
    if (m_CloseRequested) {
        QCoreApplication::quit();
        return;
    }
    m_Finished = false;
    // Only a cancelled engine can be reset; a repeated report finds it reset already.
    if (m_Engine->state() == UpdateEngine::State::CANCELED)
        m_Engine->resetAfterCancel();
    m_Ui->outputTextEdit->append(tr("Update cancelled"));
    m_Ui->totalProgressBar->setValue(0);
    if (m_ShowingCancelBox)
        return;
    m_ShowingCancelBox = true;
    QMessageBox::critical(this, tr("Update"), tr("Update cancelled. Push \"Details\" to check reasons."),
                          QMessageBox::Ok);
    m_ShowingCancelBox = false;
}

void MainWindow::onFatalError(QString errorMessage)
{
    QMessageBox::critical(this, QObject::tr("Error"), errorMessage, QMessageBox::Ok);
    QCoreApplication::exit(2);
}

void MainWindow::onAppendText(QString text)
{
    m_Ui->outputTextEdit->append(text);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!m_Engine->isActive()) {
        event->accept();
        return;
    }
    event->ignore();
    if (m_CloseRequested)
        return;
    const auto answer = QMessageBox::question(
        this, tr("Question"), tr("<p>Update in progress.</p><p>Are you sure you want to abort?</p>"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton);
    if (answer == QMessageBox::Yes) {
        m_CloseRequested = true;
        m_Engine->cancelUpdate();
    }
}

void MainWindow::onRebootWithConfirmation()
{
    qDebug() << "onRebootWithConfirmation";
    m_RebootAsked = true;
    const auto answer = QMessageBox::question(
        this, tr("Confirm reboot"),
        tr("<p>A computer restart is required to proceed with the client update. If you do not "
           "reboot now, the Velloran update will be cancelled.</p><p>Do you want to reboot now?</p>"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer == QMessageBox::Yes) {
        write_force_update_file(QStringLiteral("vlr_force_update"));
        QApplication::beep();
    } else {
        write_force_update_file(QStringLiteral("vlr_force_update_check"));
    }
    QCoreApplication::quit();
}

void MainWindow::write_force_update_file(const QString &name)
{
    QFile file(QDir::tempPath() + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly)) {
        m_Ui->outputTextEdit->append(QStringLiteral("Failed to store force update notice"));
        qDebug() << "Failed to store force update notice";
        return;
    }
    file.close();
}

void MainWindow::delete_force_update_files()
{
    qDebug() << "delete_force_update_files" << m_Configuration->runKind();
    if (m_Configuration->runKind() != 0)
        return;
    QFile::remove(QDir::tempPath() + QStringLiteral("/vlr_force_update"));
    QFile::remove(QDir::tempPath() + QStringLiteral("/vlr_force_update_check"));
}
