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

    // arguments: the command line after the program name. False when
    // another instance already runs with this program folder; the caller
    // then ends at once without a message.
    bool start(const QStringList& arguments);

    const SettingsStore& store() const { return m_store; }

  private:
    void createLogs(const QStringList& arguments);
    void createFolders();
    void makeTempFolder();
    void installSampleModelFile() const;
    void takeLocale();

    AppState& m_state;
    SingleInstance m_instance;
    std::unique_ptr<QTemporaryDir> m_tempDir;
    SettingsStore m_store;
};

// The program folder's sample PJModel.txt, shipped inside the program.
QByteArray SampleModelFile();
