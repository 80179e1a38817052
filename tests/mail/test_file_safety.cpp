// Saves on a full disk, file modes and planted links: every file the program
// writes either holds the new content or stays exactly as it was.

#include "core/AppState.h"
#include "core/Fleet.h"
#include "core/SettingsStore.h"
#include "mail/SmtpPassword.h"
#include "platform/ProfileFile.h"
#include "platform/SafeFile.h"
#include "support/ProjectorRecords.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

constexpr qint64 Page = 4096;
const QString FillerName = QStringLiteral("filler");

QByteArray contentOf(const QString& path) {
    return ReadRegularFile(path).value_or(QByteArray());
}

mode_t modeOf(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// A small tmpfs of its own, so that a test can leave any number of pages
// free. Unmounted at the end.
class SmallDisk {
  public:
    explicit SmallDisk(qint64 bytes) {
        const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0700";
        m_mounted = m_dir.isValid() && ::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(),
                                               "tmpfs", 0, options.constData()) == 0;
    }
    ~SmallDisk() {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return m_mounted; }
    QString file(const QString& name) const { return m_dir.filePath(name); }

    qint64 freeBytes() const {
        struct statvfs info {};
        ::statvfs(QFile::encodeName(m_dir.path()).constData(), &info);
        return qint64(info.f_bavail) * qint64(info.f_frsize);
    }
    // Fills the disk until only `pages` pages are free.
    bool leaveFree(qint64 pages) {
        QFile::remove(file(FillerName));
        const qint64 fill = freeBytes() - pages * Page;
        if (fill < 0)
            return false;
        QFile filler(file(FillerName));
        if (!filler.open(QIODevice::WriteOnly))
            return false;
        const QByteArray block(Page, 'f');
        for (qint64 n = 0; n < fill / Page; ++n)
            filler.write(block);
        filler.close();
        return freeBytes() == pages * Page;
    }
    QStringList entries() const {
        return QDir(m_dir.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

  private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
};

// A fleet of 256 projectors in eight groups, every name carrying `edition`.
void makeFleet(AppState& state, const QString& edition) {
    ResetAllProjectors(state);
    ResetTree(state);
    int group = 0;
    for (int n = 1; n <= MaxProjectors; ++n) {
        if ((n - 1) % 32 == 0)
            group =
                AddGroupNode(state, QStringLiteral("Hall %1 %2").arg(n / 32).arg(edition), nullptr);
        AddProjector(state, group,
                     LanProjector(QStringLiteral("Projector %1 %2").arg(n).arg(edition),
                                  QStringLiteral("192.0.2.%1").arg(n % 250 + 1),
                                  QStringLiteral("10023"))
                         .model(QStringLiteral("VX-5100N")));
    }
}

enum class Saved { Settings, Schedule, Password };

// One kind of file the program saves: how it is saved and how its new
// content is recognised.
class SaveSubject {
  public:
    SaveSubject(Saved kind, const SmallDisk& disk)
        : m_kind(kind), m_disk(disk), m_store(disk.file(QStringLiteral("Norvik3.conf"))) {
        m_state->SettingsFile = m_store.filePath();
        m_store.setHealth(&m_state->Health);
    }

    // Whether a failing save is reported in the health; nothing for the
    // files whose savers have no state at hand.
    std::optional<bool> saveFailingRaised() const {
        if (m_kind != Saved::Settings)
            return std::nullopt;
        return m_state->Health.isActive(HealthCondition::SaveFailing);
    }

    QString path() const {
        switch (m_kind) {
        case Saved::Settings:
            return m_disk.file(QStringLiteral("Norvik3.conf"));
        case Saved::Schedule:
            return m_disk.file(QStringLiteral("default.sch"));
        case Saved::Password:
            break;
        }
        return SmtpPassword::filePath(*m_state);
    }

    bool save(const QString& edition) {
        switch (m_kind) {
        case Saved::Settings: {
            makeFleet(*m_state, edition);
            return m_store.SaveTreeAndProjectors(*m_state);
        }
        case Saved::Schedule: {
            QStringList entries;
            for (int minute = 0; minute < 24 * 60; minute += 5)
                entries << QStringLiteral("%1%2=%3 POWER ON")
                               .arg(minute / 60, 2, 10, QLatin1Char('0'))
                               .arg(minute % 60, 2, 10, QLatin1Char('0'))
                               .arg(edition);
            return ProfileFile(path()).writeSection(QStringLiteral("Monday"), entries);
        }
        case Saved::Password:
            return SmtpPassword::writeFile(path(), QStringLiteral("secret-") + edition);
        }
        return false;
    }

    // The file holds the whole of that edition's save.
    bool holds(const QString& edition) const {
        switch (m_kind) {
        case Saved::Settings: {
            const QSettings s(path(), QSettings::IniFormat);
            return s.value(QStringLiteral("PJInfo/1/ProjectorName")).toString() ==
                       QStringLiteral("Projector 1 ") + edition &&
                   s.value(QStringLiteral("PJInfo/256/ProjectorName")).toString() ==
                       QStringLiteral("Projector 256 ") + edition &&
                   s.value(QStringLiteral("PJTree/Node Count")).toInt() == 1 + 8 + MaxProjectors &&
                   s.value(QStringLiteral("PJTree/265/Text")).toString() ==
                       QStringLiteral("Projector 256 ") + edition;
        }
        case Saved::Schedule: {
            const ProfileData data = ProfileFile(path()).read();
            return data.readString(QStringLiteral("Monday"), QStringLiteral("0000")) ==
                       edition + QStringLiteral(" POWER ON") &&
                   data.readString(QStringLiteral("Monday"), QStringLiteral("2355")) ==
                       edition + QStringLiteral(" POWER ON");
        }
        case Saved::Password:
            return SmtpPassword::readFile(path()) == QStringLiteral("secret-") + edition;
        }
        return false;
    }

  private:
    Saved m_kind;
    const SmallDisk& m_disk;
    std::unique_ptr<AppState> m_state = std::make_unique<AppState>();
    SettingsStore m_store;
};

} // namespace

Q_DECLARE_METATYPE(Saved)

class TestFileSafety : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        // Each failed save is logged; the test checks the outcome instead.
        QLoggingCategory::setFilterRules(QStringLiteral("norvik.settings.warning=false\n"
                                                        "norvik.mail.warning=false"));
    }

    void fullDiskNeverCutsAFile_data() {
        QTest::addColumn<Saved>("kind");
        QTest::newRow("settings of 256 projectors") << Saved::Settings;
        QTest::newRow("schedule file") << Saved::Schedule;
        QTest::newRow("password file") << Saved::Password;
    }

    // At every fill level, from no page free to more than a save needs.
    void fullDiskNeverCutsAFile() {
        QFETCH(Saved, kind);
        SmallDisk disk(4 * 1024 * 1024);
        if (!disk.mounted())
            QSKIP("a tmpfs cannot be mounted here");
        SaveSubject subject(kind, disk);
        QVERIFY(subject.save(QStringLiteral("old")));
        QVERIFY(subject.holds(QStringLiteral("old")));
        const QStringList before = disk.entries();
        const qint64 size = QFileInfo(subject.path()).size();
        // A save needs room for its new copy next to the old file, and the
        // settings save for a second one that QSettings writes.
        const qint64 enough = 3 * (size / Page + 1) + 2;
        int failed = 0;
        for (qint64 pages = 0; pages <= enough; ++pages) {
            const QByteArray old = contentOf(subject.path());
            QVERIFY(disk.leaveFree(pages));
            const QString edition = QStringLiteral("new%1").arg(pages);
            const bool saved = subject.save(edition);
            if (saved) {
                QVERIFY2(subject.holds(edition),
                         qPrintable(QStringLiteral("%1 free pages").arg(pages)));
            } else {
                ++failed;
                QVERIFY2(contentOf(subject.path()) == old,
                         qPrintable(QStringLiteral("%1 free pages").arg(pages)));
            }
            if (const auto raised = subject.saveFailingRaised())
                QCOMPARE(*raised, !saved);
            QFile::remove(disk.file(FillerName));
            // Nothing of a failed save is left behind.
            QCOMPARE(disk.entries(), before);
        }
        // The levels did reach both outcomes.
        QVERIFY(failed > 0);
        QVERIFY(subject.save(QStringLiteral("last")));
        QVERIFY(subject.holds(QStringLiteral("last")));
    }

    void settingsFileModes_data() {
        QTest::addColumn<int>("existingMode"); // 0: no file yet
        QTest::addColumn<int>("expectedMode");
        QTest::newRow("new file") << 0 << 0600;
        QTest::newRow("owner only") << 0600 << 0600;
        QTest::newRow("shared with the group") << 0640 << 0640;
        QTest::newRow("read-only for all") << 0444 << 0444;
    }

    // New files are the owner's alone; a save keeps the mode set on a file.
    void settingsFileModes() {
        QFETCH(int, existingMode);
        QFETCH(int, expectedMode);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Norvik3.conf"));
        if (existingMode != 0) {
            QVERIFY(WriteFileAtomically(path, "[Setting]\nOld=1\n").ok);
            QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode_t(existingMode)), 0);
        }
        const ::mode_t oldMask = ::umask(022);
        const bool saved =
            SettingsStore(path).writeSetting(QStringLiteral("Edition"), QStringLiteral("2"));
        ::umask(oldMask);
        QVERIFY(saved);
        QCOMPARE(int(modeOf(path)), expectedMode);
        QCOMPARE(QSettings(path, QSettings::IniFormat).value(QStringLiteral("Setting/Edition")),
                 QVariant(QStringLiteral("2")));
    }

    void passwordFileNeverWritesThroughALink_data() {
        QTest::addColumn<QString>("linkName");
        QTest::newRow("link as the password file") << QStringLiteral("Norvik3.smtp-password");
        QTest::newRow("link as its old temporary name")
            << QStringLiteral("Norvik3.smtp-password.new");
    }

    // A link planted in the folder must never get the password written to
    // its target.
    void passwordFileNeverWritesThroughALink() {
        QFETCH(QString, linkName);
        QTemporaryDir dir;
        const QString victim = dir.filePath(QStringLiteral("victim"));
        QVERIFY(WriteFileAtomically(victim, "untouched\n", 0644).ok);
        QVERIFY(QFile::link(victim, dir.filePath(linkName)));
        const QString path = dir.filePath(QStringLiteral("Norvik3.smtp-password"));
        const bool saved = SmtpPassword::writeFile(path, QStringLiteral("hunter2"));
        QCOMPARE(contentOf(victim), QByteArray("untouched\n"));
        if (saved) {
            QCOMPARE(int(modeOf(path)), 0600);
            QCOMPARE(SmtpPassword::readFile(path), QStringLiteral("hunter2"));
        }
    }

    // A password file that others could read is replaced by one they cannot.
    void passwordFileOpenToOthersIsMadePrivate() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Norvik3.smtp-password"));
        QVERIFY(WriteFileAtomically(path, "old\n", 0644).ok);
        bool refused = false;
        QCOMPARE(SmtpPassword::readFile(path, &refused), std::nullopt);
        QVERIFY(refused);
        QVERIFY(SmtpPassword::writeFile(path, QStringLiteral("new")));
        QCOMPARE(int(modeOf(path)), 0600);
        QCOMPARE(SmtpPassword::readFile(path, &refused), QStringLiteral("new"));
    }

    // A save that cannot read the file it rewrites leaves it alone rather
    // than replacing it by the one section it writes.
    void unreadableProfileFileIsNotReplaced() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("default.sch"));
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        QString error;
        QVERIFY(!ProfileFile(path).writeSection(QStringLiteral("Monday"),
                                                {QStringLiteral("0800=POWER ON")}, &error));
        QVERIFY2(error.contains(path) && error.contains(QStringLiteral("not a regular file")),
                 qPrintable(error));
        QVERIFY(!QFileInfo(path).isFile());
        QCOMPARE(ProfileFile(path).read(&error).readSection(QStringLiteral("Monday")),
                 QStringList());
        QVERIFY(error.contains(QStringLiteral("not a regular file")));
    }
};

QTEST_GUILESS_MAIN(TestFileSafety)
#include "test_file_safety.moc"
