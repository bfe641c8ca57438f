#include "boxanswerer.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QApplication>

BoxAnswerer::BoxAnswerer(QMessageBox::StandardButton answer)
    : m_Answer(answer)
{
    connect(&m_Timer, &QTimer::timeout, this, &BoxAnswerer::poll);
    m_Timer.start(20);
}

void BoxAnswerer::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || box == m_Current)
        return;
    m_Current = box;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    if (box->defaultButton())
        defaultButton = box->standardButton(box->defaultButton());
    boxes.append({box->windowTitle(), box->text(), box->icon(), box->standardButtons(), defaultButton});

    if (m_Hook) {
        // The hook may open a nested box; forget this one so that a later poll handles that.
        auto hook = std::move(m_Hook);
        m_Hook = nullptr;
        hook();
    }
    if (QAbstractButton *button = box->button(m_Answer))
        button->click();
    else if (!box->buttons().isEmpty())
        box->buttons().first()->click();
}
