// Wake-on-LAN: the MAC address texts, the packet's bytes, the settings, the
// errors returned instead of a packet, and the packet itself as a receiver
// in another network namespace sees it on UDP port 9.

#include "platform/WakeOnLan.h"

#include "support/NetworkPair.h"

#include <QNetworkDatagram>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

namespace {

const QByteArray Mac = QByteArray::fromHex("001A2B3C4D5E");

} // namespace

class TestWakeOnLan : public QObject {
    Q_OBJECT

  private slots:
    void macAddress_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("as the platform prints it") << "00:1A:2B:3C:4D:5E" << Mac;
        QTest::newRow("dashes, lower case, blanks") << " 00-1a-2b-3c-4d-5e " << Mac;
        QTest::newRow("mixed separators") << "00:1A-2B:3C:4D:5E" << QByteArray();
        QTest::newRow("five bytes") << "00:1A:2B:3C:4D" << QByteArray();
        QTest::newRow("seven bytes") << "00:1A:2B:3C:4D:5E:6F" << QByteArray();
        QTest::newRow("no separators") << "001A2B3C4D5E" << QByteArray();
        QTest::newRow("not hex") << "00:1A:2B:3C:4D:5G" << QByteArray();
        QTest::newRow("empty") << "" << QByteArray();
    }

    void macAddress() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        const std::optional<QByteArray> parsed = MacAddressBytes(text);
        QCOMPARE(parsed.value_or(QByteArray()), bytes);
    }

    void packet() {
        const QByteArray packet = MagicPacket(Mac);
        QCOMPARE(packet.size(), 102);
        QCOMPARE(packet.first(6), QByteArray(6, char(0xFF)));
        for (int i = 0; i < 16; ++i)
            QCOMPARE(packet.mid(6 + 6 * i, 6), Mac);
    }

    void settings_data() {
        QTest::addColumn<QString>("wake");
        QTest::addColumn<QString>("delay");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("seconds");
        QTest::newRow("not set") << ""
                                 << "" << false << 20;
        QTest::newRow("on, 5 s") << "1"
                                 << "5" << true << 5;
        QTest::newRow("on, no wait") << " 1 "
                                     << "0" << true << 0;
        QTest::newRow("off") << "0"
                             << "30" << false << 30;
        QTest::newRow("not 1 is off") << "yes"
                                      << "" << false << 20;
        QTest::newRow("delay not a number") << "1"
                                            << "soon" << true << 20;
        QTest::newRow("negative delay") << "1"
                                        << "-3" << true << 20;
        QTest::newRow("delay too long") << "1"
                                        << "601" << true << 20;
    }

    void settings() {
        QFETCH(QString, wake);
        QFETCH(QString, delay);
        const QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("Norvik3.conf"));
        {
            QSettings s(file, QSettings::IniFormat);
            if (!wake.isEmpty())
                s.setValue("Setting/WakeOnLan", wake);
            if (!delay.isEmpty())
                s.setValue("Setting/WakeOnLanDelay", delay);
        }
        const WakeOnLanSettings read = ReadWakeOnLanSettings(file);
        QFETCH(bool, enabled);
        QFETCH(int, seconds);
        QCOMPARE(read.enabled, enabled);
        QCOMPARE(read.delay, std::chrono::seconds(seconds));
    }

    void refusals_data() {
        QTest::addColumn<QString>("mac");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no MAC learnt") << ""
                                       << "192.0.2.10"
                                       << "no MAC address is known";
        QTest::newRow("bad MAC") << "00:1A"
                                 << "192.0.2.10"
                                 << "is not a MAC address";
        QTest::newRow("host name") << "00:1A:2B:3C:4D:5E"
                                   << "projector.invalid"
                                   << "is not an IPv4 address";
        QTest::newRow("loopback") << "00:1A:2B:3C:4D:5E"
                                  << "127.0.0.1"
                                  << "not an IPv4 address on";
        QTest::newRow("IPv6") << "00:1A:2B:3C:4D:5E"
                              << "::1"
                              << "not an IPv4 address on";
    }

    void refusals() {
        QFETCH(QString, mac);
        QFETCH(QString, address);
        QFETCH(QString, reason);
        const QString error = SendWakeOnLan(mac, address);
        QVERIFY2(error.contains(reason), qPrintable(error));
    }

    // The program's side sends for a projector on the other side; the
    // packet reaches it as a broadcast of the shared network.
    void packetAcrossNamespaces() {
        NetworkPair pair({QStringLiteral("192.0.2.10")});
        if (!pair.isReady())
            QSKIP(qPrintable(pair.error()));
        QVERIFY(pair.enter(NetworkPair::Side::Projectors));
        QUdpSocket receiver;
        const bool bound = receiver.bind(QHostAddress::AnyIPv4, WakeOnLanPort);
        QVERIFY(pair.enter(NetworkPair::Side::Program));
        QVERIFY2(bound, qPrintable(receiver.errorString()));

        QString error;
        const std::optional<QHostAddress> broadcast =
            BroadcastAddressFor(QHostAddress(QStringLiteral("192.0.2.10")), &error);
        QCOMPARE(broadcast.value_or(QHostAddress()), QHostAddress(QStringLiteral("192.0.2.255")));
        QCOMPARE(SendWakeOnLan(QStringLiteral("00:1A:2B:3C:4D:5E"), QStringLiteral("192.0.2.10")),
                 QString());
        QTRY_VERIFY_WITH_TIMEOUT(receiver.hasPendingDatagrams(), 10000);
        const QNetworkDatagram datagram = receiver.receiveDatagram();
        QCOMPARE(datagram.data().size(), 102);
        QCOMPARE(datagram.data(), MagicPacket(Mac));
        QCOMPARE(datagram.senderAddress(), QHostAddress(NetworkPair::ProgramAddress));
    }
};

QTEST_GUILESS_MAIN(TestWakeOnLan)
#include "test_wake_on_lan.moc"
