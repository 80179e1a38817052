// Ticked finds added to the fleet: where they go, what they are called,
// all or nothing, and what one save stores.

#include "core/AppState.h"
#include "core/Fleet.h"
#include "core/SettingsStore.h"
#include "discovery/AddFinds.h"
#include "support/ProjectorRecords.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

DiscoveryFind pjlinkFind(const QString& address, const QString& name) {
    DiscoveryFind find;
    find.address = address;
    find.port = 4352;
    find.protocol = ProtocolPJLink;
    find.mac = QStringLiteral("02:4E:56:00:00:01");
    find.name = name;
    find.model = QStringLiteral("PL-100");
    return find;
}

DiscoveryFind nativeFind(const QString& address) {
    DiscoveryFind find;
    find.address = address;
    find.port = 23;
    find.protocol = ProtocolNative;
    return find;
}

// A tree with the root, group "Hall" holding "R204 Left", and group "Annex".
void buildFleet(AppState& state, int extraProjectors) {
    ResetTree(state);
    QString error;
    const int hall = AddGroupNode(state, QStringLiteral("Hall"), &error);
    AddGroupNode(state, QStringLiteral("Annex"), &error);
    const QString address = QStringLiteral("192.0.2.50");
    AddProjector(state, hall, LanProjector(QStringLiteral("R204 Left"), address), &error);
    for (int i = 0; i < extraProjectors; ++i)
        AddProjector(state, 1, LanProjector(QStringLiteral("Extra %1").arg(i), address), &error);
}

// "group/name address:port protocol model" of every projector in tree order.
QStringList treeOf(const AppState& state) {
    QStringList rows;
    for (int n = 1; n <= NodeCount(state); ++n) {
        const qint16 p = ProjectorOfNode(state, n);
        if (p <= 0)
            continue;
        const ProjectorInfo& info = state.Projectors[size_t(p)];
        const int parent = NodeIndexOfKey(state, Node(state, n).ParentKey);
        rows << QStringLiteral("%1/%2 %3:%4 %5 %6")
                    .arg(Node(state, parent).Text, info.ProjectorName, info.IPAddress, info.PortNo,
                         IsPJLink(info) ? QStringLiteral("pjlink") : QStringLiteral("native"),
                         info.ModelName);
    }
    return rows;
}

} // namespace

class TestDiscoveryAdd : public QObject {
    Q_OBJECT
  private slots:
    void add_data();
    void add();
    void oneSaveStoresThem();
};

void TestDiscoveryAdd::add_data() {
    QTest::addColumn<QList<DiscoveryFind>>("finds");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("extra");         // projectors in the fleet beyond the one
    QTest::addColumn<QStringList>("added"); // empty: refused
    QTest::addColumn<QString>("error");
    const QList<DiscoveryFind> two{pjlinkFind("192.0.2.12", "R204 Left"), nativeFind("192.0.2.10")};
    QTest::newRow("into a group that has the name: numbered")
        << two << "Hall"
        << "M100" << 0
        << QStringList{"Hall/R204 Left 192.0.2.50:23 native ",
                       "Hall/R204 Left (2) 192.0.2.12:4352 pjlink PL-100",
                       "Hall/192.0.2.10 192.0.2.10:23 native M100"}
        << "";
    QTest::newRow("a new group at the end of the tree")
        << two << "Stage"
        << "M100" << 0
        << QStringList{"Hall/R204 Left 192.0.2.50:23 native ",
                       "Stage/R204 Left 192.0.2.12:4352 pjlink PL-100",
                       "Stage/192.0.2.10 192.0.2.10:23 native M100"}
        << "";
    QTest::newRow("two finds of one name")
        << QList<DiscoveryFind>{pjlinkFind("192.0.2.12", "Aula"), pjlinkFind("192.0.2.13", "Aula")}
        << "Annex"
        << "" << 0
        << QStringList{"Hall/R204 Left 192.0.2.50:23 native ",
                       "Annex/Aula 192.0.2.12:4352 pjlink PL-100",
                       "Annex/Aula (2) 192.0.2.13:4352 pjlink PL-100"}
        << "";
    QTest::newRow("control characters in a name become blanks")
        << QList<DiscoveryFind>{pjlinkFind("192.0.2.12", "Left\r\nWing\t2")} << "Annex"
        << "" << 0
        << QStringList{"Hall/R204 Left 192.0.2.50:23 native ",
                       "Annex/Left Wing 2 192.0.2.12:4352 pjlink PL-100"}
        << "";
    QTest::newRow("an own-protocol find needs a model") << two << "Hall"
                                                        << "" << 0 << QStringList{} << "model";
    QTest::newRow("no group") << two << "  "
                              << "M100" << 0 << QStringList{} << "group";
    QTest::newRow("a group name with a line break")
        << two << "Sta\nge"
        << "M100" << 0 << QStringList{} << "line breaks";
    QTest::newRow("one past the projector limit")
        << two << "Hall"
        << "M100" << MaxProjectors - 2 << QStringList{} << "256";
    QTest::newRow("up to the projector limit")
        << QList<DiscoveryFind>{pjlinkFind("192.0.2.12", "Last")} << "Annex"
        << "" << MaxProjectors - 2 << QStringList{} << "";
}

void TestDiscoveryAdd::add() {
    QFETCH(QList<DiscoveryFind>, finds);
    QFETCH(QString, group);
    QFETCH(QString, model);
    QFETCH(int, extra);
    QFETCH(QStringList, added);
    QFETCH(QString, error);
    auto state = std::make_unique<AppState>();
    buildFleet(*state, extra);
    const QStringList before = treeOf(*state);
    const int nodesBefore = NodeCount(*state);
    QString message;
    const int count = AddFoundProjectors(*state, finds, {group, model}, &message);
    if (!error.isEmpty()) {
        QCOMPARE(count, 0);
        QVERIFY2(message.contains(error), qPrintable(message));
        QCOMPARE(treeOf(*state), before);
        QCOMPARE(NodeCount(*state), nodesBefore);
        return;
    }
    QVERIFY2(message.isEmpty(), qPrintable(message));
    QCOMPARE(count, finds.size());
    QCOMPARE(state->ProjectorCount, 1 + extra + finds.size());
    if (!added.isEmpty()) {
        QCOMPARE(treeOf(*state), added);
    }
}

void TestDiscoveryAdd::oneSaveStoresThem() {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Norvik3.conf"));
    auto state = std::make_unique<AppState>();
    buildFleet(*state, 0);
    QString message;
    QCOMPARE(AddFoundProjectors(*state,
                                {pjlinkFind("192.0.2.12", "R204 Left"), nativeFind("192.0.2.10")},
                                {QStringLiteral("Stage"), QStringLiteral("M100")}, &message),
             2);
    SettingsStore store(file);
    QVERIFY(store.SaveTreeAndProjectors(*state));
    auto loaded = std::make_unique<AppState>();
    const SettingsStore reader(file);
    reader.LoadConfiguration(*loaded);
    reader.LoadTree(*loaded);
    QCOMPARE(treeOf(*loaded), treeOf(*state));
    QCOMPARE(loaded->ProjectorCount, 3);
    QCOMPARE(loaded->Projectors[2].Protocol, ProtocolPJLink);
    QCOMPARE(loaded->Projectors[3].Protocol, ProtocolNative);
}

QTEST_GUILESS_MAIN(TestDiscoveryAdd)
#include "test_discovery_add.moc"
