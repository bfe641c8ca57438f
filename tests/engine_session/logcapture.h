#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// Collects the text of every diagnostic line while it exists (one at a time per process).
class LogCapture
{
public:
    LogCapture() : m_Previous(qInstallMessageHandler(&LogCapture::handle)) { s_Lines.clear(); }
    ~LogCapture() { qInstallMessageHandler(m_Previous); }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const { return s_Lines; }
    bool contains(const QString &line) const { return s_Lines.contains(line); }
    QString text() const { return s_Lines.join(QLatin1Char('\n')); }

private:
    static void handle(QtMsgType, const QMessageLogContext &, const QString &text) { s_Lines << text; }

    QtMessageHandler m_Previous;
    static inline QStringList s_Lines;
};
