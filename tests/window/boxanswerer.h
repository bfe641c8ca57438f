#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

// Stands in for the user: records every message box as it is shown (even one that something
// else closes at once) and answers each that becomes the active modal widget with the
// configured button. A hook can run while a box is open.
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
    // Runs once, from the event loop of the next box, before that box is answered. Boxes the
    // hook opens are answered too.
    void whileNextBoxIsOpen(std::function<void()> hook) { m_Hook = std::move(hook); }

    QList<Box> boxes;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void poll();

    QMessageBox::StandardButton m_Answer;
    std::function<void()> m_Hook;
    QList<QPointer<QMessageBox>> m_Seen;
    QPointer<QMessageBox> m_HoldOpen; // its hook has not returned yet
    QTimer m_Timer;
};
