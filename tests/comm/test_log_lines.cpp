// Every text written to a log stays one line, whatever a projector's name,
// address or an alert text holds: the escaping itself, the writer, and the
// communication log line of a real LAN connect.

#include "support/CommTestKit.h"

#include "comm/CommEngine.h"
#include "core/CommLogs.h"
#include "core/SettingsStore.h"
#include "log/LogFileMaker.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;

namespace {

// What a forger would append: a line that reads like a real reply.
const QString Forged = QStringLiteral("\r\n[2024/01/31 13:05:09],TCP-Recv(9):[1D][00][00]");
const QString ForgedEscaped =
    QStringLiteral("\\r\\n[2024/01/31 13:05:09],TCP-Recv(9):[1D][00][00]");

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The lines of a log file as written: each must end with CR LF, and no CR
// or LF may stand anywhere else.
QList<QByteArray> physicalLines(const QByteArray& bytes) {
    QList<QByteArray> lines = bytes.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}

} // namespace

class TestLogLines : public QObject {
    Q_OBJECT

  private slots:
    void escaping_data();
    void escaping();
    void writerWritesOneLinePerText();
    void projectorNameInTheCommunicationLog();
    void lanConnectToAnAddressHoldingCrLf();
};

void TestLogLines::escaping_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("written");
    const auto row = [](const char* name, const QString& text, const QString& written) {
        QTest::newRow(name) << text << written;
    };
    row("empty", QString(), QString());
    row("frame line", QStringLiteral("TCP-Recv(3):[1D][00][00]"),
        QStringLiteral("TCP-Recv(3):[1D][00][00]"));
    row("non-ASCII letters", QStringLiteral("Störung – Saal Ø 講堂 ✓ 🎥"),
        QStringLiteral("Störung – Saal Ø 講堂 ✓ 🎥"));
    row("CR LF TAB", QStringLiteral("a\r\nb\tc"), QStringLiteral("a\\r\\nb\\tc"));
    row("lone LF and CR", QStringLiteral("\nx\r"), QStringLiteral("\\nx\\r"));
    row("other C0 and DEL", QStringLiteral("\x00\x01\x1B[2J\x1F\x7F"),
        QStringLiteral("\\x00\\x01\\x1B[2J\\x1F\\x7F"));
    row("C1 and line separators", QStringLiteral("a\u0085b\u009Bc\u2028d\u2029"),
        QStringLiteral("a\\u0085b\\u009Bc\\u2028d\\u2029"));
    row("backslash doubled", QStringLiteral("C:\\PJ\\new"), QStringLiteral("C:\\\\PJ\\\\new"));
    // A typed backslash-n cannot pass for an escaped line feed.
    row("typed escape", QStringLiteral("\\n") + QLatin1Char('\n'), QStringLiteral("\\\\n\\n"));
    row("forged reply", QStringLiteral("Hall A") + Forged,
        QStringLiteral("Hall A") + ForgedEscaped);
}

void TestLogLines::escaping() {
    QFETCH(QString, text);
    QFETCH(QString, written);
    QCOMPARE(EscapeLogText(text), written);
}

void TestLogLines::writerWritesOneLinePerText() {
    QTemporaryDir dir;
    Clock clock;
    clock.set(QDateTime(QDate(2024, 1, 31), QTime(13, 5, 9)));
    const QString folder = dir.filePath(QStringLiteral("log"));
    LogFileMaker log(folder);
    log.setClock(&clock);
    QVERIFY(log.WriteLog(QStringLiteral("Hall A") + Forged, 1));
    QVERIFY(log.WriteLog(QStringLiteral("x\ny"), 0));
    QVERIFY(log.WriteLog(QStringLiteral("Saal Süd"), 1));
    QCOMPARE(contents(folder + QStringLiteral("/20240131.log")),
             (QStringLiteral("[2024/01/31 13:05:09],Hall A") + ForgedEscaped +
              QStringLiteral("\r\nx\\ny\r\n[2024/01/31 13:05:09],Saal Süd\r\n"))
                 .toUtf8());
}

void TestLogLines::projectorNameInTheCommunicationLog() {
    QTemporaryDir dir;
    const auto owner = std::make_unique<AppState>(); // large; off the stack
    AppState& state = *owner;
    EnableCommLog(state, dir);
    const QString name = QStringLiteral("Hall A") + Forged;
    WriteCommLog(state, QStringLiteral("Projector:") + name);
    WriteMailLog(state, name); // no mail log here: nothing, and no crash
    QCOMPARE(CommLogLines(dir), QStringList{QStringLiteral("Projector:Hall A") + ForgedEscaped});
}

// The transport logs the address as configured when it refuses to connect
// to it; the line still stays one.
void TestLogLines::lanConnectToAnAddressHoldingCrLf() {
    QTemporaryDir dir;
    const auto owner = std::make_unique<AppState>();
    AppState& state = *owner;
    EnableCommLog(state, dir);
    state.Timing.TcpTimeoutTime = 300;
    PutProjector(state, 1,
                 LanProjector(QStringLiteral("PJ1"), QStringLiteral("127.0.0.1") + Forged,
                              QStringLiteral("4352")));
    SettingsStore settings(dir.filePath(QStringLiteral("Norvik3.conf")));
    CommEngine engine(state, settings);
    engine.setToolPrograms(QStringLiteral("/bin/false"), QStringLiteral("/bin/false"), 2s);
    engine.InitializeQueues();

    QVERIFY(engine.EnqueueCommand(1, engine.commands().PowerGetCommand));
    QTRY_VERIFY_WITH_TIMEOUT(
        CommLogLines(dir).contains(QStringLiteral("TCP-Timeout(1):QueueRP(1)")), 20000);
    engine.stopDispatcher();

    const QStringList lines = CommLogLines(dir);
    QCOMPARE(lines.filter(QStringLiteral("_Connect")),
             QStringList{QStringLiteral("TCP(1)_Connect:127.0.0.1") + ForgedEscaped});
    QCOMPARE(lines.filter(QStringLiteral("TCP-Recv")).size(), 1); // inside the connect line only
    const QStringList files =
        QDir(dir.filePath(QStringLiteral("Log"))).entryList({QStringLiteral("*.log")}, QDir::Files);
    QCOMPARE(files.size(), 1);
    const QByteArray bytes = contents(dir.filePath(QStringLiteral("Log/")) + files.first());
    const QList<QByteArray> physical = physicalLines(bytes);
    QCOMPARE(physical.size(), lines.size());
    QCOMPARE(bytes.count("\r\n"), lines.size());
    for (const QByteArray& line : physical) {
        QVERIFY2(line.startsWith("[") && !line.contains('\r'), line.constData());
        QVERIFY2(!line.startsWith("[2024/01/31 13:05:09]"), line.constData());
    }
}

QTEST_GUILESS_MAIN(TestLogLines)
#include "test_log_lines.moc"
