#pragma once

// Runs the projector simulator (norvik3-sim) for a test.
//
//   SimProcess sim({"--tcp", "2", "--pty", "1", "--cooldown-ms", "200"});
//   QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
//   quint16 port = sim.tcpPort(1);        // projector 1 on 127.0.0.1:port
//   QString tty = sim.ptyPath(3);         // projector 3 on a pseudo-terminal
//   quint16 pj = sim.pjlinkPort(4);       // with --pjlink 1: PJLink projector 4
//   QCOMPARE(sim.command("error 1 3"), QString("OK"));
//
// The binary comes from the environment variable NORVIK3_SIM (set for every
// test by norvik_add_test). The constructor waits for the simulator's READY
// line; the destructor kills the process. Projector ids: 1..N are the TCP
// ones, N+1..N+M the pty ones, N+M+1..N+M+K the PJLink ones. command() sends one control line (see
// `norvik3-sim --help`) and returns the simulator's one-line answer, which
// starts with "OK" or "ERR"; an empty string means no answer came.
//
// Only Qt Core is needed.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>

class SimProcess {
  public:
    explicit SimProcess(const QStringList& arguments,
                        std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
        const QString program = qEnvironmentVariable("NORVIK3_SIM");
        if (program.isEmpty()) {
            m_error = QStringLiteral("NORVIK3_SIM is not set");
            return;
        }
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(program, arguments);
        if (!m_process.waitForStarted(int(timeout.count()))) {
            m_error = QStringLiteral("cannot start %1: %2").arg(program, m_process.errorString());
            return;
        }
        const QDeadlineTimer deadline(timeout);
        for (;;) {
            const QString line = readLine(deadline);
            if (line.isNull()) {
                m_error = QStringLiteral("simulator gave no READY line");
                return;
            }
            if (line == QLatin1String("READY")) {
                m_ready = true;
                return;
            }
            const QStringList words = line.split(QLatin1Char(' '));
            if (words.size() == 4 && words[0] == QLatin1String("TCP"))
                m_ports.insert(words[1].toInt(), quint16(words[3].toUInt()));
            else if (words.size() == 4 && words[0] == QLatin1String("PJLINK"))
                m_pjlinkPorts.insert(words[1].toInt(), quint16(words[3].toUInt()));
            else if (words.size() == 3 && words[0] == QLatin1String("PTY"))
                m_ptys.insert(words[1].toInt(), words[2]);
            else if (words.size() == 3 && words[0] == QLatin1String("CONTROL"))
                m_controlPort = quint16(words[2].toUInt());
        }
    }

    ~SimProcess() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }

    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // True once the simulator printed READY; otherwise errorString() says why.
    bool isReady() const { return m_ready; }
    QString errorString() const { return m_error; }

    // The TCP port of a TCP projector id, 0 for any other id.
    quint16 tcpPort(int id) const { return m_ports.value(id, 0); }
    // The TCP port of a PJLink projector id, 0 for any other id.
    quint16 pjlinkPort(int id) const { return m_pjlinkPorts.value(id, 0); }
    // The slave path of a pty projector id, empty for any other id.
    QString ptyPath(int id) const { return m_ptys.value(id); }
    // The control port when started with --control-port, else 0.
    quint16 controlPort() const { return m_controlPort; }

    // Sends one control line and returns the answer line ("" on time-out).
    QString command(const QString& line,
                    std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
        if (!m_ready)
            return QString();
        m_process.write((line + QLatin1Char('\n')).toLocal8Bit());
        const QString answer = readLine(QDeadlineTimer(timeout));
        return answer.isNull() ? QString() : answer;
    }

  private:
    QString readLine(const QDeadlineTimer& deadline) {
        while (!m_process.canReadLine()) {
            if (m_process.state() == QProcess::NotRunning || deadline.hasExpired())
                return QString();
            m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        }
        return QString::fromLocal8Bit(m_process.readLine()).trimmed();
    }

    QProcess m_process;
    QMap<int, quint16> m_ports;
    QMap<int, quint16> m_pjlinkPorts;
    QMap<int, QString> m_ptys;
    quint16 m_controlPort = 0;
    bool m_ready = false;
    QString m_error;
};
