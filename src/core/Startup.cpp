#include "core/Startup.h"

#include "comm/CommandTable.h"
#include "core/AppState.h"
#include "core/Formatting.h"
#include "log/LogFileMaker.h"
#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryDir>

ProgramSession::ProgramSession(AppState& state) : m_state(state), m_store(SettingsFilePath()) {}

ProgramSession::~ProgramSession() = default;

bool ProgramSession::start(const QStringList& arguments) {
    m_state.ProgramFolder = ProgramFolderPath();
    m_state.SettingsFile = m_store.filePath();
    if (!QDir().mkpath(m_state.ProgramFolder))
        return fail(
            Outcome::Failed,
            QStringLiteral("cannot create the program folder %1").arg(m_state.ProgramFolder));
    if (!m_instance.acquire(m_state.ProgramFolder)) {
        if (m_instance.outcome() == SingleInstance::Outcome::Held)
            return fail(Outcome::AlreadyRunning, m_instance.detail());
        return fail(Outcome::Failed, m_instance.detail());
    }
    if (!settingsFileUsable())
        return false;
    removeInterruptedSaves();

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
    m_outcome = Outcome::Started;
    return true;
}

bool ProgramSession::fail(Outcome outcome, const QString& problem) {
    m_outcome = outcome;
    m_problem = problem;
    return false;
}

// A settings file that cannot be made would lose every change; one that
// exists but cannot be written lets the program run, and each failed save is
// reported as it happens.
bool ProgramSession::settingsFileUsable() {
    const QString path = m_store.filePath();
    if (QFileInfo::exists(path))
        return true;
    QFile file(path);
    if (QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly))
        return true;
    return fail(
        Outcome::Failed,
        QStringLiteral("cannot create the settings file %1: %2").arg(path, file.errorString()));
}

// A save that was cut off leaves its new copy beside the settings file,
// named after it with six random characters appended.
void ProgramSession::removeInterruptedSaves() const {
    const QFileInfo settings(m_store.filePath());
    QDir folder = settings.absoluteDir();
    static const QRegularExpression copy(QStringLiteral("^\\.[A-Za-z0-9]{6}$"));
    const QString prefix = settings.fileName();
    for (const QString& name :
         folder.entryList({prefix + QStringLiteral(".??????")}, QDir::Files)) {
        if (copy.match(name.mid(prefix.size())).hasMatch())
            folder.remove(name);
    }
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
