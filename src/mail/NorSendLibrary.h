#pragma once

#include <QLibrary>
#include <QString>
#include <QStringList>

#include <cstdint>

struct BSmtpSettings;
struct BSmtpReport;

// The texts of one mail, in the order the mail library takes them, and how
// to reach and log in to the server.
struct MailMessage {
    QString server;
    QString recipients;
    QString from;
    QString subject;
    QString body;
    QString attachment;
    QString user;
    QString password;
    QString security; // "", "none", "starttls" or "tls"
    QString port;
    QString caFile;
};

// What became of one mail.
struct MailResult {
    bool sent = false;
    int reason = 0;         // the library's reason code, 0 when sent
    QString reasonText;     // "login refused", ...
    int replyCode = 0;      // the server's reply behind the reason
    bool permanent = false; // the server refused this very message for good
    bool attachmentSkipped = false;
    QStringList refused; // recipients the server refused
};

// The mail library "norsend", loaded by name at the first mail and kept.
// It is looked for beside the program first, then on the system's search
// path. A library or export that cannot be loaded makes that send fail
// (result 0); the next send tries again.
class NorSendLibrary {
  public:
    NorSendLibrary() = default;
    // Loads exactly this file instead of searching (tests).
    explicit NorSendLibrary(QString libraryPath) : m_libraryPath(std::move(libraryPath)) {}

    NorSendLibrary(const NorSendLibrary&) = delete;
    NorSendLibrary& operator=(const NorSendLibrary&) = delete;

    // NORSEND_SendMailEx with the texts as UTF-8.
    MailResult Send(const MailMessage& message);

    bool isLoaded() const { return m_send != nullptr; }
    // Why the last load failed; empty after a successful one.
    QString errorString() const { return m_error; }

  private:
    using SendFunction = int32_t (*)(const char*, const char*, const char*, const char*,
                                     const char*, const char*);
    using SendExFunction = int32_t (*)(const char*, const char*, const char*, const char*,
                                       const char*, const char*, const BSmtpSettings*,
                                       BSmtpReport*);
    bool load();
    bool loadFrom(const QString& fileName);

    QString m_libraryPath;
    QLibrary m_library;
    SendFunction m_send = nullptr;
    SendExFunction m_sendEx = nullptr;
    QString m_error;
};
