#pragma once

// A main window on real parts for the GUI tests: a temporary NORVIK3_HOME
// with the sample model file and a settings store file, the real engine
// (its dispatcher and polling are paused so that queues can be read), and
// the message service in test mode.
//
// Finding controls: every control has the object name the program gives it
// (cmbPower, txtGroupName, ListView1, ...). The information labels
// lblGroupName, lblNumberOfProjectors, lblComment, lblProjectorName, lblModel
// and lblConnection exist once inside each tab's panel frame, so
// shownLabel() returns the one that is visible on the current tab; the
// prompts are lblSelectMessage0..2, one per tab. Dialogs open window-modal
// as children of the main window and are found with openDialog<T>().

#include "comm/CommEngine.h"
#include "comm/CommandQueue.h"
#include "core/AppState.h"
#include "core/Fleet.h"
#include "core/SettingsStore.h"
#include "protocol/CommandTable.h"
#include "support/ProjectorRecords.h"
#include "support/QueuedCommands.h"
#include "ui/MainForm.h"
#include "ui/MessageService.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class UiFixture {
  public:
    UiFixture() {
        qputenv("NORVIK3_HOME", home.path().toUtf8());
        state.ProgramFolder = home.path();
        QFile::copy(qEnvironmentVariable("NORVIK3_SOURCE_DIR") + "/data/PJModel.txt",
                    home.path() + "/PJModel.txt");
        store = std::make_unique<SettingsStore>(home.path() + "/Norvik3.conf");
        store->LoadConfiguration(state);
        messages.setTestMode(true);
        startWindow();
    }

    ~UiFixture() { closeWindow(); }

    // Builds a new window on the saved files, as a restart would.
    void startWindow() {
        engine = std::make_unique<CommEngine>(state, *store);
        form = std::make_unique<MainForm>(state, *store, *engine, messages);
        form->InitProjectorTree();
        engine->setRefreshSink(form.get());
        form->show();
    }

    void closeWindow() {
        if (engine) {
            engine->setRefreshSink(nullptr);
            engine->shutdown();
        }
        form.reset();
        engine.reset();
    }

    // Stops the dispatcher and polling and empties every queue, so that a
    // test sees exactly what the next action queues.
    void quietEngine() {
        engine->stopPolling();
        engine->stopDispatcher();
        for (int p = 1; p <= MaxProjectors; ++p)
            ResetProjectorQueue(state, p);
    }

    // Names of the commands waiting in a projector's queue, in order.
    QStringList queued(int projector) const {
        QStringList names;
        for (const QByteArray& bytes : QueuedCommands(state, projector)) {
            for (const char* name : CommandTable::names()) {
                if (engine->commands().byName(QString::fromLatin1(name))->toByteArray() == bytes) {
                    names << QString::fromLatin1(name);
                    break;
                }
            }
        }
        return names;
    }

    template <typename T> T* child(const QString& name) const { return form->findChild<T*>(name); }
    QAction* action(const QString& name) const { return child<QAction>(name); }

    QLabel* shownLabel(const QString& name) const {
        for (QLabel* label : form->findChildren<QLabel*>(name))
            if (label->isVisible())
                return label;
        return nullptr;
    }

    template <typename T> T* openDialog() const {
        for (T* dialog : form->findChildren<T*>())
            if (dialog->isVisible())
                return dialog;
        return nullptr;
    }

    // What an operator's pick in a drop-down does.
    static void pick(QComboBox* combo, int index) {
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }

    static void click(QWidget* dialog, const QString& button) {
        dialog->findChild<QPushButton*>(button)->click();
    }

    static void type(QWidget* dialog, const QString& field, const QString& text) {
        dialog->findChild<QLineEdit*>(field)->setText(text);
    }

    void selectTab(int tab) { child<QTabWidget>("SSTab")->setCurrentIndex(tab); }

    // Adds a group and projectors straight into the tables, saves them and
    // reloads the window's tree.
    int addGroupDirect(const QString& name) {
        const int node = AddGroupNode(state, name, nullptr);
        saveAndReload();
        return node;
    }

    int addLanDirect(int parent, const QString& name, const QString& address,
                     const QString& port = "23", const QString& model = "VX-5100N") {
        const int node =
            AddProjector(state, parent, LanProjector(name, address, port).model(model));
        saveAndReload();
        return node;
    }

    int addPJLinkDirect(int parent, const QString& name, const QString& address,
                        const QString& port = DefaultPJLinkPortNo) {
        const int node = AddProjector(state, parent, PJLinkProjector(name, address, port));
        saveAndReload();
        // Reloading reads the records again; these tests are about the
        // window, not about the settings store's keys.
        state.Projectors[ProjectorOfNode(state, node)].Protocol = ProtocolPJLink;
        form->rebuildView();
        return node;
    }

    // Every line or frame waiting in a projector's queue, as queued bytes.
    QStringList queuedLines(int projector) const {
        QStringList lines;
        for (const QByteArray& command : QueuedCommands(state, projector))
            lines << QString::fromLatin1(command);
        return lines;
    }

    int addSerialDirect(int parent, const QString& name, int com,
                        const QString& model = "VX-4200") {
        const int node = AddProjector(state, parent, SerialProjector(name, com).model(model));
        saveAndReload();
        return node;
    }

    void saveAndReload() {
        store->SaveTree(state);
        store->SaveProjectors(state);
        const int selected = form->selectedNode();
        form->InitProjectorTree();
        form->selectNode(selected);
    }

    QTemporaryDir home;
    AppState state;
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<CommEngine> engine;
    MessageService messages;
    std::unique_ptr<MainForm> form;
};
