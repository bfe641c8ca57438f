#pragma once

#include <QLabel>
#include <QString>

// A label that opens a web page when clicked.
class UrlClickLabel : public QLabel
{
    Q_OBJECT

public:
    explicit UrlClickLabel(QWidget *parent = nullptr);

    void setUrl(const QString &url) { m_Url = url; }
    QString url() const { return m_Url; }

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    QString m_Url;
};
