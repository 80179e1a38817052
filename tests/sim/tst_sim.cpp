// Runs the real simulator and talks to it over loopback TCP and a real
// pseudo-terminal, as the program does.

#include "support/SimProcess.h"

#include <QFile>
#include <QMap>
#include <QTcpSocket>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int Timeout = 20000;

QMap<QString, QByteArray> loadFrames() {
    QMap<QString, QByteArray> frames;
    QFile file(qEnvironmentVariable("NORVIK3_SOURCE_DIR") + "/tests/comm/frames.txt");
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return frames;
    while (!file.atEnd()) {
        const QList<QByteArray> words = file.readLine().simplified().split(' ');
        if (words.size() == 14)
            frames.insert(QString::fromLatin1(words[0]), QByteArray::fromHex(words.mid(1).join()));
    }
    return frames;
}

// Reads from a connected socket until `count` bytes came or the peer closed.
QByteArray readBytes(QTcpSocket& socket, int count, int* chunks = nullptr) {
    QByteArray reply;
    while (reply.size() < count) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(Timeout))
            break;
        const QByteArray chunk = socket.readAll();
        if (!chunk.isEmpty() && chunks)
            ++*chunks;
        reply += chunk;
    }
    return reply;
}

// One command the way the program sends it: connect, send, read, close.
QByteArray exchange(quint16 port, const QByteArray& frame, int replySize) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(Timeout))
        return QByteArray();
    socket.write(frame);
    return readBytes(socket, replySize);
}

QByteArray data(int value) {
    return QByteArray("\x1D") + char(value & 0xFF) + char(value >> 8);
}

const QByteArray Ack("\x06", 1);
const QByteArray Refused("\x15", 1);

// The slave side of a simulator pty, opened like a serial port.
class PtyPort {
  public:
    explicit PtyPort(const QString& path) : m_fd(::open(qPrintable(path), O_RDWR | O_NOCTTY)) {
        termios attributes{};
        if (m_fd >= 0 && ::tcgetattr(m_fd, &attributes) == 0) {
            ::cfmakeraw(&attributes);
            ::tcsetattr(m_fd, TCSANOW, &attributes);
        }
    }
    ~PtyPort() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isOpen() const { return m_fd >= 0; }
    void write(const QByteArray& bytes) {
        QCOMPARE(::write(m_fd, bytes.constData(), size_t(bytes.size())), bytes.size());
    }
    QByteArray read(int count) {
        QByteArray reply;
        while (reply.size() < count) {
            pollfd pfd{m_fd, POLLIN, 0};
            if (::poll(&pfd, 1, Timeout) <= 0)
                break;
            char chunk[64];
            const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
            if (n <= 0)
                break;
            reply.append(chunk, int(n));
        }
        return reply;
    }

  private:
    int m_fd;
};

} // namespace

class TestSim : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        m_frames = loadFrames();
        QCOMPARE(m_frames.size(), 56);
    }

    void everyFrameIsAnsweredAndRecorded() {
        SimProcess sim({"--tcp", "1"});
        QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
        QStringList sent;
        for (auto it = m_frames.cbegin(); it != m_frames.cend(); ++it) {
            const bool isGet = it.value()[7] == 2;
            const QByteArray reply = exchange(sim.tcpPort(1), it.value(), isGet ? 3 : 1);
            QVERIFY2(reply.size() == (isGet ? 3 : 1) && reply[0] == (isGet ? 0x1D : 0x06),
                     qPrintable(it.key() + ": " + reply.toHex()));
            sent << QString::fromLatin1(it.value().toHex().toUpper());
        }
        QCOMPARE(sim.command("frames 1"), "OK 56 " + sent.join(' '));
        QCOMPARE(sim.command("connections 1"), QString("OK 56"));
        QCOMPARE(sim.command("clear 1"), QString("OK"));
        QCOMPARE(sim.command("frames 1"), QString("OK 0"));
        QCOMPARE(sim.command("connections 1"), QString("OK 0"));
    }

    void powerCoolsDownToOff() {
        SimProcess sim({"--tcp", "1", "--cooldown-ms", "300"});
        QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
        const quint16 port = sim.tcpPort(1);
        QCOMPARE(exchange(port, m_frames["PowerGetCommand"], 3), data(0));
        QCOMPARE(exchange(port, m_frames["PowerOnCommand"], 1), Ack);
        QCOMPARE(exchange(port, m_frames["PowerGetCommand"], 3), data(1));
        QCOMPARE(sim.command("cooldown 600000"), QString("OK"));
        QCOMPARE(exchange(port, m_frames["PowerOffCommand"], 1), Ack);
        QCOMPARE(exchange(port, m_frames["PowerGetCommand"], 3), data(2));
        // Switching on while cooling down is acknowledged but does not interrupt it.
        QCOMPARE(exchange(port, m_frames["PowerOnCommand"], 1), Ack);
        QCOMPARE(exchange(port, m_frames["PowerGetCommand"], 3), data(2));
        QCOMPARE(sim.command("power 1 2"), QString("OK"));
        QCOMPARE(sim.command("cooldown 300"), QString("OK"));
        QCOMPARE(sim.command("power 1 2"), QString("OK"));
        QTRY_COMPARE_WITH_TIMEOUT(exchange(port, m_frames["PowerGetCommand"], 3), data(0), Timeout);
    }

    void setCommandsChangeState() {
        SimProcess sim({"--tcp", "1"});
        QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
        const quint16 port = sim.tcpPort(1);
        QCOMPARE(exchange(port, m_frames["InputSet3Command"], 1), Ack);
        QCOMPARE(exchange(port, m_frames["InputGetCommand"], 3), data(3));
        QCOMPARE(exchange(port, m_frames["AspectSet16Command"], 1), Ack);
        QCOMPARE(exchange(port, m_frames["AspectGetCommand"], 3), data(16));
        QCOMPARE(exchange(port, m_frames["MirrorHVInverseCommand"], 1), Ack);
        for (int i = 0; i < 60; ++i)
            QCOMPARE(exchange(port, m_frames["BrightnessIncrementCommand"], 1), Ack);
        QCOMPARE(exchange(port, m_frames["BrightnessGetCommand"], 3), data(178));
        QCOMPARE(exchange(port, m_frames["SharpnessDecrementCommand"], 1), Ack);
        QCOMPARE(exchange(port, m_frames["SharpnessGetCommand"], 3), data(124));
        QVERIFY(sim.command("state 1").startsWith("OK power=0 input=3 aspect=16 error=0 lamp=1200 "
                                                  "filter=300 brightness=178 contrast=128"));
        QVERIFY(sim.command("state 1").contains(" sharpness=124 mirror=3 "));
        QCOMPARE(sim.command("input 1 5"), QString("OK"));
        QCOMPARE(exchange(port, m_frames["InputGetCommand"], 3), data(5));
    }

    void hoursCountAndReset() {
        SimProcess sim({"--tcp", "1", "--hour-ms", "50", "--lamp", "1500"});
        QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
        const quint16 port = sim.tcpPort(1);
        QCOMPARE(exchange(port, m_frames["LampTimeGetCommand"], 3), data(1500));
        QCOMPARE(exchange(port, m_frames["FilterTimeGetCommand"], 3), data(300));
        QCOMPARE(exchange(port, m_frames["PowerOnCommand"], 1), Ack);
        QTRY_VERIFY_WITH_TIMEOUT(
            uint8_t(exchange(port, m_frames["LampTimeGetCommand"], 3)[1]) > 0xDC, Timeout);
        QCOMPARE(exchange(port, m_frames["LampTimeResetCommand"], 1), Ack);
        QCOMPARE(exchange(port, m_frames["FilterTimeResetCommand"], 1), Ack);
        QCOMPARE(sim.command("power 1 0"), QString("OK"));
        QCOMPARE(exchange(port, m_frames["LampTimeGetCommand"], 3), data(0));
        QCOMPARE(exchange(port, m_frames["FilterTimeGetCommand"], 3), data(0));
        QCOMPARE(sim.command("lamp 1 2000"), QString("OK"));
        QCOMPARE(exchange(port, m_frames["LampTimeGetCommand"], 3), data(2000));
    }

    void invalidFramesAreRefused() {
        SimProcess sim({"--tcp", "1"});
        QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
        const quint16 port = sim.tcpPort(1);
        QByteArray badHeader = m_frames["PowerGetCommand"];
        badHeader[2] = 0x04;
        QByteArray unknownType = m_frames["PowerGetCommand"];
        unknownType[10] = 0x61;
        QByteArray badCheck = m_frames["PowerOnCommand"];
        badCheck[5] = 0x00;
        QByteArray badValue = m_frames["InputSet6Command"];
        badValue[11] = 7;
        for (const QByteArray& frame : {badHeader, unknownType, badCheck, badValue})
            QCOMPARE(exchange(port, frame, 1), Refused);
        QCOMPARE(exchange(port, m_frames["PowerGetCommand"], 3), data(0));
        QCOMPARE(exchange(port, m_frames["InputGetCommand"], 3), data(0));
    }

    void framesArriveInPiecesAndBackToBack() {
        SimProcess sim({"--tcp", "1"});
        QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, sim.tcpPort(1));
        QVERIFY(socket.waitForConnected(Timeout));
        const QByteArray frame = m_frames["LampTimeGetCommand"];
        socket.write(frame.left(4));
        QVERIFY(socket.waitForBytesWritten(Timeout));
        QCOMPARE(sim.command("connections 1"), QString("OK 1"));
        QCOMPARE(sim.command("frames 1"), QString("OK 0"));
        socket.write(frame.mid(4));
        QCOMPARE(readBytes(socket, 3), data(1200));
        socket.write(m_frames["PowerGetCommand"] + m_frames["AutoAdjustExecuteCommand"]);
        QCOMPARE(readBytes(socket, 4), data(0) + Ack);
    }

    void faultsShapeTheReplies() {
        SimProcess sim({"--tcp", "2"});
        QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
        const quint16 port = sim.tcpPort(1);
        const QByteArray powerGet = m_frames["PowerGetCommand"];

        QCOMPARE(sim.command("refuse 1 on"), QString("OK"));
        QCOMPARE(exchange(port, powerGet, 1), Refused);
        QCOMPARE(exchange(port, m_frames["PowerOnCommand"], 1), Refused);
        QCOMPARE(sim.command("refuse 1 off"), QString("OK"));
        QCOMPARE(exchange(port, powerGet, 3), data(0));

        QCOMPARE(sim.command("raw 1 1D0700"), QString("OK"));
        QCOMPARE(exchange(port, powerGet, 3), data(7));
        QCOMPARE(exchange(port, powerGet, 3), data(0));

        QCOMPARE(sim.command("trailing all 0A0B"), QString("OK"));
        QCOMPARE(exchange(sim.tcpPort(2), powerGet, 5), data(0) + "\x0A\x0B");
        QCOMPARE(sim.command("trailing all off"), QString("OK"));

        QCOMPARE(sim.command("error 1 3"), QString("OK"));
        QCOMPARE(exchange(port, m_frames["ErrorStatusGetCommand"], 3), data(3));
        QCOMPARE(exchange(port, powerGet, 3), data(0));

        QCOMPARE(sim.command("delay 1 100"), QString("OK"));
        QCOMPARE(exchange(port, powerGet, 3), data(0));
        QCOMPARE(sim.command("delay 1 0"), QString("OK"));

        QCOMPARE(sim.command("split 1 250"), QString("OK"));
        {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(socket.waitForConnected(Timeout));
            socket.write(powerGet);
            int chunks = 0;
            QCOMPARE(readBytes(socket, 3, &chunks), data(0));
            QVERIFY(chunks >= 2);
        }
        QCOMPARE(sim.command("split 1 0"), QString("OK"));

        QCOMPARE(sim.command("closemid 1 on"), QString("OK"));
        {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(socket.waitForConnected(Timeout));
            socket.write(powerGet);
            QCOMPARE(readBytes(socket, 3), QByteArray("\x1D"));
            QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, Timeout);
        }
        QCOMPARE(sim.command("closemid 1 off"), QString("OK"));

        // A greeting goes out on connecting, before any frame; the frame is
        // still answered after it.
        QCOMPARE(sim.command("greeting 1 PJLINK 0"), QString("OK"));
        QCOMPARE(exchange(port, powerGet, 12), QByteArray("PJLINK 0\r") + data(0));
        QCOMPARE(sim.command("greeting 1 off"), QString("OK"));
        QCOMPARE(exchange(port, powerGet, 3), data(0));

        QCOMPARE(sim.command("clear 1"), QString("OK"));
        QCOMPARE(sim.command("silent 1 on"), QString("OK"));
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(socket.waitForConnected(Timeout));
        socket.write(m_frames["PowerOnCommand"]);
        QTRY_COMPARE_WITH_TIMEOUT(
            sim.command("frames 1"),
            "OK 1 " + QString::fromLatin1(m_frames["PowerOnCommand"].toHex().toUpper()), Timeout);
        QVERIFY(!socket.waitForReadyRead(300));
        QVERIFY(sim.command("state 1").startsWith("OK power=0 "));
    }

    void ptyProjectorAnswersAcrossReopens() {
        SimProcess sim({"--tcp", "1", "--pty", "1"});
        QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
        QVERIFY(sim.ptyPath(2).startsWith("/dev/"));
        QCOMPARE(sim.tcpPort(2), quint16(0));
        {
            PtyPort port(sim.ptyPath(2));
            QVERIFY(port.isOpen());
            port.write(m_frames["InputSet2Command"].left(6));
            port.write(m_frames["InputSet2Command"].mid(6));
            QCOMPARE(port.read(1), Ack);
        }
        PtyPort port(sim.ptyPath(2));
        QVERIFY(port.isOpen());
        QCOMPARE(sim.command("split 2 100"), QString("OK"));
        port.write(m_frames["InputGetCommand"]);
        QCOMPARE(port.read(3), data(2));
        QCOMPARE(sim.command("frames 2").section(' ', 0, 1), QString("OK 2"));
        QCOMPARE(sim.command("state 1").section(' ', 2, 2), QString("input=0"));
    }

    void controlChannelRejectsBadLines() {
        SimProcess sim({"--tcp", "2", "--control-port", "0"});
        QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
        for (const char* line : {"bogus 1", "power 3 1", "power 1", "refuse 1 maybe",
                                 "trailing 1 0G", "raw 1", "greeting 1", "frames all", "lamp 1 -5"})
            QVERIFY2(sim.command(line).startsWith("ERR "), line);
        QCOMPARE(sim.command("power all 1"), QString("OK"));

        QTcpSocket control;
        control.connectToHost(QHostAddress::LocalHost, sim.controlPort());
        QVERIFY(control.waitForConnected(Timeout));
        control.write("state 2\nnope\n");
        QTRY_VERIFY_WITH_TIMEOUT(control.bytesAvailable() > 0 && control.canReadLine(), Timeout);
        QVERIFY(control.readLine().startsWith("OK power=1 "));
        QTRY_VERIFY_WITH_TIMEOUT(control.canReadLine(), Timeout);
        QVERIFY(control.readLine().startsWith("ERR "));
    }

  private:
    QMap<QString, QByteArray> m_frames;
};

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
