#pragma once

// Two network namespaces joined by a veth pair, for tests and benchmarks
// that need real broadcasts, real connects to other hosts and a real
// neighbour table without touching any network outside this machine.
//
//   NetworkPair pair({"192.0.2.10", "192.0.2.11"});
//   if (!pair.isReady()) QSKIP(qPrintable(pair.error()));
//   pair.enter(NetworkPair::Side::Projectors);   // what starts now runs there
//   SimProcess sim(...);
//   pair.enter(NetworkPair::Side::Program);      // this thread's sockets here
//
// The program's side has 192.0.2.1/24, the projectors' side every address
// given (TEST-NET-1, each /24 with its broadcast). Sockets and child
// processes belong to the namespace the calling thread was in when they
// were made. The destructor puts the thread back where it was and removes
// both namespaces. Needs root (or CAP_SYS_ADMIN and CAP_NET_ADMIN) and `ip`.

#include <QProcess>
#include <QString>
#include <QStringList>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

class NetworkPair {
  public:
    enum class Side { Original, Program, Projectors };
    static inline const QString ProgramAddress = QStringLiteral("192.0.2.1");

    explicit NetworkPair(const QStringList& projectorAddresses) {
        const QString tag = QString::number(::getpid());
        m_program = QStringLiteral("nvdisc-p-") + tag;
        m_projectors = QStringLiteral("nvdisc-j-") + tag;
        const QString vethProgram = QStringLiteral("nvp") + tag;
        m_vethProjectors = QStringLiteral("nvj") + tag;
        const QString& vethProjectors = m_vethProjectors;
        m_original = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        QStringList steps{
            QStringLiteral("netns add %1").arg(m_program),
            QStringLiteral("netns add %1").arg(m_projectors),
            QStringLiteral("link add %1 netns %2 type veth peer name %3 netns %4")
                .arg(vethProgram, m_program, vethProjectors, m_projectors),
            QStringLiteral("-n %1 link set lo up").arg(m_program),
            QStringLiteral("-n %1 link set lo up").arg(m_projectors),
            QStringLiteral("-n %1 addr add %2/24 brd + dev %3")
                .arg(m_program, ProgramAddress, vethProgram),
        };
        for (const QString& address : projectorAddresses)
            steps << QStringLiteral("-n %1 addr add %2/24 brd + dev %3")
                         .arg(m_projectors, address, vethProjectors);
        steps << QStringLiteral("-n %1 link set %2 up").arg(m_program, vethProgram)
              << QStringLiteral("-n %1 link set %2 up").arg(m_projectors, vethProjectors);
        if (m_original < 0) {
            m_error = QStringLiteral("cannot open this thread's network namespace");
            return;
        }
        for (const QString& step : steps) {
            if (!ip(step.split(QLatin1Char(' ')))) {
                m_error =
                    QStringLiteral("network namespaces cannot be made here (ip %1)").arg(step);
                return;
            }
        }
        m_ready = true;
    }

    ~NetworkPair() {
        if (m_original >= 0) {
            ::setns(m_original, CLONE_NEWNET);
            ::close(m_original);
        }
        ip({QStringLiteral("netns"), QStringLiteral("del"), m_program});
        ip({QStringLiteral("netns"), QStringLiteral("del"), m_projectors});
    }

    NetworkPair(const NetworkPair&) = delete;
    NetworkPair& operator=(const NetworkPair&) = delete;

    bool isReady() const { return m_ready; }
    QString error() const { return m_error; }
    QString name(Side side) const { return side == Side::Program ? m_program : m_projectors; }

    // The hardware address of the projectors' side of the veth pair, as the
    // neighbour table shows it.
    QString projectorsMac() const {
        QProcess process;
        process.start(QStringLiteral("ip"),
                      {QStringLiteral("-n"), m_projectors, QStringLiteral("-o"),
                       QStringLiteral("link"), QStringLiteral("show"), QStringLiteral("dev"),
                       m_vethProjectors});
        process.waitForFinished(10000);
        const QStringList words =
            QString::fromLocal8Bit(process.readAllStandardOutput()).simplified().split(' ');
        const qsizetype at = words.indexOf(QStringLiteral("link/ether"));
        return at >= 0 && at + 1 < words.size() ? words.at(at + 1).toUpper() : QString();
    }

    // Moves the calling thread into one side (or back).
    bool enter(Side side) {
        if (side == Side::Original)
            return m_original >= 0 && ::setns(m_original, CLONE_NEWNET) == 0;
        const QByteArray path = QStringLiteral("/run/netns/%1").arg(name(side)).toLocal8Bit();
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        const bool ok = ::setns(fd, CLONE_NEWNET) == 0;
        ::close(fd);
        return ok;
    }

  private:
    static bool ip(const QStringList& arguments) {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral("ip"), arguments);
        return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    }

    QString m_program;
    QString m_projectors;
    QString m_vethProjectors;
    int m_original = -1;
    bool m_ready = false;
    QString m_error;
};
