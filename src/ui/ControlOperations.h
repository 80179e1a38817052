#pragma once

#include "ui/Panels.h"

#include <QString>

#include <vector>

struct AppState;
struct CommandFrame;
struct PlannedItem;
class CommEngine;
class CommandFeedback;

// Turns the operator's control actions into queued commands, as the command
// planner plans them. Selection actions (power, refresh) act on a projector
// node or on every projector directly under a group node and flush each
// queue first; panel actions only append. Confirmations are the caller's.
class ControlOperations {
  public:
    ControlOperations(AppState& state, CommEngine& engine);
    // Told of every command queued, so that an operator's action can be
    // followed to its outcome.
    void setFeedback(CommandFeedback* feedback) { m_feedback = feedback; }

    void powerSelection(int nodeIndex, bool on);
    void refreshSelection(int nodeIndex);
    // The group panel's power drop-down: appends to every member's queue.
    void groupPower(int groupNode, bool on);

    // The five status queries (PJLink class 1 has no filter query).
    void enqueueRefreshSet(int projector);
    // Flushes the queue, then the queries that showing the control panel
    // sends: twelve, or for a PJLink projector those of its rows (and its
    // inputs while none are known).
    void requeryControls(int projector);

    void setPower(int projector, bool on);
    // The code of the model entry with this display text, then the query.
    // For a PJLink projector the text is an input as its drop-down shows it
    // (PJLinkInputEntryText) or its code.
    void setInput(int projector, const QString& text);
    // A PJLink input code ("31", class 2 also "3A"), then the query.
    void setPJLinkInput(int projector, const QString& code);
    // PJLink class 2 freeze, then the query.
    void setFreeze(int projector, bool on);
    void setAspect(int projector, const QString& text);
    void setBlank(int projector, bool on);
    void setMute(int projector, bool on);
    void setWhisper(int projector, bool on);
    void setMirror(int projector, int position);
    void stepPicture(int projector, PictureItem item, bool up);
    void autoAdjust(int projector);
    void resetLampTime(int projector);
    void resetFilterTime(int projector);

  private:
    // The planned items of the request, for one projector or a group.
    void run(const QString& command, const QString& value, int projector, int group = 0);
    void enqueue(int projector, const PlannedItem& item);
    void enqueue(int projector, const CommandFrame& frame);
    bool isPJLink(int projector) const;
    // The projectors of a projector node, or directly under a group node.
    std::vector<int> selection(int nodeIndex) const;

    AppState& m_state;
    CommEngine& m_engine;
    CommandFeedback* m_feedback = nullptr;
};
