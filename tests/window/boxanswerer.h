#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

// Stands in for the user: answers every message box that becomes the active modal widget with
// the configured button, after recording what it showed. A hook can run while a box is open.
class BoxAnswerer : public QObject
{
    Q_OBJECT

public:
    struct Box
    {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton;
    };

    explicit BoxAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok);

    void setAnswer(QMessageBox::StandardButton answer) { m_Answer = answer; }
    // Runs once, while the next box is open, before it is answered.
    void whileNextBoxIsOpen(std::function<void()> hook) { m_Hook = std::move(hook); }

    QList<Box> boxes;

private:
    void poll();

    QMessageBox::StandardButton m_Answer;
    std::function<void()> m_Hook;
    QPointer<QMessageBox> m_Current;
    QTimer m_Timer;
};
