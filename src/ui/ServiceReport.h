#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QDialog>
#include <QString>

#include <array>
#include <vector>

struct AppState;
class QComboBox;
class QLabel;
class QTimeZone;
class QTreeWidget;
class MessageService;

// One lamp or filter that reaches its replacement hours soon, from the
// projector's forecast.
struct ServiceItem {
    int projector = 0;
    QString group;
    QString projectorName;
    QString part; // "Lamp" or "Filter"
    qint32 hours = -1;
    double hoursPerDay = 0;
    qint64 dueMs = 0; // UTC
    QString text;     // "in 23 days", "overdue"
};

// Every lamp and filter overdue or due within `days` calendar days of
// `now`, the soonest first.
std::vector<ServiceItem> ServiceItemsDue(const AppState& state, int days, const QDateTime& now);
// The items as CSV, one header line first; dates in now's time zone.
QByteArray ServiceReportCsv(const std::vector<ServiceItem>& items, const QTimeZone& zone);

// File > "Service Report...": the lamps and filters due within 30, 60 or
// 90 days, saved as CSV on request.
class ServiceReportDialog : public QDialog {
    Q_OBJECT
  public:
    static constexpr std::array<int, 3> Horizons = {30, 60, 90};

    ServiceReportDialog(const AppState& state, MessageService& messages, QWidget* parent = nullptr);

    // Lists the items due within Horizons[index] days.
    void setHorizon(int index);
    const std::vector<ServiceItem>& items() const { return m_items; }
    // Writes the list shown; false (and a message shown) when it cannot.
    bool saveTo(const QString& path);

  private:
    void fill();
    void chooseFile();

    const AppState& m_state;
    MessageService& m_messages;
    std::vector<ServiceItem> m_items;
    QComboBox* m_horizon;
    QTreeWidget* m_list;
    QLabel* m_summary;
};
