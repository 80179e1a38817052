// The plain parts of discovery: the address range, the search answer, the
// CSV row of a find and whether the fleet already has it.

#include "core/AppState.h"
#include "discovery/DiscoveryText.h"
#include "support/ProjectorRecords.h"

#include <QTest>

class TestDiscoveryText : public QObject {
    Q_OBJECT
  private slots:
    void range_data();
    void range();
    void searchAnswer_data();
    void searchAnswer();
    void csvRow_data();
    void csvRow();
    void inFleet_data();
    void inFleet();
};

void TestDiscoveryText::range_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("count"); // -1: refused
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::newRow("a /24") << "192.0.2.0/24" << 254 << "192.0.2.1"
                           << "192.0.2.254";
    QTest::newRow("host bits ignored") << "192.0.2.77/24" << 254 << "192.0.2.1"
                                       << "192.0.2.254";
    QTest::newRow("the largest, a /22") << "10.1.4.0/22" << 1022 << "10.1.4.1"
                                        << "10.1.7.254";
    QTest::newRow("a /21 is too large") << "10.1.0.0/21" << -1 << ""
                                        << "";
    QTest::newRow("a /30") << "192.0.2.8/30" << 2 << "192.0.2.9"
                           << "192.0.2.10";
    QTest::newRow("a /31 keeps both") << "192.0.2.8/31" << 2 << "192.0.2.8"
                                      << "192.0.2.9";
    QTest::newRow("one address") << " 192.0.2.7 " << 1 << "192.0.2.7"
                                 << "192.0.2.7";
    QTest::newRow("a /32") << "192.0.2.7/32" << 1 << "192.0.2.7"
                           << "192.0.2.7";
    QTest::newRow("prefix too long") << "192.0.2.0/33" << -1 << ""
                                     << "";
    QTest::newRow("prefix not a number") << "192.0.2.0/x" << -1 << ""
                                         << "";
    QTest::newRow("two slashes") << "192.0.2.0/24/1" << -1 << ""
                                 << "";
    QTest::newRow("a host name") << "projector.example/24" << -1 << ""
                                 << "";
    QTest::newRow("short form") << "192.2/24" << -1 << ""
                                << "";
    QTest::newRow("IPv6") << "2001:db8::/120" << -1 << ""
                          << "";
    QTest::newRow("multicast") << "224.0.0.0/24" << -1 << ""
                               << "";
    QTest::newRow("empty") << "" << -1 << ""
                           << "";
}

void TestDiscoveryText::range() {
    QFETCH(QString, text);
    QFETCH(int, count);
    QFETCH(QString, first);
    QFETCH(QString, last);
    const DiscoveryRange range = ParseDiscoveryRange(text);
    if (count < 0) {
        QVERIFY(range.addresses.isEmpty());
        QVERIFY(!range.error.isEmpty());
        return;
    }
    QVERIFY2(range.error.isEmpty(), qPrintable(range.error));
    QCOMPARE(range.addresses.size(), count);
    QCOMPARE(range.addresses.first().toString(), first);
    QCOMPARE(range.addresses.last().toString(), last);
}

void TestDiscoveryText::searchAnswer_data() {
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("mac"); // empty: no answer
    QTest::newRow("with colons") << QByteArray("%2ACKN=00:1a:2b:3c:4d:5e\r") << "00:1A:2B:3C:4D:5E";
    QTest::newRow("without CR") << QByteArray("%2ACKN=00:1A:2B:3C:4D:5E") << "00:1A:2B:3C:4D:5E";
    QTest::newRow("bare hex") << QByteArray("%2ACKN=001A2B3C4D5E\r") << "00:1A:2B:3C:4D:5E";
    QTest::newRow("dashes") << QByteArray("%2ACKN=00-1A-2B-3C-4D-5E\r") << "00:1A:2B:3C:4D:5E";
    QTest::newRow("class 1") << QByteArray("%1ACKN=00:1A:2B:3C:4D:5E\r") << "";
    QTest::newRow("the search itself") << QByteArray("%2SRCH\r") << "";
    QTest::newRow("five bytes") << QByteArray("%2ACKN=00:1A:2B:3C:4D\r") << "";
    QTest::newRow("seven bytes") << QByteArray("%2ACKN=00:1A:2B:3C:4D:5E:6F\r") << "";
    QTest::newRow("not hex") << QByteArray("%2ACKN=00:1A:2B:3C:4D:ZZ\r") << "";
    QTest::newRow("trailing text") << QByteArray("%2ACKN=00:1A:2B:3C:4D:5E junk\r") << "";
    QTest::newRow("a notification") << QByteArray("%2LKUP=00:1A:2B:3C:4D:5E\r") << "";
}

void TestDiscoveryText::searchAnswer() {
    QFETCH(QByteArray, datagram);
    QFETCH(QString, mac);
    const std::optional<QString> got = ParseSearchAnswer(datagram);
    QCOMPARE(got.value_or(QString()), mac);
    QCOMPARE(got.has_value(), !mac.isEmpty());
}

void TestDiscoveryText::csvRow_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("password");
    QTest::addColumn<QString>("nativeModel");
    QTest::addColumn<QString>("row");
    QTest::newRow("PJLink: the product is no model, it goes to Product")
        << "R204 Left" << ProtocolPJLink << "PL-100" << false << "VX-4200"
        << ",R204 Left,pjlink,lan,192.0.2.7,4352,,,,%1,,PL-100,\r\n";
    QTest::newRow("own protocol, no name: the address, and the model to choose")
        << "" << ProtocolNative << "" << false << ""
        << ",192.0.2.7,native,lan,192.0.2.7,4352,,,,%1,,,choose the model\r\n";
    QTest::newRow("own protocol with the model given")
        << "" << ProtocolNative << "" << false << "VX-4200"
        << ",192.0.2.7,native,lan,192.0.2.7,4352,,,VX-4200,%1,,,\r\n";
    QTest::newRow("password required")
        << "" << ProtocolPJLink << "" << true << ""
        << ",192.0.2.7,pjlink,lan,192.0.2.7,4352,,,,%1,,,password required\r\n";
    QTest::newRow("comma and quote quoted")
        << "Hall \"A\", left" << ProtocolPJLink << "X,1" << false << ""
        << ",\"Hall \"\"A\"\", left\",pjlink,lan,192.0.2.7,4352,,,,%1,,\"X,1\",\r\n";
    QTest::newRow("control and bidirectional characters escaped")
        << QString::fromUtf8("two\nlines\x1B[2J\u202Etxt.exe\u200B") << ProtocolPJLink << ""
        << false << ""
        << ",two\\u000Alines\\u001B[2J\\u202Etxt.exe\\u200B,pjlink,lan,192.0.2.7,4352,,,,%1,,,"
           "\r\n";
    QTest::newRow("formulas guarded")
        << "=HYPERLINK(\"http://x\")" << ProtocolPJLink << "@SUM(A1)" << false << ""
        << ",\"'=HYPERLINK(\"\"http://x\"\")\",pjlink,lan,192.0.2.7,4352,,,,%1,,'@SUM(A1),\r\n";
    QTest::newRow("non-ASCII as it is")
        << QString::fromUtf8("Aula Süd") << ProtocolPJLink << "" << false << ""
        << QString::fromUtf8(",Aula Süd,pjlink,lan,192.0.2.7,4352,,,,%1,,,\r\n");
}

void TestDiscoveryText::csvRow() {
    QFETCH(QString, name);
    QFETCH(QString, protocol);
    QFETCH(QString, model);
    QFETCH(bool, password);
    QFETCH(QString, nativeModel);
    QFETCH(QString, row);
    DiscoveryFind find;
    find.address = QStringLiteral("192.0.2.7");
    find.port = 4352;
    find.protocol = protocol;
    find.mac = QStringLiteral("02:4E:56:00:00:07");
    find.name = name;
    find.model = model;
    find.passwordRequired = password;
    QCOMPARE(QString::fromUtf8(DiscoveryCsvRow(find, DiscoveryName(find), nativeModel)),
             row.arg(find.mac));
    QCOMPARE(DiscoveryCsvHeader(), QByteArray("Group,Name,Protocol,Connection,Address,Port,COMPort,"
                                              "COMSettings,Model,MACAddress,Password,Product,"
                                              "Note\r\n"));
}

void TestDiscoveryText::inFleet_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QString>("mac");
    QTest::addColumn<bool>("known");
    QTest::newRow("own protocol on the default port")
        << "192.0.2.10" << 23 << ProtocolNative << "" << true;
    QTest::newRow("own protocol, other port")
        << "192.0.2.10" << 24 << ProtocolNative << "" << false;
    QTest::newRow("PJLink where the own one is")
        << "192.0.2.10" << 4352 << ProtocolPJLink << "" << false;
    QTest::newRow("PJLink on its stored port")
        << "192.0.2.11" << 4353 << ProtocolPJLink << "" << true;
    QTest::newRow("PJLink default port left empty")
        << "192.0.2.12" << 4352 << ProtocolPJLink << "" << true;
    QTest::newRow("same MAC, new address")
        << "192.0.2.99" << 4352 << ProtocolPJLink << "00:1a:2b:3c:4d:5e" << true;
    QTest::newRow("a serial projector's address is no LAN one")
        << "192.0.2.13" << 23 << ProtocolNative << "" << false;
    QTest::newRow("unknown") << "192.0.2.50" << 4352 << ProtocolPJLink << "02:00:00:00:00:01"
                             << false;
}

void TestDiscoveryText::inFleet() {
    QFETCH(QString, address);
    QFETCH(int, port);
    QFETCH(QString, protocol);
    QFETCH(QString, mac);
    QFETCH(bool, known);
    AppState state;
    PutProjector(state, 1, LanProjector({}, QStringLiteral("192.0.2.10"), {}));
    PutProjector(state, 2,
                 PJLinkProjector({}, QStringLiteral("192.0.2.11"), QStringLiteral("4353")));
    PutProjector(state, 3,
                 PJLinkProjector({}, QStringLiteral("192.0.2.12"), {})
                     .mac(QStringLiteral("00:1A:2B:3C:4D:5E")));
    // Serial now, with the address of its LAN days left in the record.
    PutProjector(state, 4, LanProjector({}, QStringLiteral("192.0.2.13"), {})).ConnectionKind =
        ConnectionSerial;
    DiscoveryFind find;
    find.address = address;
    find.port = quint16(port);
    find.protocol = protocol;
    find.mac = mac;
    QCOMPARE(IsInFleet(state, find), known);
}

QTEST_GUILESS_MAIN(TestDiscoveryText)
#include "test_discovery_text.moc"
