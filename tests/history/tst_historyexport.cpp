// norvik3d --history-export run as a child over a real history file: the
// rows it writes, --since, and its exit codes; the times it reads; and an
// event's CSV row read back field by field.

#include "core/CsvText.h"
#include "history/EventCsv.h"
#include "history/HistoryTime.h"
#include "support/HistoryFixture.h"

#include "support/TestPrograms.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int Events = 2300; // three pages

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestHistoryExport : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<SampleHistory> m_history;

    QString historyFile() const { return m_home.filePath(QStringLiteral("History.sqlite")); }

    Run run(const QString& home, const QStringList& arguments) {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("NORVIK3_HOME"), home);
        environment.insert(QStringLiteral("TZ"), QStringLiteral("Europe/Berlin"));
        child.setProcessEnvironment(environment);
        child.start(TestBinary(QStringLiteral("norvik3d")), arguments);
        if (!child.waitForFinished(60000))
            return {};
        return {child.exitCode(), child.readAllStandardOutput(), child.readAllStandardError()};
    }

  private slots:
    void initTestCase() {
        m_history = std::make_unique<SampleHistory>(
            historyFile(), Events,
            QStringList{QStringLiteral("9d3f4c2e-1a6b-4f0e-8c7d-000000000001"),
                        QStringLiteral("9d3f4c2e-1a6b-4f0e-8c7d-000000000002")});
        QVERIFY2(m_history->problem.isEmpty(), qPrintable(m_history->problem));
    }

    void writesEveryRowNewestFirst_data() {
        QTest::addColumn<QStringList>("since");
        QTest::addColumn<qint64>("fromMs");
        QTest::addRow("everything") << QStringList() << qint64(0);
        // 2026-05-28 is the first day: midnight in Berlin is before every event.
        QTest::addRow("since the first day") << QStringList{"--since", "2026-05-28"} << qint64(0);
        QTest::addRow("since a local time")
            << QStringList{"--since", "2026-05-29T02:00"} << qint64(1'780'012'800'000);
        QTest::addRow("since the next day")
            << QStringList{"--since", "2026-05-29"} << qint64(1'780'005'600'000);
    }

    void writesEveryRowNewestFirst() {
        QFETCH(QStringList, since);
        QFETCH(qint64, fromMs);
        const QString file = m_home.filePath(QStringLiteral("out.csv"));
        QFile::remove(file);
        const Run result = run(m_home.path(), QStringList{"--history-export", file} + since);
        QCOMPARE(result.exitCode, 0);
        QByteArray expected = EventCsvHeader();
        const QTimeZone berlin("Europe/Berlin");
        int rows = 0;
        for (const HistoryEvent& e : m_history->newestFirst())
            if (e.timeMs >= fromMs) {
                expected += EventCsvLine(e, berlin);
                ++rows;
            }
        QVERIFY(rows > 0);
        const QByteArray written = ReadAll(file);
        QCOMPARE(written.size(), expected.size());
        QVERIFY(written == expected);
        QVERIFY2(result.out.contains(QByteArray::number(rows) + " events written"),
                 result.out.constData());
        QCOMPARE(ReadCsv(written).records.size(), rows + 1);
    }

    void refusesWithOneLine_data() {
        QTest::addColumn<QString>("history");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("says");
        QTest::addRow("no file name")
            << "sample" << QStringList{"--history-export"} << 2 << QByteArray("needs a file name");
        QTest::addRow("an option for a file name")
            << "sample" << QStringList{"--history-export", "--since", "2026-05-01"} << 2
            << QByteArray("needs a file name");
        QTest::addRow("--since without a date")
            << "sample" << QStringList{"--history-export", "OUT", "--since"} << 2
            << QByteArray("--since needs a date");
        QTest::addRow("--since not a date")
            << "sample" << QStringList{"--history-export", "OUT", "--since", "May"} << 2
            << QByteArray("\"May\"");
        QTest::addRow("another argument")
            << "sample" << QStringList{"--history-export", "OUT", "--no-schedule"} << 2
            << QByteArray("no other arguments");
        QTest::addRow("no history") << "none" << QStringList{"--history-export", "OUT"} << 1
                                    << QByteArray("does not exist");
        QTest::addRow("a damaged history") << "damaged" << QStringList{"--history-export", "OUT"}
                                           << 1 << QByteArray("no history to export");
        QTest::addRow("a history without its events")
            << "no events" << QStringList{"--history-export", "OUT"} << 1
            << QByteArray("cannot be read");
        QTest::addRow("a folder that is not there")
            << "sample" << QStringList{"--history-export", "/nonexistent/folder/out.csv"} << 1
            << QByteArray("cannot write /nonexistent/folder/out.csv");
        QTest::addRow("a folder for a file")
            << "sample" << QStringList{"--history-export", "FOLDER"} << 1
            << QByteArray("cannot write");
    }

    void refusesWithOneLine() {
        QFETCH(QString, history);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, says);
        QTemporaryDir other;
        QString home = m_home.path();
        if (history != QLatin1String("sample")) {
            home = other.path();
            const QString file = other.filePath(QStringLiteral("History.sqlite"));
            if (history == QLatin1String("damaged")) {
                QFile damaged(file);
                QVERIFY(damaged.open(QIODevice::WriteOnly));
                damaged.write(QByteArray(4096, '\x5a'));
            } else if (history == QLatin1String("no events")) {
                QVERIFY(SampleHistory(file, 3, {QStringLiteral("x")}).problem.isEmpty());
                QCOMPARE(DropEvents(file), QString());
            }
        }
        const QString out = other.filePath(QStringLiteral("out.csv"));
        arguments.replaceInStrings(QRegularExpression("^OUT$"), out);
        arguments.replaceInStrings(QRegularExpression("^FOLDER$"), other.path());
        const Run result = run(home, arguments);
        QCOMPARE(result.exitCode, exitCode);
        const QByteArray firstLine = result.err.split('\n').first();
        QVERIFY2(firstLine.startsWith("norvik3d: ") && firstLine.contains(says),
                 result.err.constData());
        if (exitCode == 1)
            QCOMPARE(result.err.count('\n'), 1);
        QVERIFY(!QFile::exists(out));
        // A reader leaves a damaged file where it is, for the program.
        if (history == QLatin1String("damaged"))
            QCOMPARE(QDir(other.path()).entryList({"History.sqlite*"}, QDir::Files),
                     QStringList{"History.sqlite"});
    }

    void readsTimes_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("ms"); // -1: refused
        QTest::addRow("a date, local midnight") << "2026-01-15" << qint64(1'768'431'600'000);
        QTest::addRow("a summer date") << "2026-07-01" << qint64(1'782'856'800'000);
        QTest::addRow("local time") << "2026-01-15T08:30" << qint64(1'768'462'200'000);
        QTest::addRow("UTC") << "2026-01-15T08:30:00Z" << qint64(1'768'465'800'000);
        QTest::addRow("UTC with ms") << "2026-01-15T08:30:00.250Z" << qint64(1'768'465'800'250);
        QTest::addRow("an offset") << "2026-01-15T10:30:00+02:00" << qint64(1'768'465'800'000);
        QTest::addRow("blanks around") << " 2026-01-15 " << qint64(1'768'431'600'000);
        QTest::addRow("no month 13") << "2026-13-01" << qint64(-1);
        QTest::addRow("a time alone") << "08:30" << qint64(-1);
        QTest::addRow("words") << "yesterday" << qint64(-1);
        QTest::addRow("empty") << "" << qint64(-1);
        QTest::addRow("a space for the T") << "2026-01-15 08:30" << qint64(-1);
    }

    void readsTimes() {
        QFETCH(QString, text);
        QFETCH(qint64, ms);
        const std::optional<qint64> time = HistoryTimeFrom(text, QTimeZone("Europe/Berlin"));
        QCOMPARE(time.value_or(-1), ms);
        if (time)
            QCOMPARE(HistoryTimeFrom(HistoryTimeText(*time), QTimeZone::utc()), time);
    }

    void csvRowReadsBack() {
        HistoryEvent e;
        e.timeMs = 1'768'465'800'250;
        e.kind = EventKind::Command;
        e.projectorName = QStringLiteral("R204, \"east\"");
        e.groupName = QStringLiteral(" Main Hall ");
        e.projectorId = QStringLiteral("9d3f4c2e-1a6b-4f0e-8c7d-000000000001");
        e.value = 3;
        e.text = QStringLiteral("POWER OFF, then \"on\"");
        e.outcome = QStringLiteral("Completed");
        e.source = EventSource::Endpoint;
        e.client = QStringLiteral("ops");
        const CsvText csv = ReadCsv(EventCsvHeader() + EventCsvLine(e, QTimeZone("Europe/Berlin")));
        QVERIFY2(csv.problems.isEmpty(), qPrintable(csv.problems.value(0).text));
        QCOMPARE(csv.records.size(), 2);
        QCOMPARE(csv.records[0].fields.size(), csv.records[1].fields.size());
        QCOMPARE(csv.records[1].fields,
                 (QStringList{"2026-01-15T09:30:00+01:00", "command", e.groupName, e.projectorName,
                              e.projectorId, "3", "", e.text, e.outcome, "endpoint", "ops"}));
    }
};

QTEST_GUILESS_MAIN(TestHistoryExport)
#include "tst_historyexport.moc"
