#include "urlclicklabel.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

UrlClickLabel::UrlClickLabel(QWidget *parent)
    : QLabel(parent)
{
}

void UrlClickLabel::mousePressEvent(QMouseEvent *event)
{
    QDesktopServices::openUrl(QUrl(m_Url));
    event->accept();
}
