#pragma once

#include <QByteArray>
#include <QString>
#include <QThreadPool>

#include <memory>

// Writes one file atomically on a worker thread, so that a disk that is slow
// to sync never holds up the event loop. Only the latest content waits: a
// write handed over while another still waits replaces it. A write that
// fails is logged; the next one tries again.
class LatestFileWriter {
  public:
    explicit LatestFileWriter(QString path);
    // Waits for the write under way.
    ~LatestFileWriter();
    LatestFileWriter(const LatestFileWriter&) = delete;
    LatestFileWriter& operator=(const LatestFileWriter&) = delete;

    void write(QByteArray content);
    // Waits until everything handed over is written.
    void flush();

  private:
    struct Pending;
    QString m_path;
    std::shared_ptr<Pending> m_pending;
    QThreadPool m_thread;
};
