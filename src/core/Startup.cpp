#include "core/Startup.h"

#include "comm/CommandTable.h"
#include "core/AppState.h"
#include "core/Formatting.h"
#include "log/LogFileMaker.h"
#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSaveFile>
#include <QTemporaryDir>

ProgramSession::ProgramSession(AppState& state) : m_state(state), m_store(SettingsFilePath()) {}

ProgramSession::~ProgramSession() = default;

bool ProgramSession::start(const QStringList& arguments) {
    m_state.ProgramFolder = ProgramFolderPath();
    m_state.SettingsFile = m_store.filePath();
    QDir().mkpath(m_state.ProgramFolder);
    if (!m_instance.acquire(m_state.ProgramFolder))
        return false;

    createLogs(arguments);
    createFolders();
    m_state.StartDate = m_state.clock.today();
    m_state.CalendarMonth = QDate(m_state.StartDate.year(), m_state.StartDate.month(), 1);
    m_state.MacAcquiring = false;
    makeTempFolder();
    BuildCommandTable();
    installSampleModelFile();
    takeLocale();
    m_store.LoadConfiguration(m_state);
    return true;
}

void ProgramSession::createLogs(const QStringList& arguments) {
    // Exactly the one word, case-sensitive, and nothing else.
    m_state.CommLogEnabled = arguments == QStringList{QStringLiteral("DON")} ? 1 : 0;
    m_state.CommLog.reset();
    if (m_state.CommLogEnabled) {
        m_state.CommLog =
            std::make_unique<LogFileMaker>(m_state.ProgramFolder + QStringLiteral("/Log/"));
        m_state.CommLog->setClock(&m_state.clock);
    }
    m_state.MailLog =
        std::make_unique<LogFileMaker>(m_state.ProgramFolder + QStringLiteral("/MailLog/"));
    m_state.MailLog->setClock(&m_state.clock);
}

void ProgramSession::createFolders() {
    // A failure shows later as a schedule folder without files.
    QDir().mkpath(m_state.ProgramFolder + QStringLiteral("/Schedule"));
}

void ProgramSession::makeTempFolder() {
    m_tempDir =
        std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/norvik3-XXXXXX"));
    if (m_tempDir->isValid()) {
        QFile::setPermissions(m_tempDir->path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_state.TempFolder = m_tempDir->path();
    } else {
        // Still private to this user: a folder inside the program folder.
        m_state.TempFolder = m_state.ProgramFolder + QStringLiteral("/tmp");
        QDir().mkpath(m_state.TempFolder);
    }
    m_state.PingFile = m_state.TempFolder + QStringLiteral("/Ping.txt");
    m_state.ArpFile = m_state.TempFolder + QStringLiteral("/Arp.txt");
}

void ProgramSession::installSampleModelFile() const {
    const QString target = m_state.ProgramFolder + QStringLiteral("/PJModel.txt");
    if (QFile::exists(target))
        return;
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        return;
    const QByteArray sample = SampleModelFile();
    if (file.write(sample) == sample.size())
        file.commit();
    else
        file.cancelWriting();
}

void ProgramSession::takeLocale() {
    const QLocale locale = QLocale::system();
    m_state.LocaleId = locale.name();
    m_state.ShortTimeFormat = LocaleShortTimeFormat(locale);
}

QByteArray SampleModelFile() {
    QFile file(QStringLiteral(":/norvik3/PJModel.txt"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
