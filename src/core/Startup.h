#pragma once

#include "core/SettingsStore.h"
#include "platform/SingleInstance.h"

#include <QStringList>

#include <memory>

class QTemporaryDir;
struct AppState;

// The start of a run up to and including loading the configuration: the
// single-instance lock, the command word, the log writers, the folders, the
// private temporary folder, the locale values and the settings store. It
// owns the lock and the temporary folder for as long as the run lasts.
class ProgramSession {
  public:
    explicit ProgramSession(AppState& state);
    ~ProgramSession();
    ProgramSession(const ProgramSession&) = delete;
    ProgramSession& operator=(const ProgramSession&) = delete;

    enum class Outcome {
        Started,
        AlreadyRunning, // another program holds this program folder
        Failed,         // the folder or the settings file cannot be made or used
    };

    // arguments: the command line after the program name. False when the
    // run cannot go on; outcome() and problem() then say why.
    bool start(const QStringList& arguments);
    Outcome outcome() const { return m_outcome; }
    // Failed: one line naming what could not be created. AlreadyRunning: the
    // application name of the program that holds the folder, when known.
    QString problem() const { return m_problem; }

    // Problems found at start that do not stop the run (a model or schedule
    // file that cannot be read), one line each naming the file and why.
    const QStringList& warnings() const { return m_warnings; }

    const SettingsStore& store() const { return m_store; }

  private:
    bool fail(Outcome outcome, const QString& problem);
    bool settingsFileUsable();
    void removeInterruptedSaves() const;
    void createLogs(const QStringList& arguments);
    void createFolders();
    void makeTempFolder();
    void installSampleModelFile();
    void checkProfileFiles();
    void takeLocale();

    AppState& m_state;
    SingleInstance m_instance;
    std::unique_ptr<QTemporaryDir> m_tempDir;
    SettingsStore m_store;
    Outcome m_outcome = Outcome::Failed;
    QString m_problem;
    QStringList m_warnings;
};

// Bounds the state's log folders by Setting/LogMaxMiB of the settings file;
// at start and again at a reload.
void ApplyLogLimits(AppState& state, const QString& settingsFile);

// Why a file the program reads at start cannot be read as one, without
// opening it: empty when it is missing or a regular file of a size it reads.
QString UnreadableBecause(const QString& path);

// The program folder's sample PJModel.txt, shipped inside the program.
QByteArray SampleModelFile();
