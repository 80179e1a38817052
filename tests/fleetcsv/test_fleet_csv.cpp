// The fleet's CSV export and import: the CSV text itself, every way a file
// is refused (each error by its line, nothing written), the merge, the exact
// round trip, the dry run, and the import refused beside a running service,
// all through the real programs on temporary program folders.

#include "core/AppState.h"
#include "core/CsvText.h"
#include "core/Fleet.h"
#include "core/SettingsStore.h"
#include "core/Startup.h"
#include "fleetcsv/FleetImport.h"
#include "support/ProjectorRecords.h"
#include "support/TestPrograms.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

namespace {

constexpr int Wait = 30000;
const QByteArray Header =
    "Group,Name,Protocol,Connection,Address,Port,COMPort,COMSettings,Model,MACAddress,Password\r\n";

struct Run {
    int code = -1;
    QString out;
    QString err;
};

Run runProgram(const QString& program, const QString& home, const QStringList& arguments) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("NORVIK3_HOME"), home);
    // No secret store: PJLink passwords go to their file, where a test reads them.
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
               QStringLiteral("unix:path=/nonexistent"));
    process.setProcessEnvironment(env);
    process.start(TestBinary(program), arguments);
    Run run;
    if (!process.waitForFinished(Wait))
        return run;
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

// Every file under a folder with its content, to tell that nothing changed.
QMap<QString, QByteArray> snapshot(const QString& folder) {
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(path, QFileInfo(path).isFile() ? readFile(path) : QByteArray("<dir>"));
    }
    return files;
}

std::unique_ptr<AppState> load(const QString& home) {
    auto state = std::make_unique<AppState>();
    state->ProgramFolder = home;
    const SettingsStore store(home + QStringLiteral("/Norvik3.conf"));
    store.LoadConfiguration(*state);
    store.LoadTree(*state);
    return state;
}

const QString Local = QStringLiteral("127.0.0.1");
const QString Vx4200 = QStringLiteral("VX-4200");
const QString Vx5100N = QStringLiteral("VX-5100N");

// The tree in node order and each projector's record, without keys and
// ids, which are the program's own business.
QStringList describe(const AppState& state) {
    QStringList lines;
    for (int node = 2; node <= NodeCount(state); ++node) {
        const TreeNode& n = Node(state, node);
        const int parent = NodeIndexOfKey(state, n.ParentKey);
        const QString under = parent > 1 ? Node(state, parent).Text : QStringLiteral("<root>");
        if (NodeKind(n) == QLatin1Char('g')) {
            lines << QStringLiteral("group %1").arg(n.Text);
            continue;
        }
        const int index = ProjectorOfNode(state, node);
        const ProjectorInfo& p = state.Projectors[index];
        lines << QStringList{QString::number(index),
                             under,
                             n.Text,
                             p.ProjectorName,
                             p.ModelName,
                             p.Protocol,
                             QString::number(p.ConnectionKind),
                             QString::number(p.COMPort),
                             p.COMSettings,
                             p.IPAddress,
                             p.PortNo}
                     .join(QLatin1Char('|'));
    }
    return lines;
}

QByteArray rows(const QString& group, int count, int firstPort = 41000) {
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += QStringLiteral("%1,P%2,native,lan,127.0.0.1,%3,,,VX-4200,,\r\n")
                    .arg(group)
                    .arg(i)
                    .arg(firstPort + i)
                    .toUtf8();
    return text;
}

QByteArray groupRows(int count) {
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += QStringLiteral("G%1,,,,,,,,,,\r\n").arg(i).toUtf8();
    return text;
}

const QByteArray Ok = "Hall,New,native,lan,127.0.0.1,40100,,,VX-4200,,\r\n";

} // namespace

class TestFleetCsv : public QObject {
    Q_OBJECT

  private:
    QString newHome() {
        m_homes.push_back(std::make_unique<QTemporaryDir>());
        return m_homes.back()->path();
    }

    // Hall: H1 (LAN) and H2 (serial), then Lobby under the root; the sample
    // model file of a first start.
    QString homeWithFleet() {
        const QString home = newHome();
        writeFile(home + QStringLiteral("/PJModel.txt"), SampleModelFile());
        auto state = std::make_unique<AppState>();
        state->ProgramFolder = home;
        ResetTree(*state);
        const int hall = AddGroupNode(*state, QStringLiteral("Hall"), nullptr);
        AddProjector(*state, hall, LanProjector("H1", Local, "40001").model(Vx4200));
        AddProjector(*state, hall, SerialProjector("H2", 1).model(Vx5100N));
        AddProjector(*state, 1, LanProjector("Lobby", Local, "40002").model(Vx5100N));
        const SettingsStore store(home + QStringLiteral("/Norvik3.conf"));
        if (!store.SaveTreeAndProjectors(*state))
            qFatal("cannot save the fixture fleet");
        return home;
    }

    std::vector<std::unique_ptr<QTemporaryDir>> m_homes;

  private slots:
    void csvReading_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("records");  // "line:field|field"
        QTest::addColumn<QStringList>("problems"); // "line:words of the problem"
        const QStringList none;
        QTest::newRow("LF") << QByteArray("a,b\nc,d\n") << QStringList{"1:a|b", "2:c|d"} << none;
        QTest::newRow("CR LF, no end")
            << QByteArray("a,b\r\nc,d") << QStringList{"1:a|b", "2:c|d"} << none;
        QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF"
                                                       "a,b\n")
                                         << QStringList{"1:a|b"} << none;
        QTest::newRow("quoted comma and quotes") << QByteArray("\"x,y\",\"say \"\"hi\"\"\"\r\n")
                                                 << QStringList{"1:x,y|say \"hi\""} << none;
        QTest::newRow("blank lines keep the numbering")
            << QByteArray("a\n\nb\n") << QStringList{"1:a", "3:b"} << none;
        QTest::newRow("empty fields") << QByteArray(",,\n") << QStringList{"1:||"} << none;
        QTest::newRow("quoted line break")
            << QByteArray("a,\"x\ny\"\nb\n") << QStringList{"1:a|x\ny", "3:b"}
            << QStringList{"1:holds a line break"};
        QTest::newRow("quote not closed")
            << QByteArray("a\nb,\"xy\n") << QStringList{"1:a", "2:b|xy\n"}
            << QStringList{"2:is not closed"};
        QTest::newRow("quote inside a field") << QByteArray("a,b\"c\n") << QStringList{"1:a|b\"c"}
                                              << QStringList{"1:quote inside a field"};
        QTest::newRow("text after a closing quote")
            << QByteArray("\"a\"b,c\n") << QStringList{"1:ab|c"}
            << QStringList{"1:after the closing quote"};
        QTest::newRow("CR alone") << QByteArray("a\rb\n") << QStringList{"1:a\rb"}
                                  << QStringList{"1:CR without LF"};
        QTest::newRow("not UTF-8") << QByteArray("a\nb\xff\nc\xfe\n") << QStringList{}
                                   << QStringList{"2:not UTF-8", "3:not UTF-8"};
    }

    void csvReading() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, records);
        QFETCH(QStringList, problems);
        const CsvText csv = ReadCsv(bytes);
        QStringList read;
        for (const CsvRecord& r : csv.records)
            read << QString::number(r.line) + QLatin1Char(':') + r.fields.join(QLatin1Char('|'));
        QCOMPARE(read, records);
        QCOMPARE(csv.problems.size(), problems.size());
        for (qsizetype i = 0; i < problems.size(); ++i) {
            const QString expected = problems.at(i);
            const qsizetype colon = expected.indexOf(QLatin1Char(':'));
            QCOMPARE(csv.problems.at(i).line, expected.left(colon).toInt());
            QVERIFY2(csv.problems.at(i).text.contains(expected.mid(colon + 1)),
                     qPrintable(csv.problems.at(i).text));
        }
    }

    void csvWriting_data() {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("guarded");
        QTest::newRow("plain") << QStringList{"a", "b"} << QByteArray("a,b\r\n") << false;
        QTest::newRow("formulas guarded")
            << QStringList{"=1+1", "+1", "-2", "@A1", "=HYPERLINK(\"x\")"}
            << QByteArray("'=1+1,'+1,'-2,'@A1,\"'=HYPERLINK(\"\"x\"\")\"\r\n") << true;
        QTest::newRow("tab guarded")
            << QStringList{"\tx", "x\t"} << QByteArray("'\tx,\"x\t\"\r\n") << true;
        QTest::newRow("the guard's mark itself guarded")
            << QStringList{"'=x", "'a", "a'"} << QByteArray("''=x,''a,a'\r\n") << true;
        QTest::newRow("digits and letters as they are")
            << QStringList{"0012", QString::fromUtf8("Ré"), "a=b"}
            << QByteArray("0012,R\xC3\xA9,a=b\r\n") << true;
        QTest::newRow("plain: a formula as it is")
            << QStringList{"=1+1"} << QByteArray("=1+1\r\n") << false;
        QTest::newRow("comma") << QStringList{"a,b", ""} << QByteArray("\"a,b\",\r\n") << false;
        QTest::newRow("quotes") << QStringList{"say \"x\""} << QByteArray("\"say \"\"x\"\"\"\r\n")
                                << false;
        QTest::newRow("blanks around")
            << QStringList{" a", "b "} << QByteArray("\" a\",\"b \"\r\n") << false;
        QTest::newRow("UTF-8") << QStringList{"Salle é", "日本"}
                               << QByteArray("Salle \xC3\xA9,\xE6\x97\xA5\xE6\x9C\xAC\r\n")
                               << false;
    }

    void csvWriting() {
        QFETCH(QStringList, fields);
        QFETCH(QByteArray, line);
        QFETCH(bool, guarded);
        const CsvCells cells = guarded ? CsvCells::Guarded : CsvCells::Plain;
        QCOMPARE(CsvLine(fields, cells), line);
        const CsvText back = ReadCsv(line, cells);
        QVERIFY(back.problems.isEmpty());
        QCOMPARE(back.records.size(), 1);
        QCOMPARE(back.records.front().fields, fields);
    }

    void importErrors_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("errors"); // "line:words of the error"
        const auto row = [](const char* text) { return Header + QByteArray(text) + "\r\n"; };
        QTest::newRow("name blank") << row("Hall,\"  \",native,lan,127.0.0.1,1,,,VX-4200,,")
                                    << QStringList{"2:A Projector Name is not specified."};
        QTest::newRow("name with a control character")
            << row("Hall,a\tb,native,lan,127.0.0.1,1,,,VX-4200,,")
            << QStringList{"2:control characters"};
        QTest::newRow("name too long")
            << Header + "Hall," + QByteArray(257, 'n') + ",native,lan,127.0.0.1,1,,,VX-4200,,\r\n"
            << QStringList{"2:more than 256 characters"};
        QTest::newRow("group blank") << row("\" \",P,native,lan,127.0.0.1,1,,,VX-4200,,")
                                     << QStringList{"2:A Group Name is not sepcified."};
        QTest::newRow("protocol") << row("Hall,P,binary,lan,127.0.0.1,1,,,VX-4200,,")
                                  << QStringList{"2:Protocol is \"binary\""};
        QTest::newRow("connection") << row("Hall,P,native,usb,127.0.0.1,1,,,VX-4200,,")
                                    << QStringList{"2:Connection is \"usb\""};
        QTest::newRow("PJLink on serial")
            << row("Hall,P,pjlink,serial,,,3,,,,") << QStringList{"2:over the LAN only"};
        QTest::newRow("no address") << row("Hall,P,native,lan,,1,,,VX-4200,,")
                                    << QStringList{"2:An IP address is not specified."};
        QTest::newRow("no port") << row("Hall,P,native,lan,127.0.0.1, ,,,VX-4200,,")
                                 << QStringList{"2:Port No is not specified."};
        const QStringList noAddress{"2:is no IPv4 address; write it like 192.0.2.10."};
        QTest::newRow("address too long")
            << row("Hall,P,native,lan,127.000.000.0001,1,,,VX-4200,,") << noAddress;
        QTest::newRow("address over 255")
            << row("Hall,P,native,lan,999.1.1.1,1,,,VX-4200,,") << noAddress;
        QTest::newRow("three numbers") << row("Hall,P,native,lan,1.2.3,1,,,VX-4200,,") << noAddress;
        QTest::newRow("IPv6") << row("Hall,P,native,lan,::1,1,,,VX-4200,,") << noAddress;
        QTest::newRow("an option, guarded in the file")
            << row("Hall,P,native,lan,'-oProxy=x,1,,,VX-4200,,")
            << QStringList{"2:The IP address \"-oProxy=x\" is no IPv4 address"};
        QTest::newRow("blanks around the address")
            << row("Hall,P,native,lan,\" 127.0.0.1\",1,,,VX-4200,,") << noAddress;
        QTest::newRow("a host name")
            << row("Hall,P,native,lan,beamer.lan,1,,,VX-4200,,") << noAddress;
        QTest::newRow("port too long") << row("Hall,P,native,lan,127.0.0.1,123456,,,VX-4200,,")
                                       << QStringList{"2:not a number from 1 to 65535"};
        for (const char* port : {"0", "65536", "4x", "023", "+23", "\" 23\""})
            QTest::addRow("port %s", port)
                << row(QByteArray("Hall,P,native,lan,127.0.0.1,") + port + ",,,VX-4200,,")
                << QStringList{"2:not a number from 1 to 65535"};
        for (const char* mark : {"\u202E", "\u200F", "\u2066", "\u200B", "\u200D", "\uFEFF"})
            QTest::addRow("name with U+%04X", QString::fromUtf8(mark).front().unicode())
                << row(QByteArray("Hall,ab") + mark + "c,native,lan,127.0.0.1,1,,,VX-4200,,")
                << QStringList{"2:bidirectional or zero-width characters"};
        QTest::newRow("group name too long")
            << Header + QByteArray(257, 'g') + ",P,native,lan,127.0.0.1,1,,,VX-4200,,\r\n"
            << QStringList{"2:Group: A name has more than 256 characters."};
        QTest::newRow("a column the import does not know")
            << QByteArray("Group,Name,Protocol,Connection,Address,Port,COMPort,COMSettings,Model,"
                          "MACAddress,Password,Remark\r\n") +
                   Ok
            << QStringList{"1:then Product,Note if any"};
        QTest::newRow("LAN with a COM port") << row("Hall,P,native,lan,127.0.0.1,1,4,,VX-4200,,")
                                             << QStringList{"2:are for a serial projector"};
        QTest::newRow("COM port out of range") << row("Hall,P,native,serial,,,COM257,,VX-4200,,")
                                               << QStringList{"2:COMPort \"COM257\""};
        QTest::newRow("COM settings") << row("Hall,P,native,serial,,,4,\"19200,x,8,1\",VX-4200,,")
                                      << QStringList{"2:COMSettings \"19200,x,8,1\""};
        QTest::newRow("serial with an address")
            << row("Hall,P,native,serial,127.0.0.1,,4,,VX-4200,,")
            << QStringList{"2:are for a LAN projector"};
        QTest::newRow("unknown model") << row("Hall,P,native,lan,127.0.0.1,1,,,VX-9999,,")
                                       << QStringList{"2:\"VX-9999\" is not in the model file"};
        QTest::newRow("own protocol without a model") << row("Hall,P,native,lan,127.0.0.1,1,,,,,")
                                                      << QStringList{"2:A Model is not specified."};
        QTest::newRow("MAC address") << row("Hall,P,native,lan,127.0.0.1,1,,,VX-4200,00:11:22,")
                                     << QStringList{"2:MACAddress \"00:11:22\""};
        QTest::newRow("password for the own protocol")
            << row("Hall,P,native,lan,127.0.0.1,1,,,VX-4200,,secret")
            << QStringList{"2:only for a PJLink projector"};
        QTest::newRow("name twice in a group")
            << Header + "Hall,P,native,lan,127.0.0.1,1,,,VX-4200,,\r\n"
                        "Hall,P,native,lan,127.0.0.1,2,,,VX-4200,,\r\n"
            << QStringList{"3:in this group already, on line 2"};
        QTest::newRow("address and port of a projector in the fleet")
            << row("Annex,P,native,lan,127.0.0.1,40001,,,VX-4200,,")
            << QStringList{"2:An IP address overlaps. (the same as projector \"H1\")"};
        QTest::newRow("address and port twice in the file")
            << Header + "Annex,A,native,lan,127.0.0.1,7,,,VX-4200,,\r\n"
                        "Annex,B,native,lan,127.0.0.1,7,,,VX-4200,,\r\n"
            << QStringList{"3:An IP address overlaps. (the same as line 2)"};
        QTest::newRow("COM port of a projector in the fleet")
            << row("Annex,P,native,serial,,,COM1,,VX-4200,,")
            << QStringList{"2:COM port overlapps."};
        QTest::newRow("wrong column count")
            << row("Hall,P,native,lan") << QStringList{"2:The row has 4 fields; it needs 11."};
        QTest::newRow("empty row") << row(",,,,,,,,,,") << QStringList{"2:The row is empty."};
        QTest::newRow("wrong header")
            << QByteArray("Group,Name,Address\r\n") + Ok
            << QStringList{"1:The first line must name the columns Group,Name,Protocol"};
        QTest::newRow("quoted line break, later rows still checked")
            << Header + "Hall,\"P\r\nQ\",native,lan,127.0.0.1,1,,,VX-4200,,\r\n" + Ok +
                   "Hall,X,native,lan,,1,,,VX-4200,,\r\n"
            << QStringList{"2:holds a line break", "5:An IP address is not specified."};
        QTest::newRow("every error of a row and of the file")
            << Header + "Hall,,native,lan,,1,,,VX-4200,,\r\n" + Ok +
                   "Hall,Q,native,tcp,127.0.0.1,1,,,VX-1,,\r\n"
            << QStringList{"2:A Projector Name is not specified.",
                           "2:An IP address is not specified.", "4:Connection is \"tcp\"",
                           "4:\"VX-1\" is not in the model file"};
        QTest::newRow("empty file") << QByteArray() << QStringList{"0:has no header line"};
        QTest::newRow("over 600 rows") << Header + rows(QStringLiteral("Annex"), 601)
                                       << QStringList{"0:The file has 601 rows; at most 600"};
        QTest::newRow("over 1 MB")
            << Header + "Annex,\"" + QByteArray(1024 * 1024, 'x') + "\",native,lan,,,,,,,\r\n"
            << QStringList{"0:larger than 1 MB"};
        // The fleet holds 3 projectors: the 254th new one is the 257th.
        QTest::newRow("257 projectors")
            << Header + rows(QStringLiteral("Annex"), 254)
            << QStringList{"255:No more than 256 projectors can be registered."};
        // 5 nodes, 255 new groups and 253 projectors: the last is node 513.
        QTest::newRow("513 nodes")
            << Header + groupRows(255) + rows(QStringLiteral("G0"), 253)
            << QStringList{"509:The tree cannot hold more than 512 entries."};
        QTest::newRow("258 groups")
            << Header + groupRows(257) << QStringList{"258:No more than 257 groups can be added."};
    }

    void importErrors() {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, errors);
        const auto state = load(homeWithFleet());
        const ImportPlan plan = PlanImport(*state, file);
        QStringList got;
        for (const ImportError& e : plan.errors)
            got << ImportErrorText(e);
        QCOMPARE(plan.errors.size(), errors.size());
        for (qsizetype i = 0; i < errors.size(); ++i) {
            const QString expected = errors.at(i);
            const qsizetype colon = expected.indexOf(QLatin1Char(':'));
            QCOMPARE(plan.errors.at(i).line, expected.left(colon).toInt());
            QVERIFY2(plan.errors.at(i).text.contains(expected.mid(colon + 1)),
                     qPrintable(got.join(QLatin1Char('\n'))));
        }
        QVERIFY(!plan.ok());
    }

    void programs_data() {
        QTest::addColumn<QString>("program");
        QTest::newRow("window") << QStringLiteral("norvik3");
        QTest::newRow("service") << QStringLiteral("norvik3d");
    }

    // A file with errors through the program: each by its line, nothing
    // written.
    void refusedFileWritesNothing_data() { programs_data(); }
    void refusedFileWritesNothing() {
        QFETCH(QString, program);
        const QString home = homeWithFleet();
        const QString csv = newHome() + QStringLiteral("/fleet.csv");
        writeFile(csv, Header + Ok + "Hall,H1,native,lan,,1,,,VX-4200,,\r\n" + Ok +
                           "Annex,A,pjlink,serial,,,2,,,,\r\n");
        const auto before = snapshot(home);
        const Run run = runProgram(program, home, {QStringLiteral("--import"), csv});
        QCOMPARE(run.code, 1);
        QVERIFY2(
            run.err.contains(csv + QStringLiteral(": line 3: An IP address is not specified.")),
            qPrintable(run.err));
        QVERIFY(run.err.contains(csv + QStringLiteral(": line 4: The projector \"New\"")));
        QVERIFY(run.err.contains(csv + QStringLiteral(": line 5: A PJLink projector")));
        QVERIFY(run.err.contains(QStringLiteral("3 errors; nothing imported")));
        QVERIFY(run.out.isEmpty());
        QCOMPARE(snapshot(home), before);
    }

    void mergeUpdatesAddsAndCreatesAGroup_data() { programs_data(); }
    void mergeUpdatesAddsAndCreatesAGroup() {
        QFETCH(QString, program);
        const QString home = homeWithFleet();
        const auto before = load(home);
        const QString csv = newHome() + QStringLiteral("/fleet.csv");
        writeFile(csv, Header + "Hall,H1,native,lan,127.0.0.1,40009,,,VX-5100N,,\r\n"
                                "Annex,A1,pjlink,lan,127.0.0.1,4352,,,,,hall-a\r\n"
                                "Hall,H3,native,serial,,,COM7,,VX-4200,,\r\n"
                                "Hall,H2,native,serial,,,1,,VX-5100N,,\r\n");
        const Run run = runProgram(program, home, {QStringLiteral("--import"), csv});
        QCOMPARE(run.code, 0);
        QVERIFY2(run.out.contains(QStringLiteral("change line 2: Hall / H1 (Port: \"40001\" → "
                                                 "\"40009\"; Model: \"VX-4200\" → \"VX-5100N\")")),
                 qPrintable(run.out));
        QVERIFY(run.out.contains(QStringLiteral("add line 3: Annex / A1 (new group)")));
        QVERIFY(run.out.contains(QStringLiteral("same line 5: Hall / H2")));
        QVERIFY(run.out.contains(
            QStringLiteral("imported: 2 to add, 1 to change, 1 left alone, 1 new group")));

        const auto after = load(home);
        // A LAN record reads back with the serial default line settings, a
        // serial one with the default port.
        const QString Line = DefaultCOMSettings;
        // Nothing deleted, H1 changed in place with its identity, H3 at the
        // end of Hall, Annex at the end of the tree.
        QCOMPARE(
            describe(*after),
            (QStringList{"group Hall", "1|Hall|H1|H1|VX-5100N||1|0|" + Line + "|127.0.0.1|40009",
                         "2|Hall|H2|H2|VX-5100N||0|1|19200,n,8,1||23",
                         "3|<root>|Lobby|Lobby|VX-5100N||1|0|" + Line + "|127.0.0.1|40002",
                         "group Annex", "4|Annex|A1|A1||PJLink|1|0|" + Line + "|127.0.0.1|4352",
                         "5|Hall|H3|H3|VX-4200||0|7|19200,n,8,1||23"}));
        QCOMPARE(after->Projectors[1].ProjectorId, before->Projectors[1].ProjectorId);
        QCOMPARE(after->Projectors[2].ProjectorId, before->Projectors[2].ProjectorId);
        const std::vector<int> hall = GroupMembers(*after, 2);
        QCOMPARE(hall.size(), std::size_t(3));
        QCOMPARE(ProjectorOfNode(*after, hall.back()), qint16(5));
        QCOMPARE(readFile(home + QStringLiteral("/Norvik3.pjlink-passwords")),
                 QByteArray("127.0.0.1:4352=hall-a\n"));
    }

    void roundTripIsExact_data() { programs_data(); }
    void roundTripIsExact() {
        QFETCH(QString, program);
        // A tree with what a CSV finds hard: an empty group, a group whose
        // projectors come after another group's, a projector under the root,
        // names with commas, quotes, blanks and non-ASCII letters.
        const QString first = homeWithFleet();
        {
            auto state = load(first);
            const int empty = AddGroupNode(*state, QStringLiteral("Empty, for now"), nullptr);
            const int later = AddGroupNode(*state, QStringLiteral("Salle \"Ré\""), nullptr);
            QVERIFY(empty && later);
            AddProjector(*state, 1, LanProjector(" Stage, left ", Local, "40003").model(Vx4200));
            AddProjector(*state, later, SerialProjector("R204 Left", 9).model(Vx5100N));
            AddProjector(*state, 2, LanProjector("H9", Local, "40004").model(Vx5100N));
            // What a spreadsheet would evaluate or reformat.
            const int formulas = AddGroupNode(*state, QStringLiteral("@Hall"), nullptr);
            for (const char* name : {"=1+1", "=HYPERLINK(\"http://x\",\"y\")", "-3", "'0012"})
                AddProjector(
                    *state, formulas,
                    LanProjector(QString::fromUtf8(name), Local,
                                 QString::number(40010 + GroupMembers(*state, formulas).size()))
                        .model(Vx4200));
            AddProjector(*state, later, PJLinkProjector("PJ 1", Local));
            QVERIFY(SettingsStore(first + QStringLiteral("/Norvik3.conf"))
                        .SaveTreeAndProjectors(*state));
        }
        const QString csvs = newHome();
        const QString a = csvs + QStringLiteral("/a.csv");
        const QString b = csvs + QStringLiteral("/b.csv");
        const Run exported = runProgram(program, first, {QStringLiteral("--export"), a});
        QCOMPARE(exported.code, 0);
        QVERIFY2(exported.out.contains(QStringLiteral("11 projectors written")),
                 qPrintable(exported.out + exported.err));
        QVERIFY(readFile(a).startsWith("\xEF\xBB\xBF" + Header));
        QVERIFY(readFile(a).contains("'@Hall,'=1+1,"));
        QVERIFY(readFile(a).contains("'@Hall,\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\","));

        const QString second = newHome() + QStringLiteral("/fresh");
        const Run imported = runProgram(program, second, {QStringLiteral("--import"), a});
        QCOMPARE(imported.code, 0);
        QVERIFY2(imported.out.contains(QStringLiteral("11 to add, 0 to change, 0 left alone, "
                                                      "4 new groups")),
                 qPrintable(imported.out + imported.err));
        QCOMPARE(describe(*load(second)), describe(*load(first)));

        QCOMPARE(runProgram(program, second, {QStringLiteral("--export"), b}).code, 0);
        QCOMPARE(readFile(b), readFile(a));
        // The same file once more changes nothing.
        const Run again = runProgram(program, second, {QStringLiteral("--import"), b});
        QCOMPARE(again.code, 0);
        QVERIFY(again.out.contains(QStringLiteral("0 to add, 0 to change, 11 left alone")));
    }

    void dryRunWritesNothing_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("started"); // the folder has seen a start
        QTest::newRow("window, fleet") << QStringLiteral("norvik3") << true;
        QTest::newRow("service, fleet") << QStringLiteral("norvik3d") << true;
        QTest::newRow("service, never started") << QStringLiteral("norvik3d") << false;
    }

    void dryRunWritesNothing() {
        QFETCH(QString, program);
        QFETCH(bool, started);
        const QString home = started ? homeWithFleet() : newHome();
        const QString csv = newHome() + QStringLiteral("/fleet.csv");
        writeFile(csv, Header + "Hall,H1,native,lan,127.0.0.1,40001,,,VX-4200,,\r\n" + Ok);
        const auto before = snapshot(home);
        const Run run = runProgram(program, home,
                                   {QStringLiteral("--import"), csv, QStringLiteral("--dry-run")});
        QCOMPARE(run.code, 0);
        QVERIFY2(run.out.contains(started ? QStringLiteral("same line 2: Hall / H1")
                                          : QStringLiteral("add line 2: Hall / H1 (new group)")),
                 qPrintable(run.out + run.err));
        QVERIFY(run.out.contains(QStringLiteral("add line 3: Hall / New")));
        QVERIFY(run.out.contains(QStringLiteral("; nothing written")));
        QCOMPARE(snapshot(home), before);
    }

    void wrongCommandLines_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error");
        QTest::newRow("export without a file")
            << QStringList{"--export"} << QStringLiteral("--export needs a file name");
        QTest::newRow("both") << QStringList{"--export", "a", "--import", "b"}
                              << QStringLiteral("--export and --import cannot be given together");
        QTest::newRow("dry run of an export")
            << QStringList{"--export", "a", "--dry-run"}
            << QStringLiteral("--dry-run goes with --import only");
        QTest::newRow("more words")
            << QStringList{"--import", "a", "DON"} << QStringLiteral("--import takes no other");
    }

    void wrongCommandLines() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        const QString home = newHome();
        const Run run = runProgram(QStringLiteral("norvik3d"), home, arguments);
        QCOMPARE(run.code, 2);
        QVERIFY2(run.err.startsWith(QStringLiteral("norvik3d: ") + error), qPrintable(run.err));
        QVERIFY(QDir(home).isEmpty());
    }

    // Beside a running service the import is refused in one line and
    // changes nothing; the export and the dry run, which only read, work.
    void importRefusedBesideTheService() {
        const QString home = newHome();
        const QString csvs = newHome();
        const QString lanFleet = csvs + QStringLiteral("/lan.csv");
        writeFile(lanFleet, Header + "Hall,H1,native,lan,127.0.0.1,40001,,,VX-4200,,\r\n");
        QCOMPARE(runProgram(QStringLiteral("norvik3d"), home, {"--import", lanFleet}).code, 0);

        QProcess service;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("NORVIK3_HOME"), home);
        service.setProcessEnvironment(env);
        service.start(TestBinary(QStringLiteral("norvik3d")), {QStringLiteral("--no-schedule")});
        QVERIFY(service.waitForStarted(Wait));
        QString said;
        QTRY_VERIFY_WITH_TIMEOUT((said += service.readAllStandardError()).contains("started on"),
                                 Wait);
        const QByteArray settings = readFile(home + QStringLiteral("/Norvik3.conf"));

        const QString more = csvs + QStringLiteral("/more.csv");
        writeFile(more, Header + Ok);
        const Run refused = runProgram(QStringLiteral("norvik3d"), home, {"--import", more});
        QCOMPARE(refused.code, 1);
        QCOMPARE(refused.err.count(QLatin1Char('\n')), 1);
        QVERIFY2(refused.err.contains(QStringLiteral("is in use by norvik3d; nothing imported")),
                 qPrintable(refused.err));
        const Run preview =
            runProgram(QStringLiteral("norvik3"), home, {"--import", more, "--dry-run"});
        QCOMPARE(preview.code, 0);
        const QString out = csvs + QStringLiteral("/out.csv");
        QCOMPARE(runProgram(QStringLiteral("norvik3"), home, {"--export", out}).code, 0);
        QCOMPARE(readFile(out),
                 "\xEF\xBB\xBF" + Header + "Hall,H1,native,lan,127.0.0.1,40001,,,VX-4200,,\r\n");
        QCOMPARE(readFile(home + QStringLiteral("/Norvik3.conf")), settings);

        service.terminate();
        QVERIFY(service.waitForFinished(Wait));
    }
};

QTEST_GUILESS_MAIN(TestFleetCsv)
#include "test_fleet_csv.moc"
