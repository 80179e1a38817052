// Byte-level and text-level rules of the protocol, without any I/O: reply
// framing and classification, data values, display texts, queue bookkeeping,
// the text of ping and neighbour-table output, and serial line settings.

#include "support/CommTestKit.h"

#include "comm/CommandQueue.h"
#include "comm/HostTools.h"
#include "comm/StatusDisplay.h"
#include "mail/AlertQueue.h"
#include "protocol/CommandTable.h"
#include "protocol/ReplyFraming.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

QByteArray bytes(std::initializer_list<int> list) {
    QByteArray out;
    for (int b : list)
        out.append(char(b));
    return out;
}

} // namespace

class TestCommBytes : public QObject {
    Q_OBJECT

  private slots:
    void completenessByLeadByte() {
        QVERIFY(!IsReplyComplete(QByteArray()));
        QVERIFY(IsReplyComplete(bytes({0x06})));
        QVERIFY(IsReplyComplete(bytes({0x15})));
        QVERIFY(!IsReplyComplete(bytes({0x1D})));
        QVERIFY(!IsReplyComplete(bytes({0x1D, 0x01})));
        QVERIFY(IsReplyComplete(bytes({0x1D, 0x01, 0x00})));
        QVERIFY(!IsReplyComplete(bytes({0x1C, 0x00})));
        QVERIFY(IsReplyComplete(bytes({0x1C, 0x00, 0x00, 0x44})));
        QVERIFY(IsReplyComplete(bytes({0x42})));
        QVERIFY(IsReplyComplete(bytes({0x00})));
    }

    void classificationFollowsTheAction() {
        const CommandTable& t = BuildCommandTable();
        const QByteArray get = t.PowerGetCommand.toByteArray();
        const QByteArray set = t.PowerOnCommand.toByteArray();
        const QByteArray inc = t.BrightnessIncrementCommand.toByteArray();
        const QByteArray exec = t.LampTimeResetCommand.toByteArray();

        QCOMPARE(ClassifyReply(get, bytes({0x1D, 0x01, 0x00}), QueueSent), qint16(QueueDataReply));
        QCOMPARE(ClassifyReply(get, bytes({0x06}), QueueSent), qint16(QueueRefused));
        QCOMPARE(ClassifyReply(get, bytes({0x1C, 0x00, 0x00}), QueueSent), qint16(QueueRefused));
        QCOMPARE(ClassifyReply(set, bytes({0x06}), QueueSent), qint16(QueueAcknowledged));
        QCOMPARE(ClassifyReply(set, bytes({0x06, 0x0A, 0x0B}), QueueSent),
                 qint16(QueueAcknowledged));
        QCOMPARE(ClassifyReply(set, bytes({0x15}), QueueSent), qint16(QueueRefused));
        QCOMPARE(ClassifyReply(set, bytes({0x1D, 0x01, 0x00}), QueueSent), qint16(QueueRefused));
        QCOMPARE(ClassifyReply(inc, bytes({0x06}), QueueSent), qint16(QueueAcknowledged));
        QCOMPARE(ClassifyReply(exec, bytes({0x15}), QueueSent), qint16(QueueRefused));

        // Bytes that start no reply of the protocol (a text greeting, noise)
        // are no answer, whatever the command.
        for (const QByteArray& foreign : {QByteArray("PJLINK 0\r"), bytes({0x77}), bytes({0x00})}) {
            for (const QByteArray& command : {get, set, inc, exec})
                QCOMPARE(ClassifyReply(command, foreign, QueueSent), qint16(QueueTimedOut));
        }

        // Action 3 is classified like a set; an unknown action leaves the state.
        QByteArray action3 = set;
        action3[7] = 3;
        QCOMPARE(ClassifyReply(action3, bytes({0x06}), QueueSent), qint16(QueueAcknowledged));
        QByteArray action9 = set;
        action9[7] = 9;
        QCOMPARE(ClassifyReply(action9, bytes({0x06}), QueueSent), qint16(QueueSent));
    }

    void dataValues() {
        QCOMPARE(DataValue(bytes({0x1D, 0xD0, 0x07})), qint16(2000));
        QCOMPARE(DataValue(bytes({0x1D, 0x02, 0x00, 0x99})), qint16(2));
        QCOMPARE(DataValue(bytes({0x1D, 0xFF, 0x7F})), qint16(32767));
        // High byte 0x80 and above: read unsigned, clipped, never negative.
        QCOMPARE(DataValue(bytes({0x1D, 0x00, 0x80})), qint16(32767));
        QCOMPARE(DataValue(bytes({0x1D, 0xFF, 0xFF})), qint16(32767));
        QCOMPARE(DataValue(bytes({0x1D, 0x01})), qint16(-1));
    }

    // Random streams cut into random pieces: every complete reply the framing
    // yields is classified into a valid state, values stay in range, and the
    // pieces put back together equal the stream.
    void fuzzFramingAndClassification() {
        const CommandTable& t = BuildCommandTable();
        const auto& names = CommandTable::names();
        QRandomGenerator rng(20240131);
        for (int round = 0; round < 3000; ++round) {
            QByteArray stream;
            const int length = int(rng.bounded(0, 40));
            for (int i = 0; i < length; ++i) {
                // Bias towards the lead bytes the framing knows.
                static const int leads[] = {0x06, 0x15, 0x1C, 0x1D};
                stream.append(
                    char(rng.bounded(4) == 0 ? leads[rng.bounded(4)] : int(rng.bounded(256))));
            }
            const QByteArray command =
                t.byName(QString::fromLatin1(names[rng.bounded(int(names.size()))]))->toByteArray();
            QByteArray buffer;
            QByteArray reassembled;
            int at = 0;
            while (at < stream.size()) {
                const int piece = int(rng.bounded(1, 5));
                buffer += stream.mid(at, piece);
                at += piece;
                if (!IsReplyComplete(buffer))
                    continue;
                const quint8 lead = quint8(buffer.at(0));
                if (lead == 0x1C || lead == 0x1D)
                    QVERIFY(buffer.size() >= 3);
                const qint16 state = ClassifyReply(command, buffer, QueueSent);
                QVERIFY(state == QueueAcknowledged || state == QueueRefused ||
                        state == QueueDataReply || state == QueueTimedOut);
                QCOMPARE(state == QueueTimedOut, !IsProtocolLead(lead));
                if (state == QueueDataReply) {
                    QCOMPARE(FrameAction(command), ActionGet);
                    QVERIFY(DataValue(buffer) >= 0);
                }
                reassembled += std::exchange(buffer, QByteArray());
            }
            reassembled += buffer;
            QCOMPARE(reassembled, stream);
            // Whatever is left is an unfinished error or data reply.
            if (!buffer.isEmpty())
                QVERIFY(quint8(buffer.at(0)) == 0x1C || quint8(buffer.at(0)) == 0x1D);
        }
    }

    void displayTexts() {
        QCOMPARE(PowerDisplayText(2), QStringLiteral("COOLDOWN"));
        QCOMPARE(PowerDisplayText(-1), QStringLiteral("-"));
        QCOMPARE(ErrorDisplayText(16), QStringLiteral("Other Error"));
        QCOMPARE(ErrorDisplayText(5), QStringLiteral("Air Flow Error"));
        QCOMPARE(ErrorDisplayText(10), QStringLiteral("-"));
        QCOMPARE(HoursDisplayText(1520), QStringLiteral("1520 h"));
        QCOMPARE(HoursDisplayText(-1), QStringLiteral("-"));
        QCOMPARE(PictureDisplayText(125, SharpnessValueOffset), QStringLiteral("+0"));
        QCOMPARE(PictureDisplayText(125, PictureValueOffset), QStringLiteral("-3"));
        QCOMPARE(PictureDisplayText(140, PictureValueOffset), QStringLiteral("+12"));
        QCOMPARE(StoredStatus(StatusItem::Power, 7), qint16(-1));
        QCOMPARE(StoredStatus(StatusItem::Aspect, 16), qint16(16));
        QCOMPARE(StoredStatus(StatusItem::Aspect, 8), qint16(-1));
        QCOMPARE(StoredStatus(StatusItem::LampTime, 4000), qint16(4000));
    }

    void inputAndAspectThroughTheModel() {
        AppState state;
        state.ModelCount = 1;
        ModelInfo& m = state.Models[1];
        m.Name = QStringLiteral("LX-10");
        m.InputNum = 3;
        m.Input[1] = QStringLiteral("0;RGB1");
        m.Input[2] = QStringLiteral("3;VIDEO");
        m.Input[3] = QStringLiteral("3;S-VIDEO");
        m.AspectNum = 1;
        m.Aspect[1] = QStringLiteral("16;NATIVE 'wide");
        state.ProjectorCount = 1;
        ProjectorInfo& p = state.Projectors[1];
        p.ModelName = QStringLiteral("LX-10");
        p.InputStatus = 3;
        p.AspectStatus = 16;
        QCOMPARE(InputDisplayText(state, 1), QStringLiteral("VIDEO"));
        QCOMPARE(DropDownIndex(state, 1, StatusItem::Input), 1);
        QCOMPARE(AspectDisplayText(state, 1), QStringLiteral("NATIVE "));
        QCOMPARE(DropDownIndex(state, 1, StatusItem::Aspect), 0);
        p.InputStatus = 5;
        QCOMPARE(InputDisplayText(state, 1), QStringLiteral("-"));
        QCOMPARE(DropDownIndex(state, 1, StatusItem::Input), -1);
        p.ModelName = QStringLiteral("unknown");
        p.InputStatus = 0;
        QCOMPARE(InputDisplayText(state, 1), QStringLiteral("-"));
        p.PowerStatus = 2;
        QCOMPARE(DropDownIndex(state, 1, StatusItem::Power), 0);
        p.MirrorStatus = 3;
        QCOMPARE(DropDownIndex(state, 1, StatusItem::Mirror), 3);
        p.MuteStatus = -1;
        QCOMPARE(DropDownIndex(state, 1, StatusItem::Mute), -1);
    }

    void queueCopiesWrapsAndRefusesWhenFull() {
        QTemporaryDir dir;
        AppState state;
        EnableCommLog(state, dir);
        const CommandTable& t = BuildCommandTable();

        // Two copies of one frame are independent of each other and the table.
        QVERIFY(EnqueueCommand(state, 4, t.PowerGetCommand));
        QVERIFY(EnqueueCommand(state, 4, t.PowerGetCommand));
        state.Queues[4].entries[1].command[5] = 0x00;
        QCOMPARE(state.Queues[4].entries[2].command, t.PowerGetCommand.toByteArray());
        QCOMPARE(t.PowerGetCommand.bytes[5], quint8(0x19));
        QCOMPARE(QueueLength(state, 4), 2);
        ResetProjectorQueue(state, 4);

        for (int i = 0; i < 255; ++i)
            QVERIFY(EnqueueCommand(state, 4, t.InputGetCommand));
        QCOMPARE(QueueLength(state, 4), 255);
        QVERIFY(!EnqueueCommand(state, 4, t.PowerOnCommand));
        QCOMPARE(QueueLength(state, 4), 255);
        QCOMPARE(CurrentQueueEntry(state, 4).command, t.InputGetCommand.toByteArray());
        QCOMPARE(CommLogLines(dir), QStringList{QStringLiteral("Queue-Full(4):") +
                                                Hex(t.PowerOnCommand.toByteArray())});

        // Drain everything: slot 256 is followed by slot 1.
        for (int i = 0; i < 255; ++i)
            FreeCurrentEntry(state, 4);
        QVERIFY(IsQueueEmpty(state, 4));
        QCOMPARE(state.Queues[4].QueueReadIndex, qint16(256));
        QVERIFY(EnqueueCommand(state, 4, t.MuteGetCommand));
        QCOMPARE(state.Queues[4].QueueWriteIndex, qint16(1));
        FreeCurrentEntry(state, 4);
        QCOMPARE(state.Queues[4].QueueReadIndex, qint16(1));

        QVERIFY(!EnqueueCommand(state, 0, t.PowerGetCommand));
        QVERIFY(!EnqueueCommand(state, 257, t.PowerGetCommand));
    }

    void alertRingRefusesWhenFull() {
        AppState state;
        for (int i = 0; i < 256; ++i)
            QVERIFY(EnqueueAlertMessage(state, QString::number(i)));
        QVERIFY(!EnqueueAlertMessage(state, QStringLiteral("one too many")));
        QCOMPARE(PeekAlertMessage(state), QStringLiteral("0"));
        QCOMPARE(AlertQueueLength(state), 256);
    }

    void addressesHandedToCommands() {
        QVERIFY(IsValidHostAddress(QStringLiteral("192.168.0.10")));
        QVERIFY(IsValidHostAddress(QStringLiteral("projector-3.example.org")));
        QVERIFY(IsValidHostAddress(QStringLiteral("localhost")));
        QVERIFY(!IsValidHostAddress(QString()));
        QVERIFY(!IsValidHostAddress(QStringLiteral("256.1.1.1")));
        QVERIFY(!IsValidHostAddress(QStringLiteral("1.2.3")));
        QVERIFY(!IsValidHostAddress(QStringLiteral("-f")));
        QVERIFY(!IsValidHostAddress(QStringLiteral("10.0.0.1; rm -rf /")));
        QVERIFY(!IsValidHostAddress(QStringLiteral("host name")));
        QVERIFY(!IsValidHostAddress(QStringLiteral("a..b")));
        QVERIFY(!IsValidHostAddress(QStringLiteral("$(reboot)")));
    }

    void pingOutput() {
        QVERIFY(PingAnswered(
            QStringLiteral("PING 127.0.0.1 (127.0.0.1) 56(84) bytes of data.\n"
                           "64 bytes from 127.0.0.1: icmp_seq=1 ttl=64 time=0.074 ms\n\n"
                           "--- 127.0.0.1 ping statistics ---\n"
                           "1 packets transmitted, 1 received, 0% packet loss, time 0ms\n")));
        QVERIFY(!PingAnswered(
            QStringLiteral("PING 192.0.2.55 (192.0.2.55) 56(84) bytes of data.\n\n"
                           "--- 192.0.2.55 ping statistics ---\n"
                           "1 packets transmitted, 0 received, 100% packet loss, time 0ms\n")));
        QVERIFY(!PingAnswered(QString()));
    }

    void neighbourTableOutput() {
        const QString address = QStringLiteral("192.0.2.1");
        QCOMPARE(
            ParseNeighbourMac(
                QStringLiteral("192.0.2.1 dev eth0 lladdr 02:fc:00:00:00:05 STALE \n"), address),
            QStringLiteral("02:FC:00:00:00:05"));
        QCOMPARE(
            ParseNeighbourMac(
                QStringLiteral("192.0.2.1 dev eth0 lladdr 00:1a:2b:3c:4d:5e router REACHABLE\n"),
                address),
            QStringLiteral("00:1A:2B:3C:4D:5E"));
        QCOMPARE(
            ParseNeighbourMac(
                QStringLiteral("192.0.2.1 dev eth0 lladdr 00:1a:2b:3c:4d:5e PERMANENT\n"), address),
            QString());
        QCOMPARE(ParseNeighbourMac(
                     QStringLiteral("192.0.2.1 dev lo lladdr 00:00:00:00:00:00 NOARP\n"), address),
                 QString());
        QCOMPARE(ParseNeighbourMac(QStringLiteral("192.0.2.1 dev eth0 FAILED\n"), address),
                 QString());
        QCOMPARE(ParseNeighbourMac(QStringLiteral("192.0.2.1 dev eth0  INCOMPLETE\n"), address),
                 QString());
        QCOMPARE(ParseNeighbourMac(QString(), address), QString());
        // Another address (192.0.2.10 contains 192.0.2.1) is not taken.
        QCOMPARE(
            ParseNeighbourMac(
                QStringLiteral("192.0.2.10 dev eth0 lladdr 00:1a:2b:3c:4d:5e DELAY\n"), address),
            QString());
        // A later matching line overwrites an earlier one.
        QCOMPARE(
            ParseNeighbourMac(QStringLiteral("192.0.2.1 dev eth0 lladdr aa:aa:aa:aa:aa:aa STALE\n"
                                             "192.0.2.1 dev eth1 lladdr bb:bb:bb:bb:bb:0b PROBE\n"),
                              address),
            QStringLiteral("BB:BB:BB:BB:BB:0B"));
    }

    void serialLineSettings() {
        const SerialLineSettings s = ParseComSettings(QStringLiteral("19200,n,8,1"));
        QVERIFY(s.valid);
        QCOMPARE(s.baudRate, 19200);
        QCOMPARE(s.parity, QSerialPort::NoParity);
        QCOMPARE(s.dataBits, QSerialPort::Data8);
        QCOMPARE(s.stopBits, QSerialPort::OneStop);
        const SerialLineSettings e = ParseComSettings(QStringLiteral("9600,E,7,1.5"));
        QVERIFY(e.valid);
        QCOMPARE(e.parity, QSerialPort::EvenParity);
        QCOMPARE(e.dataBits, QSerialPort::Data7);
        QCOMPARE(e.stopBits, QSerialPort::OneAndHalfStop);
        QCOMPARE(ParseComSettings(QStringLiteral("4800,s,5,2")).parity, QSerialPort::SpaceParity);
        QVERIFY(!ParseComSettings(QStringLiteral("19200,x,8,1")).valid);
        QVERIFY(!ParseComSettings(QStringLiteral("19200,n,9,1")).valid);
        QVERIFY(!ParseComSettings(QStringLiteral("fast,n,8,1")).valid);
        QVERIFY(!ParseComSettings(QStringLiteral("19200,n,8")).valid);
        QVERIFY(!ParseComSettings(QString()).valid);
    }
};

QTEST_GUILESS_MAIN(TestCommBytes)
#include "test_comm_bytes.moc"
