#include "boxanswerer.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QApplication>
#include <QEvent>

BoxAnswerer::BoxAnswerer(QMessageBox::StandardButton answer)
    : m_Answer(answer)
{
    connect(&m_Timer, &QTimer::timeout, this, &BoxAnswerer::poll);
    m_Timer.start(20);
    qApp->installEventFilter(this);
}

bool BoxAnswerer::eventFilter(QObject *watched, QEvent *event)
{
    auto *box = qobject_cast<QMessageBox *>(watched);
    if (event->type() != QEvent::Show || !box || m_Seen.contains(box))
        return false;
    m_Seen.append(box);
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    if (box->defaultButton())
        defaultButton = box->standardButton(box->defaultButton());
    boxes.append({box->windowTitle(), box->text(), box->icon(), box->standardButtons(), defaultButton});
    if (m_Hook) {
        // Run from a timer of its own, once the box's loop runs, so that the poll timer can
        // answer boxes the hook opens.
        m_HoldOpen = box;
        QTimer::singleShot(0, this, [this, hook = std::move(m_Hook)] {
            hook();
            m_HoldOpen = nullptr;
        });
        m_Hook = nullptr;
    }
    return false;
}

void BoxAnswerer::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || box == m_HoldOpen)
        return;
    if (QAbstractButton *button = box->button(m_Answer))
        button->click();
    else if (!box->buttons().isEmpty())
        box->buttons().first()->click();
}
