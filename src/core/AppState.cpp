#include "core/AppState.h"

#include "log/LogFileMaker.h"

AppState::AppState() {
    NodeProjector.fill(-1);
    Nodes.push_back({RootKey, QString(), RootText});
}

AppState::~AppState() = default;
