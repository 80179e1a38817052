#pragma once

#include "discovery/AddFinds.h"
#include "discovery/Discovery.h"

#include <QDialog>

#include <functional>

struct AppState;
class MessageService;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// Edit > Find Projectors...: the operator enters an address range, the finds
// fill a list as they come (those already in the fleet marked and not
// ticked), then the ticked ones go to a group picked or named here. "Cancel"
// stops a running search at once and keeps what was found; when nothing
// runs it closes the dialog.
class FindProjectorsDialog : public QDialog {
    Q_OBJECT
  public:
    // Adds the ticked finds in one save; an empty text when it did, else why not.
    using AddFinds = std::function<QString(const QList<DiscoveryFind>&, const AddFindsPlan&)>;

    // `base` gives the ports and limits; the dialog sets the range and the search.
    FindProjectorsDialog(const AppState& state, MessageService& messages, AddFinds addFinds,
                         const DiscoveryOptions& base, QWidget* parent);
    bool isFinding() const { return m_discovery.isRunning(); }

  private:
    void find();
    void cancel();
    void addTicked();
    void showFind(int index);
    void showProgress();
    void finished();
    void setFinding(bool finding);

    MessageService& m_messages;
    AddFinds m_addFinds;
    DiscoveryOptions m_base;
    Discovery m_discovery;
    QLineEdit* m_range;
    QCheckBox* m_search;
    QPushButton* m_find;
    QLabel* m_progress;
    QTreeWidget* m_list;
    QComboBox* m_group;
    QComboBox* m_model;
    QPushButton* m_ok;
    QList<QTreeWidgetItem*> m_items; // by find index
};
