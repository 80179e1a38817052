#pragma once

#include "comm/FrameExchange.h"

#include <QByteArray>
#include <QHash>
#include <QObject>

#include <array>

class QSerialPort;
class SettingsStore;
struct AppState;

// Moves the bytes of RS-232C projectors: opens the projector's port with its
// line settings, writes frames on it and hands on each reply the framing
// completes. Several projectors may name the same device; while one holds it
// open, opening it for another reports it busy.
class SerialTransport : public QObject {
    Q_OBJECT
  public:
    SerialTransport(const AppState& state, const SettingsStore& settings,
                    QObject* parent = nullptr);
    ~SerialTransport() override;

    static constexpr qint64 ReadBufferBytes = 4096;

    // The framing of replies and who receives them.
    FrameExchange& exchange() { return m_exchange; }

    enum class OpenResult { Opened, Busy, Failed };
    // Opens the projector's port unless it is open already.
    OpenResult open(int projector);
    void write(int projector, const QByteArray& frame);
    void close(int projector);
    void closeAll();

    bool isOpen(int projector) const;

  private:
    const AppState& m_state;
    const SettingsStore& m_settings;
    FrameExchange m_exchange;
    std::array<QSerialPort*, 257> m_ports{};
    // Device path -> projector currently holding it open.
    QHash<QString, int> m_deviceHolder;
};
