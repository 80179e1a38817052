#pragma once

#include "core/AppState.h"

#include <QString>

#include <vector>

// Operations on the projector table and the tree that keep both and
// NodeProjector in step. They change memory only; callers save.

void ResetProjector(ProjectorInfo& projector);
void ResetAllProjectors(AppState& state);
// Copies what the projector dialog sets, but the name: model, protocol and
// connection.
void CopyConnection(ProjectorInfo& to, const ProjectorInfo& from);

QChar NodeKind(const TreeNode& node); // 'r', 'g', 'p' or '\0'
QChar NodeKind(const AppState& state, int nodeIndex);
int NodeCount(const AppState& state);
const TreeNode& Node(const AppState& state, int nodeIndex);
// Node index of the key, 0 when there is none.
int NodeIndexOfKey(const AppState& state, const QString& key);
// Projector index of a node, -1 for the root, groups and unknown nodes.
qint16 ProjectorOfNode(const AppState& state, int nodeIndex);
// Node index of a projector index, 0 when it has none.
int NodeOfProjector(const AppState& state, int projector);
// The name of the group a node or a projector stands in; empty under the
// root and for an unknown one.
QString GroupOfNode(const AppState& state, int nodeIndex);
QString GroupOfProjector(const AppState& state, int projector);
// Projector nodes directly under a group node, in node order.
std::vector<int> GroupMembers(const AppState& state, int groupNode);

// A fresh random projector id (a UUID without braces) that no projector of
// the table has.
QString NewProjectorId(const AppState& state);
// The text as a projector id: the UUID in its stored form (lower case, no
// braces), empty when it is not a UUID or is the nil UUID.
QString CanonicalProjectorId(const QString& text);
// Index of the projector with that id (1..ProjectorCount), 0 when none has
// it. Any spelling of the same UUID finds it.
int ProjectorIndexOfId(const AppState& state, const QString& id);
// Gives every projector without a usable id, or with an id an earlier
// projector already has, a new one. Returns the indices that changed.
std::vector<int> AssignMissingProjectorIds(AppState& state);

// The key with the lowest free number 0..256 for kind 'g' or 'p'; empty when
// all 257 are taken.
QString NewKey(const AppState& state, QChar kind);

// A fresh tree holding the root alone.
void ResetTree(AppState& state);

// Adds a group under the root. Returns the new node index, or 0 with a
// message in *error when a table limit refuses it.
int AddGroupNode(AppState& state, const QString& name, QString* error);
// Appends the projector record, with a new id, and its node under
// parentNode. Returns the new node index, or 0 with a message in *error.
int AddProjectorNode(AppState& state, int parentNode, const ProjectorInfo& config, QString* error);
// Removes a projector node and its record; later records and NodeProjector
// entries move down by one.
void DeleteProjectorNode(AppState& state, int nodeIndex);
// Removes a group node, its projectors and their records.
void DeleteGroupNode(AppState& state, int nodeIndex);

// The message a name with a line break or other control character gets; an
// empty text when the name can be stored.
QString CheckNodeName(const QString& name);
