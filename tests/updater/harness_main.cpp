// The updater with a stand-in for the user: every message box is answered with its first
// button after it has been logged ("Harness closes box:" and its text).
#include "updaterapp.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDebug>
#include <QMessageBox>
#include <QTimer>

namespace {

void installBoxCloser()
{
    QTimer::singleShot(0, qApp, [] {
        auto *timer = new QTimer(qApp);
        QObject::connect(timer, &QTimer::timeout, [] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || box->buttons().isEmpty())
                return;
            qDebug() << "Harness closes box:" << box->text();
            box->buttons().first()->click();
        });
        timer->start(50);
    });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installBoxCloser)

int main(int argc, char *argv[])
{
    return runUpdater(argc, argv);
}
