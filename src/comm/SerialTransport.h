#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>

#include <array>
#include <bitset>

class QSerialPort;
class ReplyTimeouts;
class SettingsStore;
struct AppState;

// Carries the commands of RS-232C projectors: the port is opened when a
// command is due and closed after its reply or time-out. Several projectors
// may name the same device; while one holds it the others wait their turn.
class SerialTransport : public QObject {
    Q_OBJECT
  public:
    SerialTransport(AppState& state, const SettingsStore& settings, ReplyTimeouts& timeouts,
                    QObject* parent = nullptr);
    ~SerialTransport() override;

    static constexpr qint64 ReadBufferBytes = 4096;

    // Sends the command at the projector's read index (entry in state 1).
    // A port that cannot be opened leaves the entry waiting and is tried
    // again on every tick until the reply time-out, which then ends the
    // command as unanswered; a device held by another of our projectors is
    // simply waited for.
    void SerialSend(int projector);
    void replyTimedOut(int projector);
    void close(int projector);
    void closeAll();

    bool isOpen(int projector) const;
    const QByteArray& receiveBuffer(int projector) const;

  private:
    enum class OpenResult { Opened, Busy, Failed };
    OpenResult open(int projector);
    void dataArrived(int projector);

    AppState& m_state;
    const SettingsStore& m_settings;
    ReplyTimeouts& m_timeouts;
    std::array<QSerialPort*, 257> m_ports{};
    std::array<QByteArray, 257> m_receive{};
    // Device path -> projector currently holding it open.
    QHash<QString, int> m_deviceHolder;
    // Projectors whose head command waits for a port that fails to open.
    std::bitset<257> m_openFailing;
};
