#pragma once

#include <QObject>
#include <QString>

#include <optional>

struct AppState;

// The SMTP password. It is kept in the desktop's secret store when the
// program has one (AppState::Secrets, set by the window); otherwise (the
// headless service) and where none answers (a bare session) in the file
// Norvik3.smtp-password beside the settings file, whose first line is the
// password and which must be readable by its owner only (0600 or 0400).
// Never in the settings file.
//
// The secret store is asked in the background (its jobs are asynchronous);
// until it has answered, and when it has no entry, the file is read.
class SmtpPassword : public QObject {
    Q_OBJECT

  public:
    enum class Place { None, SecretStore, File };

    explicit SmtpPassword(AppState& state, QObject* parent = nullptr);

    // Asks the secret store again (after another part changed the password).
    void refresh();
    // The password for the next mail; empty when none is stored.
    QString password();
    // Where the password was found last.
    Place place() const { return m_place; }

    // Stores the password in the secret store, or in the file where there
    // is none or it fails; an empty one removes it from both. stored()
    // follows, at once without a secret store.
    void store(const QString& password);

    static QString filePath(const AppState& state);
    // The file's first line; nothing when it is missing, unreadable or open
    // to others (then `refused` is set).
    static std::optional<QString> readFile(const QString& path, bool* refused = nullptr);
    // Written to a new file with mode 0600 (created exclusively, never
    // through a link) that then replaces the old one; false, with the old
    // file as it was, when it cannot be written in full.
    static bool writeFile(const QString& path, const QString& password);

  signals:
    // After store(): whether the password is now kept, and where.
    void stored(SmtpPassword::Place place);
    // A secret store answer came in.
    void refreshed();

  private:
    AppState& m_state;
    bool m_inStore = false; // the secret store has an entry
    QString m_storeValue;
    Place m_place = Place::None;
    bool m_refusalLogged = false;
    bool m_storeWarned = false;
};
