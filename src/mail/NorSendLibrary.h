#pragma once

#include <QLibrary>
#include <QString>

#include <cstdint>

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

    // NORSEND_SendMail with the texts as UTF-8; 0 means not sent.
    qint32 SendMail(const QString& server, const QString& recipients, const QString& from,
                    const QString& subject, const QString& body, const QString& attachment);

    bool isLoaded() const { return m_send != nullptr; }
    // Why the last load failed; empty after a successful one.
    QString errorString() const { return m_error; }

private:
    using SendFunction = int32_t (*)(const char*, const char*, const char*, const char*,
                                     const char*, const char*);
    bool load();
    bool loadFrom(const QString& fileName);

    QString m_libraryPath;
    QLibrary m_library;
    SendFunction m_send = nullptr;
    QString m_error;
};
