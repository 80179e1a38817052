#include "PtyEndpoint.h"

#include "Projector.h"
#include "ReplySender.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

PtyEndpoint::PtyEndpoint(Projector& projector, QObject* parent)
    : QObject(parent), m_projector(projector) {}

PtyEndpoint::~PtyEndpoint() {
    m_notifier.reset();
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

bool PtyEndpoint::open(QString* error) {
    const auto fail = [&](const char* step) {
        *error = QStringLiteral("projector %1: %2 failed: %3")
                     .arg(m_projector.id())
                     .arg(QString::fromLatin1(step), QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    };
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        return fail("posix_openpt");
    if (::grantpt(m_master) != 0)
        return fail("grantpt");
    if (::unlockpt(m_master) != 0)
        return fail("unlockpt");
    const char* name = ::ptsname(m_master);
    if (!name)
        return fail("ptsname");
    m_slavePath = QString::fromLocal8Bit(name);
    m_slave = ::open(name, O_RDWR | O_NOCTTY);
    if (m_slave < 0)
        return fail("open slave");
    termios attributes{};
    if (::tcgetattr(m_slave, &attributes) != 0)
        return fail("tcgetattr");
    ::cfmakeraw(&attributes);
    ::cfsetispeed(&attributes, B19200);
    ::cfsetospeed(&attributes, B19200);
    if (::tcsetattr(m_slave, TCSANOW, &attributes) != 0)
        return fail("tcsetattr");
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);

    m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &PtyEndpoint::readMaster);
    return true;
}

void PtyEndpoint::readMaster() {
    char chunk[512];
    for (;;) {
        const ssize_t n = ::read(m_master, chunk, sizeof chunk);
        if (n <= 0)
            break;
        m_buffer.append(chunk, int(n));
    }
    const WriteBytes write = [this](const QByteArray& bytes) { writeMaster(bytes); };
    // A terminal line cannot be hung up from here; an early close only cuts the reply short.
    const CloseLink close = [] {};
    while (m_buffer.size() >= FrameSize) {
        const QByteArray frame = m_buffer.left(FrameSize);
        m_buffer.remove(0, FrameSize);
        if (const auto reply = m_projector.handleFrame(frame))
            sendReply(this, *reply, write, close);
    }
}

void PtyEndpoint::writeMaster(const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            qWarning("pty %s: write failed: %s", qPrintable(m_slavePath), std::strerror(errno));
            return;
        }
        done += n;
    }
}

} // namespace sim
