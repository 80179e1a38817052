#include "core/Startup.h"

#include "core/AppState.h"
#include "core/Formatting.h"
#include "core/SettingsValues.h"
#include "log/LogFileMaker.h"
#include "platform/OpenFiles.h"
#include "platform/Paths.h"
#include "platform/SafeFile.h"
#include "platform/SettingsFileSave.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

namespace {

bool existsOrIsLink(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 || errno != ENOENT;
}

} // namespace

QString UnreadableBecause(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return errno == ENOENT ? QString() : QString::fromLocal8Bit(std::strerror(errno));
    if (S_ISDIR(info.st_mode))
        return QStringLiteral("it is a folder");
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("it is not a regular file");
    if (info.st_size > MaxReadBytes)
        return QStringLiteral("it is larger than %1 MiB").arg(MaxReadBytes / (1024 * 1024));
    return {};
}

ProgramSession::ProgramSession(AppState& state) : m_state(state), m_store(SettingsFilePath()) {}

ProgramSession::~ProgramSession() = default;

bool ProgramSession::start(const QStringList& arguments) {
    // Room for the endpoint's connections beside the projectors' sockets.
    RaiseOpenFilesLimit();
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
    m_store.setHealth(&m_state.Health);
    removeInterruptedSaves();

    createLogs(arguments);
    createFolders();
    m_state.StartDate = m_state.clock.today();
    m_state.CalendarMonth = QDate(m_state.StartDate.year(), m_state.StartDate.month(), 1);
    m_state.MacAcquiring = false;
    makeTempFolder();
    installSampleModelFile();
    checkProfileFiles();
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

// A settings file that cannot be made would lose every change, and one that
// is not a regular file (a FIFO, a device, a folder, a link) can be neither
// read nor replaced by a save: the run stops and says why. One that exists
// but cannot be written lets the program run, and each failed save is
// reported as it happens. It is created readable by its owner only: it may
// hold the status endpoint's token.
bool ProgramSession::settingsFileUsable() {
    const QString path = m_store.filePath();
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) == 0) {
        if (const QString why = UnreadableBecause(path); !why.isEmpty())
            return fail(Outcome::Failed,
                        QStringLiteral("the settings file %1 cannot be used: %2").arg(path, why));
        if (S_ISLNK(info.st_mode))
            return fail(Outcome::Failed,
                        QStringLiteral("the settings file %1 cannot be used: it is a link, which "
                                       "saves would not follow; put the file itself there")
                            .arg(path));
        return true;
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return fail(Outcome::Failed,
                    QStringLiteral("cannot create the folder of the settings file %1").arg(path));
    if (const FileOutcome created = WriteFileAtomically(path, {}, 0600); !created)
        return fail(Outcome::Failed, created.error);
    return true;
}

// A save that was cut off leaves its staging copies beside the file, under
// names that only our saves make; nothing else is touched.
void ProgramSession::removeInterruptedSaves() const {
    const QFileInfo settings(m_store.filePath());
    const auto removeLeftovers = [](const QString& folderPath, const auto& isLeftover) {
        QDir folder(folderPath);
        for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
            if (isLeftover(name))
                folder.remove(name);
        }
    };
    removeLeftovers(settings.absolutePath(), [&settings](const QString& name) {
        return IsSettingsSaveLeftover(name, settings.fileName()) ||
               IsTemporaryOf(name, QStringLiteral("Norvik3.smtp-password"));
    });
    removeLeftovers(m_state.ProgramFolder, [](const QString& name) {
        return IsTemporaryOf(name, QStringLiteral("PJModel.txt"));
    });
    removeLeftovers(m_state.ProgramFolder + QStringLiteral("/Schedule"), [](const QString& name) {
        const qsizetype mark = name.indexOf(QLatin1String(TemporaryMark));
        return mark > 1 && IsTemporaryOf(name, name.left(mark - 1));
    });
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
    ApplyLogLimits(m_state, m_store.filePath());
}

void ApplyLogLimits(AppState& state, const QString& settingsFile) {
    const qint64 bound = storedLogMaxBytes(QSettings(settingsFile, QSettings::IniFormat));
    for (LogFileMaker* log : {state.CommLog.get(), state.MailLog.get()}) {
        if (log)
            log->setMaxFolderBytes(bound);
    }
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

void ProgramSession::installSampleModelFile() {
    const QString target = m_state.ProgramFolder + QStringLiteral("/PJModel.txt");
    if (existsOrIsLink(target))
        return;
    if (const FileOutcome installed = WriteFileAtomically(target, SampleModelFile(), 0644);
        !installed)
        m_warnings
            << QStringLiteral("the sample model file was not installed: %1").arg(installed.error);
}

// The model file and the schedule files are read only when they are regular
// files: a FIFO would hang the start, a device fill the memory. The program
// runs without what they hold, and says so.
void ProgramSession::checkProfileFiles() {
    const auto check = [this](const QString& path, const QString& what) {
        if (const QString why = UnreadableBecause(path); !why.isEmpty())
            m_warnings << QStringLiteral("the %1 %2 is not read: %3").arg(what, path, why);
    };
    check(m_state.ProgramFolder + QStringLiteral("/PJModel.txt"), QStringLiteral("model file"));
    const QDir schedules(m_state.ProgramFolder + QStringLiteral("/Schedule"));
    for (const QString& name : schedules.entryList({QStringLiteral("*.sch")},
                                                   QDir::AllEntries | QDir::System | QDir::Hidden))
        check(schedules.filePath(name), QStringLiteral("schedule file"));
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
