#pragma once

#include <QMap>
#include <QString>

#include <functional>

class HealthReport;
class QSettings;
struct AppState;
struct MailSettings;

// The per-user settings store: one INI file with the groups PJInfo, PJTree,
// MailSetting and Setting. Every value is a string. Saves replace the file
// atomically and only once the new copy is known to be whole; a save that
// fails (a full disk) returns false and leaves the file as it was.
class SettingsStore {
  public:
    explicit SettingsStore(QString filePath);

    const QString& filePath() const { return m_filePath; }
    // Where failed saves are reported (SaveFailing, cleared by the next
    // good save); none by default.
    void setHealth(HealthReport* health) { m_health = health; }
    // Why the last save failed; empty after a good one.
    const QString& lastSaveError() const { return m_lastSaveError; }

    // Projector table, mail and timing settings, then PJModel.txt from the
    // program folder. The projector slots are reset to defaults first.
    // Projectors without an id (or with one an earlier projector has) get a
    // new one, saved at once.
    void LoadConfiguration(AppState& state) const;
    // The tree and NodeProjector; a missing or empty tree gives the root alone.
    void LoadTree(AppState& state) const;
    // Replace PJInfo or PJTree wholesale with the current table or tree.
    bool SaveProjectors(const AppState& state) const;
    bool SaveTree(const AppState& state) const;
    // Both in one atomic replacement of the file, so that a crash leaves the
    // tree and the table of the same change: for every change that touches
    // both (adding, editing or deleting a projector).
    bool SaveTreeAndProjectors(const AppState& state) const;

    // Single values of MailSetting and Setting. Texts are written as given,
    // also when empty, so a cleared text stays cleared.
    bool writeMailText(const QString& name, const QString& text) const;
    bool writeMailFlag(const QString& name, bool value) const;
    bool writeMailNumber(const QString& name, qint32 value) const;
    bool writeSetting(const QString& name, const QString& text) const;
    // The MAC address of projector n alone (PJInfo/<n>/MACAddress).
    bool writeMacAddress(int projector, const QString& mac) const;
    // The main window's layout under Window (the tree's width, the overview's
    // sort and column widths), every value in one write.
    bool writeWindowLayout(const QMap<QString, QString>& values) const;
    // Every value that the mail settings dialog edits, in one write.
    bool saveMailSettings(const MailSettings& mail) const;

    // Device of serial port number n: the value SerialPorts/COM<n> when
    // present, otherwise /dev/ttyS<n-1>.
    QString serialDevice(int comPort) const;

  private:
    bool save(const std::function<void(QSettings&)>& change) const;
    static void writeProjectors(QSettings& s, const AppState& state);
    static void writeTree(QSettings& s, const AppState& state);
    static void writeMail(QSettings& s, const MailSettings& mail);

    QString m_filePath;
    HealthReport* m_health = nullptr;
    mutable QString m_lastSaveError;
};
