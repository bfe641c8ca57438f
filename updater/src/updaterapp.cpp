#include "updaterapp.h"

#include "configuration.h"
#include "logfile.h"
#include "mainwindow.h"
#include "protobufhelper.h"
#include "singleinstancechecker.h"
#include "updateengine.h"
#include "updateversions.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

namespace {

void removeObsoleteFiles(const QString &appDir)
{
    UpdateEngine::removeQt4Files(appDir);
    UpdateEngine::removeOldFiles(appDir);
    for (const char *subdir : {"/old", "/imageformats", "/accessible", "/sqldrivers"})
        UpdateEngine::removeOldFiles(appDir + QLatin1String(subdir));
    QDir().rmdir(appDir + QStringLiteral("/old"));
    qDebug() << "Removing old files done";
}

} // namespace

int runUpdater(int &argc, char **argv)
{
    ProtobufHelper::verifyVersion();
    qRegisterMetaType<UpdateVersions>("UpdateVersions");
    logFile();
    qInstallMessageHandler(messageHandler);

    QApplication app(argc, argv);
    const QString appDir = QCoreApplication::applicationDirPath();
    qDebug() << "Velloran updater started";
    removeObsoleteFiles(appDir);

    if (SingleInstanceChecker::sendToRunningInstance(QStringLiteral("#"))) {
        qDebug() << "Detected other instance running, aborting";
        return 0;
    }

    const QString locale = QLocale::system().name();
    QTranslator updateTranslator;
    if (updateTranslator.load(appDir + QStringLiteral("/translations/update_") + locale))
        QCoreApplication::installTranslator(&updateTranslator);
    QTranslator qtTranslator;
    if (qtTranslator.load(appDir + QStringLiteral("/translations/qt_") + locale))
        QCoreApplication::installTranslator(&qtTranslator);

    Configuration configuration;
    MainWindow window(&configuration);
    if (!configuration.parseCommandLineOptions()) {
        qWarning() << "Failed to parse command line options, aborting";
        return 1;
    }

    QTimer::singleShot(2000, &window, SLOT(onStartUpdate()));
    window.updateVersionLabel();
    window.show();
    window.delete_force_update_files();

    const int result = app.exec();
    closeLogFile();
    ProtobufHelper::shutdown();
    return result;
}
