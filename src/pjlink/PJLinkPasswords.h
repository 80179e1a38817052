#pragma once

#include <QFileSystemWatcher>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

struct AppState;
struct ProjectorInfo;

// The PJLink passwords, one per projector, keyed "ADDRESS:PORT". They are
// kept in the desktop's secret store; where none runs (the headless
// service, a bare session) in the file Norvik3.pjlink-passwords beside the
// settings file, one line "ADDRESS:PORT=password" per projector, so that an
// administrator can provision a fleet by writing it. The file must be
// readable by its owner only; one open to group or others is refused and
// the refusal raised as a health condition. Never in the settings file, a
// log, the status endpoint or a mail.
//
// Lookups come from memory: the file is read at start, when it changes on
// disk and at reload(); the secret store is asked in the background for
// every PJLink projector, and an entry it has wins over the file's.
class PJLinkPasswords : public QObject {
    Q_OBJECT

  public:
    enum class Place { None, SecretStore, File };
    Q_ENUM(Place)

    explicit PJLinkPasswords(AppState& state, QObject* parent = nullptr);

    // "ADDRESS:PORT" of a projector: the address trimmed and in lower case,
    // the port as a number (4352 when not set).
    static QString keyOf(const QString& address, const QString& port);
    static QString keyOf(const ProjectorInfo& info);

    // The password of a projector; empty for none.
    QString passwordFor(const QString& key) const;
    QString passwordOf(int projector) const;

    // Reads the file again and asks the secret store for every PJLink
    // projector of the table.
    void reload();
    // No secret store answer is outstanding.
    bool settled() const { return m_asking.isEmpty(); }

    // Keeps the password of the projector at address and port: in the
    // secret store, or in the file where that fails; an empty one removes
    // it from both. False at once for a password that cannot be stored (a
    // line break in it); stored() follows otherwise.
    bool store(const QString& address, const QString& port, const QString& password);

    static QString filePath(const AppState& state);

    struct FileContent {
        QHash<QString, QString> passwords;
        bool refused = false; // readable by group or others: not used
        QString error;        // why it could not be read; empty when it could
    };
    static FileContent readFile(const QString& path);
    // The text with the line of `key` replaced by `password`, or removed
    // when that is empty; every other line stays as it was.
    static QByteArray withPassword(const QByteArray& text, const QString& key,
                                   const QString& password);
    // Writes the file owner-only (0600), replacing the old one in one step.
    static bool writeFile(const QString& path, const QByteArray& text, QString* error);

  signals:
    // After store(): where the password of `key` is kept now.
    void stored(const QString& key, PJLinkPasswords::Place place);
    // The file was read again or a secret store answer came in.
    void refreshed();

  private:
    void readFileIfChanged();
    void readFileNow();
    void askSecretStore(const QString& key);
    bool hasSecretStore() const;
    void watch();
    bool storeInFile(const QString& key, const QString& password);

    AppState& m_state;
    QFileSystemWatcher m_watcher;
    QHash<QString, QString> m_file;
    QHash<QString, QString> m_secret; // entries the secret store has
    QSet<QString> m_asking;
    bool m_storeUnavailable = false;
    // What the file was when read last (its inode, size, time and mode), so
    // that a change elsewhere in its folder does not read it again.
    QByteArray m_fileStamp;
};
