#pragma once

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace sim {

class Projector;

// One projector on a pseudo-terminal. The program opens the slave side as a
// serial port; the simulator reads and writes the master side. The
// simulator keeps a slave descriptor of its own open so that the master
// stays usable while the program has the port closed.
class PtyEndpoint : public QObject {
    Q_OBJECT
  public:
    PtyEndpoint(Projector& projector, QObject* parent = nullptr);
    ~PtyEndpoint() override;

    // Creates the terminal pair; false with `error` set on failure.
    bool open(QString* error);
    QString slavePath() const { return m_slavePath; }

  private:
    void readMaster();
    void writeMaster(const QByteArray& bytes);

    Projector& m_projector;
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QByteArray m_buffer;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace sim
