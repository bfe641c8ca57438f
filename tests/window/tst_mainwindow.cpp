// The main window in the offscreen platform: widget tree, banner text, hand-over at the end of
// a run, close handling, restart question and its marker files, second instance, translation.
#include "boxanswerer.h"
#include "buildsettings.h"
#include "configuration.h"
#include "mainwindow.h"
#include "singleinstancechecker.h"
#include "testroottask.h"
#include "updateinidata.h"
#include "updateengine.h"
#include "urlclicklabel.h"

#include <QApplication>
#include <QDesktopServices>
#include <QImageReader>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTranslator>
#include <QVBoxLayout>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

QStringList s_Log; // debug lines of the code under test

void captureMessages(QtMsgType, const QMessageLogContext &, const QString &text)
{
    s_Log << text;
}

bool logHas(const QString &text)
{
    for (const QString &line : qAsConst(s_Log))
        if (line.contains(text))
            return true;
    return false;
}

void writeFile(const QString &path, const QByteArray &content, bool executable = false)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
    file.write(content);
    file.close();
    if (executable)
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Receives what a UrlClickLabel asks the desktop to open.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls << url; }
};

const char *const BLOCK_VERSION = "<div style=\"font-weight:bold;font-size:large\">";
const char *const BLOCK_CHANNEL = "<div style=\"margin-top:0.2em\">";
const char *const BLOCK_STEP = "<div style=\"margin-top:0.2em;font-style:italic\">";

// Runs the application's event loop, as the program does, after calling start from it; returns
// the loop's exit code, or -1 when it did not end within the time-out. (A plain QEventLoop would
// not do: once exit() was called, every later QEventLoop returns at once until exec() resets it.)
int runEventLoop(std::function<void()> start, int timeout = 10000)
{
    QTimer::singleShot(0, qApp, std::move(start));
    QTimer safety;
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    safety.start(timeout);
    return QApplication::exec();
}

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void widgetTree();
    void centredOnPrimaryScreen();
    void logoIsSquareAfterShow();
    void labelsOpenProductWebsite();
    void versionLabel_data();
    void versionLabel();
    void germanTranslation();
    void engineProgress_data();
    void engineProgress();
    void engineErrorIsLoggedAndShown();
    void fatalErrorsEndWithTheirCode_data();
    void fatalErrorsEndWithTheirCode();
    void detailsShowsLastLine();
    void closeBeforeStart();
    void handOverAtEnd_data();
    void handOverAtEnd();
    void restartQuestion_data();
    void restartQuestion();
    void unwritableMarkerIsReported();
    void markersDeletedOnlyInUpdaterRun_data();
    void markersDeletedOnlyInUpdaterRun();
    void secondInstanceRaisesWindow();
    void successfulRunHandsOver();
    void failedRunIsReported();
    void repeatedCancelReportShowsOneBox();
    void closeDuringRun_data();
    void closeDuringRun();

private:
    // A configuration parsed from the arguments that follow the program name.
    void makeWindow(const QStringList &arguments, const QByteArray &channelIni = QByteArray());
    // The same with an engine whose run plays the given script.
    void makeWindowWithRun(const QStringList &arguments, TestRootTask::Script script);
    void startRun();
    UpdateEngine *engine() const { return m_Window->findChild<UpdateEngine *>(); }
    template <typename T> T *widget(const char *name) const
    {
        return m_Window->findChild<T *>(QLatin1String(name));
    }

    std::unique_ptr<QTemporaryDir> m_Sandbox;
    QString m_TempPath; // what QDir::tempPath() returns during a test
    std::unique_ptr<Configuration> m_Config;
    std::unique_ptr<MainWindow> m_Window;
};

void tst_MainWindow::initTestCase()
{
    qInstallMessageHandler(captureMessages);
}

void tst_MainWindow::init()
{
    qunsetenv("TMPDIR");
    m_Sandbox = std::make_unique<QTemporaryDir>();
    QVERIFY(m_Sandbox->isValid());
    for (const char *dir : {"config", "tmp", "install", "session"})
        QVERIFY(QDir(m_Sandbox->path()).mkdir(QLatin1String(dir)));
    m_TempPath = m_Sandbox->filePath(QStringLiteral("tmp"));
    qputenv("TMPDIR", m_TempPath.toUtf8());
    qputenv("VLR_CONFIG_DIR", m_Sandbox->filePath(QStringLiteral("config")).toUtf8());
    s_Log.clear();
}

void tst_MainWindow::cleanup()
{
    m_Window.reset();
    m_Config.reset();
    // A started engine records its session next to the program.
    QFile::remove(UpdateIniData::iniPath());
    qunsetenv("TMPDIR");
    m_Sandbox.reset();
}

void tst_MainWindow::makeWindow(const QStringList &arguments, const QByteArray &channelIni)
{
    if (!channelIni.isEmpty())
        writeFile(m_Sandbox->filePath(QStringLiteral("config/update.ini")), channelIni);
    m_Config = std::make_unique<Configuration>();
    m_Window = std::make_unique<MainWindow>(m_Config.get());
    QVERIFY(m_Config->parseCommandLineOptions(QStringList{QStringLiteral("update")} + arguments));
}

void tst_MainWindow::makeWindowWithRun(const QStringList &arguments, TestRootTask::Script script)
{
    m_Config = std::make_unique<Configuration>();
    auto *engine = new TestEngine(m_Config.get(), [script](UpdateEngine *parent) {
        return new TestRootTask(script, parent, 1.0);
    });
    m_Window = std::make_unique<MainWindow>(m_Config.get(), engine);
    QVERIFY(m_Config->parseCommandLineOptions(QStringList{QStringLiteral("update")} + arguments));
    QVERIFY(m_Config->isReady());
    m_Window->updateVersionLabel();
    m_Window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_Window.get()));
}

void tst_MainWindow::startRun()
{
    QVERIFY(QMetaObject::invokeMethod(m_Window.get(), "onStartUpdate"));
    QVERIFY(engine()->isActive());
}

void tst_MainWindow::widgetTree()
{
    makeWindow({QStringLiteral("update_linux_amd64"), QStringLiteral("5000")});
    QCOMPARE(m_Window->objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(m_Window->windowTitle(), QStringLiteral("Velloran Client Update"));

    auto *layout = qobject_cast<QVBoxLayout *>(m_Window->layout());
    QVERIFY(layout);
    QCOMPARE(layout->objectName(), QStringLiteral("verticalLayout"));
    QCOMPARE(layout->sizeConstraint(), QLayout::SetFixedSize);
    QCOMPARE(layout->count(), 5);
    QCOMPARE(layout->itemAt(0)->layout()->objectName(), QStringLiteral("horizontalLayout_2"));
    QCOMPARE(layout->itemAt(1)->widget()->objectName(), QStringLiteral("banner"));
    QCOMPARE(layout->itemAt(2)->widget()->objectName(), QStringLiteral("totalProgressBar"));
    QCOMPARE(layout->itemAt(3)->widget()->objectName(), QStringLiteral("outputTextEdit"));
    QCOMPARE(layout->itemAt(4)->layout()->objectName(), QStringLiteral("horizontalLayout_3"));

    auto *logo = widget<UrlClickLabel>("velloranLabel");
    auto *banner = widget<UrlClickLabel>("banner");
    QVERIFY(logo && banner && widget<QLabel>("versionLabel"));
    QCOMPARE(logo->pixmap(Qt::ReturnByValue).size(), QSize(1024, 1024));
    QCOMPARE(banner->pixmap(Qt::ReturnByValue).size(), QSize(468, 60));
    QVERIFY(logo->hasScaledContents() && banner->hasScaledContents());
    QCOMPARE(logo->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(banner->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(banner->minimumSize(), QSize(468, 60));
    QVERIFY(logo->isHidden());

    // Not shown anywhere, but it must be a drawable vector logo (Qt's SVG image plug-in).
    QImageReader svg(QStringLiteral(":/velloran_logo_minimal"));
    QCOMPARE(svg.format(), QByteArray("svg"));
    const QImage drawn = svg.read();
    QVERIFY2(!drawn.isNull(), qPrintable(svg.errorString()));
    QCOMPARE(drawn.size(), QSize(1024, 1024));

    auto *bar = widget<QProgressBar>("totalProgressBar");
    QVERIFY(bar);
    QCOMPARE(bar->maximum(), 1000);
    QCOMPARE(bar->value(), 0);
    QCOMPARE(bar->alignment(), Qt::AlignCenter);

    auto *log = widget<QTextEdit>("outputTextEdit");
    QVERIFY(log);
    QCOMPARE(log->maximumHeight(), 100);
    QVERIFY(log->tabChangesFocus());
    QCOMPARE(log->lineWrapMode(), QTextEdit::NoWrap);
    QVERIFY(log->isReadOnly());
    QVERIFY(log->isHidden());

    auto *button = widget<QPushButton>("detailsButton");
    QVERIFY(button);
    QVERIFY(button->isCheckable());
    QCOMPARE(button->text(), QStringLiteral("Details"));
    QWidget *next = log->nextInFocusChain(); // the next widget that Tab can reach
    while (next && !(next->focusPolicy() & Qt::TabFocus))
        next = next->nextInFocusChain();
    QCOMPARE(next, button);

    auto *copyright = widget<QLabel>("copyrightLabel");
    QVERIFY(copyright);
    QVERIFY(copyright->openExternalLinks());
    QVERIFY(copyright->text().contains(QStringLiteral("href=\"%1\"").arg(BuildSettings::productWebsite())));
}

void tst_MainWindow::centredOnPrimaryScreen()
{
    makeWindow({QStringLiteral("update_linux_amd64"), QStringLiteral("5000")});
    // The form's size at construction, integer halves, the screen's origin not added.
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(m_Window->pos(), QPoint(available.width() / 2 - 486 / 2, available.height() / 2 - 298 / 2));
}

void tst_MainWindow::logoIsSquareAfterShow()
{
    makeWindow({QStringLiteral("--nouser"), QStringLiteral("update_linux_amd64"), QStringLiteral("5000"),
                QStringLiteral("3.6.2")});
    m_Window->updateVersionLabel();
    m_Window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_Window.get()));
    auto *logo = widget<UrlClickLabel>("velloranLabel");
    const int side = widget<QLabel>("versionLabel")->height();
    QVERIFY(logo->isVisible());
    QVERIFY(side > 0);
    QCOMPARE(logo->maximumSize(), QSize(side, side));
    QTRY_COMPARE(logo->size(), QSize(side, side));
}

void tst_MainWindow::labelsOpenProductWebsite()
{
    makeWindow({QStringLiteral("update_linux_amd64"), QStringLiteral("5000")});
    m_Window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_Window.get()));
    UrlCatcher catcher;
    const QUrl website(BuildSettings::productWebsite());
    QDesktopServices::setUrlHandler(website.scheme(), &catcher, "open");
    QTest::mouseClick(widget<UrlClickLabel>("banner"), Qt::LeftButton);
    QTest::mouseClick(widget<UrlClickLabel>("velloranLabel"), Qt::RightButton); // any button
    QDesktopServices::unsetUrlHandler(website.scheme());
    QCOMPARE(catcher.urls, (QList<QUrl>{website, website}));
}

void tst_MainWindow::versionLabel_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("channelIni");
    QTest::addColumn<QString>("expected");

    const QString step1 = QLatin1String(BLOCK_STEP) + QStringLiteral("Step one: Updating updater</div>");
    const QString step2 = QLatin1String(BLOCK_STEP) + QStringLiteral("Step two: Updating Velloran client</div>");
    auto channel = [](const char *name) {
        return QLatin1String(BLOCK_CHANNEL) + QStringLiteral("You are currently on <strong>%1 channel</strong>.</div>")
                                                  .arg(QLatin1String(name));
    };
    const QString version = QLatin1String(BLOCK_VERSION) + QStringLiteral("Update to Velloran 3.6.2</div>");

    QTest::newRow("updater run with version string")
        << QStringList{"--nouser", "update_linux_amd64", "5000", "3.6.2"} << QByteArray("[Channel]\nbeta=true\n")
        << version + channel("Beta") + step1;
    QTest::newRow("updater run without version string")
        << QStringList{"update_linux_amd64", "5000"} << QByteArray() << channel("Stable") + step1;
    QTest::newRow("client run with version string")
        << QStringList{"--clientupdate", "client_linux_amd64", "5000", "3.6.2"}
        << QByteArray("[Channel]\nalpha=http://alpha.example/files\nalphaRevno=77\n") << version + channel("Alpha") + step2;
    QTest::newRow("version string is text, not markup")
        << QStringList{"--nouser", "update_linux_amd64", "5000", "3.7 <b>beta</b>"} << QByteArray()
        << QLatin1String(BLOCK_VERSION) + QStringLiteral("Update to Velloran 3.7 &lt;b&gt;beta&lt;/b&gt;</div>")
               + channel("Stable") + step1;
    QTest::newRow("client run, '#' for no version string")
        << QStringList{"--clientupdate", "client_linux_amd64", "5000", "#"} << QByteArray() << channel("Stable") + step2;
}

void tst_MainWindow::versionLabel()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, channelIni);
    QFETCH(QString, expected);

    makeWindow(arguments, channelIni);
    m_Window->updateVersionLabel();
    QCOMPARE(widget<QLabel>("versionLabel")->text(), expected);
}

void tst_MainWindow::germanTranslation()
{
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(VLR_TRANSLATIONS_DIR "/update_de")));
    QCoreApplication::installTranslator(&translator);
    makeWindow({QStringLiteral("--clientupdate"), QStringLiteral("client_linux_amd64"), QStringLiteral("5000"),
                QStringLiteral("3.6.2")});
    m_Window->updateVersionLabel();
    const QString title = m_Window->windowTitle();
    const QString label = widget<QLabel>("versionLabel")->text();
    BoxAnswerer answerer;
    emit engine()->error(QStringLiteral("disk on fire"));
    QCoreApplication::removeTranslator(&translator);

    QCOMPARE(title, QStringLiteral("Velloran-Client-Aktualisierung"));
    QVERIFY2(label.contains(QStringLiteral("Aktualisierung auf Velloran 3.6.2")), qPrintable(label));
    QVERIFY2(label.contains(QStringLiteral("Schritt zwei: Aktualisierung des Velloran-Clients")), qPrintable(label));
    QCOMPARE(answerer.boxes.count(), 1);
    QCOMPARE(answerer.boxes.at(0).title, QStringLiteral("Fehler")); // the "QObject" context
}

void tst_MainWindow::engineProgress_data()
{
    QTest::addColumn<QList<double>>("reports");
    QTest::addColumn<int>("shown");

    QTest::newRow("truncated to an integer") << QList<double>{0.4567} << 456;
    QTest::newRow("full") << QList<double>{0.2, 1.0} << 1000;
    // A client run's total reaches 1.2: the bar ignores values above its maximum.
    QTest::newRow("beyond the maximum keeps the last value") << QList<double>{0.9991, 1.1, 1.2} << 999;
}

void tst_MainWindow::engineProgress()
{
    QFETCH(QList<double>, reports);
    QFETCH(int, shown);
    makeWindow({QStringLiteral("update_linux_amd64"), QStringLiteral("5000")});
    for (double report : reports)
        emit engine()->updateProgress(report);
    QCOMPARE(widget<QProgressBar>("totalProgressBar")->value(), shown);
}

void tst_MainWindow::engineErrorIsLoggedAndShown()
{
    makeWindow({QStringLiteral("update_linux_amd64"), QStringLiteral("5000")});
    BoxAnswerer answerer;
    emit engine()->message(QStringLiteral("first line"));
    emit engine()->error(QStringLiteral("disk on fire"));
    QCOMPARE(widget<QTextEdit>("outputTextEdit")->toPlainText(), QStringLiteral("first line\ndisk on fire"));
    QCOMPARE(answerer.boxes.count(), 1);
    QCOMPARE(answerer.boxes.at(0).title, QStringLiteral("Error"));
    QCOMPARE(answerer.boxes.at(0).text, QStringLiteral("disk on fire"));
    QCOMPARE(answerer.boxes.at(0).icon, QMessageBox::Critical);
    QCOMPARE(answerer.boxes.at(0).buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

void tst_MainWindow::fatalErrorsEndWithTheirCode_data()
{
    QTest::addColumn<bool>("fromEngine");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("engine") << true << 2;
    QTest::newRow("configuration") << false << 1;
}

void tst_MainWindow::fatalErrorsEndWithTheirCode()
{
    QFETCH(bool, fromEngine);
    QFETCH(int, exitCode);
    makeWindow({QStringLiteral("update_linux_amd64"), QStringLiteral("5000")});
    BoxAnswerer answerer;
    const int result = runEventLoop([&] {
        if (fromEngine)
            emit engine()->fatalError(QStringLiteral("it is over"));
        else
            emit m_Config->fatalError(QStringLiteral("it is over"));
    });
    QCOMPARE(result, exitCode);
    QCOMPARE(answerer.boxes.count(), 1);
    QCOMPARE(answerer.boxes.at(0).title, QStringLiteral("Error"));
    QCOMPARE(answerer.boxes.at(0).text, QStringLiteral("it is over"));
}

void tst_MainWindow::detailsShowsLastLine()
{
    makeWindow({QStringLiteral("update_linux_amd64"), QStringLiteral("5000")});
    m_Window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_Window.get()));
    for (int i = 0; i < 60; ++i)
        emit engine()->message(QStringLiteral("line %1").arg(i));
    auto *log = widget<QTextEdit>("outputTextEdit");
    auto *button = widget<QPushButton>("detailsButton");
    QVERIFY(log->isHidden());

    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(log->isVisible());
    QScrollBar *bar = log->verticalScrollBar();
    QTRY_VERIFY(bar->maximum() > 0);
    QTRY_COMPARE(bar->value(), bar->maximum());

    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(log->isHidden());
}

void tst_MainWindow::closeBeforeStart()
{
    makeWindow({QStringLiteral("update_linux_amd64"), QStringLiteral("5000")});
    m_Window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_Window.get()));
    BoxAnswerer answerer;
    bool closed = false;
    // The last window closed ends the program with 0.
    QCOMPARE(runEventLoop([&] { closed = m_Window->close(); }), 0);
    QVERIFY(closed);
    QVERIFY(!m_Window->isVisible());
    QVERIFY(answerer.boxes.isEmpty());
}

void tst_MainWindow::handOverAtEnd_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("program"); // placed in the "install" or "session" directory
    QTest::addColumn<QStringList>("expected"); // working directory, then the arguments

    QTest::newRow("client run starts the client")
        << QStringList{"--clientupdate", "client_linux_amd64", "5000", "3.6.2"}
        << QStringLiteral("install/vlrclient_runscript.sh") << QStringList{"install"};
    QTest::newRow("updater run starts the new updater")
        << QStringList{"--nouser", "update_linux_amd64", "5000", "3.6.2"} << QStringLiteral("session/update")
        << QStringList{"session", "--clientupdate", "client_linux_amd64", "5000", "3.6.2"};
    QTest::newRow("updater run without version string passes '#'")
        << QStringList{"update_linux_amd64", "5000"} << QStringLiteral("session/update")
        << QStringList{"session", "--clientupdate", "client_linux_amd64", "5000", "#"};
    QTest::newRow("missing new updater: nothing started, window still closes")
        << QStringList{"update_linux_amd64", "5000"} << QString() << QStringList();
}

void tst_MainWindow::handOverAtEnd()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, program);
    QFETCH(QStringList, expected);

    makeWindow(arguments);
    const QString install = m_Sandbox->filePath(QStringLiteral("install"));
    const QString session = m_Sandbox->filePath(QStringLiteral("session"));
    QVERIFY(m_Config->initalizeStart(session, install));
    const QString record = m_Sandbox->filePath(QStringLiteral("ran.txt"));
    if (!program.isEmpty()) {
        // Records its working directory and arguments.
        writeFile(m_Sandbox->filePath(program),
                  "#!/bin/sh\n{ pwd; for a in \"$@\"; do echo \"$a\"; done; } > \"" + record.toUtf8() + ".part\"\n"
                  "mv \"" + record.toUtf8() + ".part\" \"" + record.toUtf8() + "\"\n",
                  true);
    }
    m_Window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_Window.get()));

    QElapsedTimer clock;
    clock.start();
    // The window closes after the hand-over, which ends the program with 0.
    QCOMPARE(runEventLoop([this] { QMetaObject::invokeMethod(m_Window.get(), "onUpdateFinished"); }), 0);
    QVERIFY(clock.elapsed() >= 1000); // a second passes before the hand-over
    QVERIFY(!m_Window->isVisible());

    if (program.isEmpty()) {
        QVERIFY(logHas(QStringLiteral("Failed to find \"%1/update\"").arg(session)));
        QTest::qWait(200);
        QVERIFY(!QFile::exists(record));
        return;
    }
    QTRY_VERIFY(QFile::exists(record));
    QStringList lines = readLines(record);
    QVERIFY(!lines.isEmpty());
    QCOMPARE(QDir(lines.takeFirst()).canonicalPath(), QDir(m_Sandbox->filePath(expected.takeFirst())).canonicalPath());
    QCOMPARE(lines, expected);
}

void tst_MainWindow::restartQuestion_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("marker");
    QTest::addColumn<QString>("notWritten");
    QTest::newRow("yes") << int(QMessageBox::Yes) << QStringLiteral("vlr_force_update")
                         << QStringLiteral("vlr_force_update_check");
    QTest::newRow("no") << int(QMessageBox::No) << QStringLiteral("vlr_force_update_check")
                        << QStringLiteral("vlr_force_update");
}

void tst_MainWindow::restartQuestion()
{
    QFETCH(int, answer);
    QFETCH(QString, marker);
    QFETCH(QString, notWritten);

    makeWindow({QStringLiteral("--clientupdate"), QStringLiteral("client_linux_amd64"), QStringLiteral("5000"),
                QStringLiteral("3.6.2")});
    const QString install = m_Sandbox->filePath(QStringLiteral("install"));
    QVERIFY(m_Config->initalizeStart(m_Sandbox->filePath(QStringLiteral("session")), install));
    writeFile(install + QStringLiteral("/vlrclient_runscript.sh"), "#!/bin/sh\ntouch \"$0.ran\"\n", true);
    m_Window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_Window.get()));

    BoxAnswerer answerer{QMessageBox::StandardButton(answer)};
    QCOMPARE(runEventLoop([this] { m_Window->onRebootWithConfirmation(); }), 0);

    QCOMPARE(answerer.boxes.count(), 1);
    QCOMPARE(answerer.boxes.at(0).title, QStringLiteral("Confirm reboot"));
    QVERIFY(answerer.boxes.at(0).text.contains(QStringLiteral("Do you want to reboot now?")));
    QCOMPARE(answerer.boxes.at(0).buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(answerer.boxes.at(0).defaultButton, QMessageBox::Yes);
    const QFileInfo written(m_TempPath + QLatin1Char('/') + marker);
    QVERIFY(written.exists());
    QCOMPARE(written.size(), 0);
    QVERIFY(!QFile::exists(m_TempPath + QLatin1Char('/') + notWritten));

    // The run's success after the question must not start the client: the question ends it.
    QVERIFY(QMetaObject::invokeMethod(m_Window.get(), "onUpdateFinished"));
    QTest::qWait(1500);
    QVERIFY(m_Window->isVisible());
    QVERIFY(!QFile::exists(install + QStringLiteral("/vlrclient_runscript.sh.ran")));
}

void tst_MainWindow::unwritableMarkerIsReported()
{
    makeWindow({QStringLiteral("update_linux_amd64"), QStringLiteral("5000")});
    // A file where the temp directory should be: nothing can be created below it.
    const QString notADirectory = m_Sandbox->filePath(QStringLiteral("not-a-directory"));
    writeFile(notADirectory, "x");
    qputenv("TMPDIR", notADirectory.toUtf8());
    m_Window->write_force_update_file(QStringLiteral("vlr_force_update"));
    QCOMPARE(widget<QTextEdit>("outputTextEdit")->toPlainText(), QStringLiteral("Failed to store force update notice"));
    QVERIFY(logHas(QStringLiteral("Failed to store force update notice")));
}

void tst_MainWindow::markersDeletedOnlyInUpdaterRun_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("deleted");
    QTest::newRow("updater run") << QStringList{"update_linux_amd64", "5000"} << true;
    QTest::newRow("client run") << QStringList{"--clientupdate", "client_linux_amd64", "5000", "#"} << false;
}

void tst_MainWindow::markersDeletedOnlyInUpdaterRun()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, deleted);
    makeWindow(arguments);
    const QStringList markers{m_TempPath + QStringLiteral("/vlr_force_update"),
                              m_TempPath + QStringLiteral("/vlr_force_update_check")};
    for (const QString &marker : markers)
        writeFile(marker, QByteArray());
    m_Window->delete_force_update_files();
    for (const QString &marker : markers)
        QCOMPARE(QFile::exists(marker), !deleted);
    m_Window->delete_force_update_files(); // missing files are fine
}

void tst_MainWindow::secondInstanceRaisesWindow()
{
    makeWindow({QStringLiteral("update_linux_amd64"), QStringLiteral("5000")});
    m_Window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_Window.get()));
    QWidget other;
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));

    // Texts other than "#" are ignored.
    other.activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), &other);
    QVERIFY(SingleInstanceChecker::sendToRunningInstance(QStringLiteral("hello")));
    QTest::qWait(300);
    QCOMPARE(QApplication::activeWindow(), &other);

    QVERIFY(SingleInstanceChecker::sendToRunningInstance(QStringLiteral("#")));
    QTRY_COMPARE(QApplication::activeWindow(), m_Window.get());
}

void tst_MainWindow::successfulRunHandsOver()
{
    // A client run whose client script is missing: nothing is started, the window closes.
    makeWindowWithRun({"--clientupdate", "client_linux_amd64", "5000", "3.6.2"}, TestRootTask::Script::FINISH);
    BoxAnswerer answerer;
    QCOMPARE(runEventLoop([this] { startRun(); }), 0);
    QVERIFY(!m_Window->isVisible());
    QCOMPARE(widget<QProgressBar>("totalProgressBar")->value(), 1000);
    const QString log = widget<QTextEdit>("outputTextEdit")->toPlainText();
    QVERIFY2(log.contains(QStringLiteral("Test run started")), qPrintable(log));
    QVERIFY2(log.contains(QStringLiteral("Update successfully finished")), qPrintable(log));
    QVERIFY(logHas(QStringLiteral("startVlrClient")));
    QVERIFY(answerer.boxes.isEmpty());
}

void tst_MainWindow::failedRunIsReported()
{
    makeWindowWithRun({"update_linux_amd64", "5000"}, TestRootTask::Script::FAIL);
    BoxAnswerer answerer;
    startRun();
    QTRY_COMPARE(answerer.boxes.count(), 2);
    QCOMPARE(answerer.boxes.at(0).title, QStringLiteral("Error"));
    QCOMPARE(answerer.boxes.at(0).text, QStringLiteral("Download of update failed"));
    QCOMPARE(answerer.boxes.at(1).title, QStringLiteral("Update"));
    QCOMPARE(answerer.boxes.at(1).text, QStringLiteral("Update cancelled. Push \"Details\" to check reasons."));
    QCOMPARE(answerer.boxes.at(1).icon, QMessageBox::Critical);
    QTRY_VERIFY(!QApplication::activeModalWidget());

    QCOMPARE(widget<QProgressBar>("totalProgressBar")->value(), 0);
    QVERIFY(widget<QTextEdit>("outputTextEdit")->toPlainText().endsWith(QStringLiteral("Update cancelled")));
    QVERIFY(!engine()->isActive());
    QVERIFY(m_Window->isVisible());

    // The run is not started again, neither by the configuration nor by the start timer.
    s_Log.clear();
    emit m_Config->ready();
    QVERIFY(!engine()->isActive());
    QCOMPARE(s_Log.value(0), QStringLiteral("onStartUpdate false true"));

    // Closing now needs no question.
    QVERIFY(m_Window->close());
    QCOMPARE(answerer.boxes.count(), 2);
}

void tst_MainWindow::repeatedCancelReportShowsOneBox()
{
    makeWindowWithRun({"update_linux_amd64", "5000"}, TestRootTask::Script::FAIL);
    BoxAnswerer answerer;
    bool reportedAgain = false;
    // The first box is the run's error; while the second, "Update cancelled", is open, the
    // cancellation is reported once more.
    answerer.whileNextBoxIsOpen([&] {
        answerer.whileNextBoxIsOpen([&] {
            emit engine()->updateCanceled();
            reportedAgain = true;
        });
    });
    startRun();
    QTRY_VERIFY(reportedAgain);
    QTRY_VERIFY(!QApplication::activeModalWidget());
    QTest::qWait(100);
    QCOMPARE(answerer.boxes.count(), 2);
    QCOMPARE(answerer.boxes.at(1).title, QStringLiteral("Update"));
    QCOMPARE(widget<QTextEdit>("outputTextEdit")->toPlainText().count(QStringLiteral("Update cancelled\n")), 1);
}

void tst_MainWindow::closeDuringRun_data()
{
    QTest::addColumn<bool>("abort");
    QTest::newRow("no: the run goes on") << false;
    QTest::newRow("yes: the run is cancelled and the program ends") << true;
}

void tst_MainWindow::closeDuringRun()
{
    QFETCH(bool, abort);
    makeWindowWithRun({"update_linux_amd64", "5000"}, TestRootTask::Script::WAIT_FOR_CANCEL);
    startRun();
    BoxAnswerer answerer(abort ? QMessageBox::Yes : QMessageBox::No);

    if (!abort) {
        QVERIFY(!m_Window->close());
        QVERIFY(m_Window->isVisible());
        QVERIFY(engine()->isActive());
        QCOMPARE(answerer.boxes.count(), 1);
        engine()->cancelUpdate(); // let the run end
        QTRY_VERIFY(!engine()->isActive());
    } else {
        bool closed = true;
        bool closedAgain = true;
        QCOMPARE(runEventLoop([&] {
                     closed = m_Window->close();
                     // A second attempt while the cancellation is under way: no second question.
                     closedAgain = m_Window->close();
                 }),
                 0);
        QVERIFY(!closed);
        QVERIFY(!closedAgain);
        QCOMPARE(answerer.boxes.count(), 1); // no "Update cancelled" box on the way out
        QVERIFY(widget<QTextEdit>("outputTextEdit")->toPlainText().contains(QStringLiteral("User aborted update")));
    }
    const BoxAnswerer::Box question = answerer.boxes.at(0);
    QCOMPARE(question.title, QStringLiteral("Question"));
    QCOMPARE(question.text, QStringLiteral("<p>Update in progress.</p><p>Are you sure you want to abort?</p>"));
    QCOMPARE(question.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(question.defaultButton, QMessageBox::NoButton);
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
