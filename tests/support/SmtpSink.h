#pragma once

// A real SMTP server for tests: runs tests/support/smtp_sink.py (aiosmtpd) with
// /usr/bin/python3 on a free port of 127.0.0.1.
//
//   SmtpSink sink;              // or SmtpSink(SmtpSink::Refuse), SmtpSink(mode, options)
//   QVERIFY2(sink.isReady(), qPrintable(sink.errorString()));
//   ... send to sink.server() ("127.0.0.1:<port>") ...
//   QVERIFY(sink.waitForMails(1));
//   const ReceivedMail mail = sink.mails().first();
//
// Each received mail carries its envelope, its raw text and what Python's
// e-mail parser made of it (decoded headers, text body, attachments), so an
// encoding fault shows up as a wrong decoded value.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>

struct ReceivedAttachment {
    QString fileName;
    QByteArray data;
};

struct ReceivedMail {
    QString mailFrom;
    QStringList rcptTos;
    QString raw;
    QJsonObject headers; // lower-case name -> array of decoded values
    QString text;
    QList<ReceivedAttachment> attachments;
    QStringList defects;

    QStringList header(const QString& name) const {
        QStringList values;
        for (const auto& v : headers.value(name.toLower()).toArray())
            values << v.toString();
        return values;
    }
    bool hasHeader(const QString& name) const { return headers.contains(name.toLower()); }
};

class SmtpSink {
  public:
    enum Mode { Accept, Refuse, TempFail };

    // `options` are smtp_sink.py's options (refused recipients, TLS, login).
    explicit SmtpSink(Mode mode = Accept, const QStringList& options = {}) {
        const QString script =
            qEnvironmentVariable("NORVIK3_SOURCE_DIR") + QStringLiteral("/tests/support/smtp_sink.py");
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const QString modeName = mode == Accept   ? QStringLiteral("accept")
                                 : mode == Refuse ? QStringLiteral("refuse")
                                                  : QStringLiteral("tempfail");
        m_process.start(QStringLiteral("/usr/bin/python3"),
                        QStringList{script, m_folder.path(), modeName} + options);
        const QDeadlineTimer deadline(std::chrono::seconds(60));
        while (!deadline.hasExpired() && !m_process.canReadLine())
            m_process.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
        const QByteArray line = m_process.readLine().trimmed();
        if (line.startsWith("PORT "))
            m_port = quint16(line.mid(5).toUInt());
        else
            m_error = QStringLiteral("smtp_sink.py did not start: %1").arg(m_process.errorString());
    }

    ~SmtpSink() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    SmtpSink(const SmtpSink&) = delete;
    SmtpSink& operator=(const SmtpSink&) = delete;

    bool isReady() const { return m_port != 0; }
    QString errorString() const { return m_error; }
    quint16 port() const { return m_port; }
    QString server() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

    QList<ReceivedMail> mails() const {
        QList<ReceivedMail> out;
        const QDir dir(m_folder.path());
        for (const QString& name :
             dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
            QFile file(dir.filePath(name));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QJsonObject o = QJsonDocument::fromJson(file.readAll()).object();
            ReceivedMail mail;
            mail.mailFrom = o.value(QStringLiteral("mail_from")).toString();
            for (const auto& r : o.value(QStringLiteral("rcpt_tos")).toArray())
                mail.rcptTos << r.toString();
            mail.raw = o.value(QStringLiteral("raw")).toString();
            mail.headers = o.value(QStringLiteral("headers")).toObject();
            mail.text = o.value(QStringLiteral("text")).toString();
            for (const auto& a : o.value(QStringLiteral("attachments")).toArray()) {
                const QJsonObject ao = a.toObject();
                mail.attachments.append(
                    {ao.value(QStringLiteral("filename")).toString(),
                     QByteArray::fromBase64(
                         ao.value(QStringLiteral("data")).toString().toLatin1())});
            }
            for (const auto& d : o.value(QStringLiteral("defects")).toArray())
                mail.defects << d.toString();
            out.append(mail);
        }
        return out;
    }

    // The server writes a mail before it answers 250, so after a successful
    // send the file is normally there already; the wait covers slow disks.
    bool waitForMails(int count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30)) const {
        const QDeadlineTimer deadline(timeout);
        while (mails().size() < count) {
            if (deadline.hasExpired())
                return false;
            QThread::msleep(20);
        }
        return true;
    }

  private:
    QTemporaryDir m_folder;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};
