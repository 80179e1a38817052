#include "history/EventStore.h"

// Each step brings a file from the version before it to its own; a new
// file runs them all. Steps are never changed once released, only added.
const std::vector<SchemaStep>& HistorySchemaSteps() {
    static const std::vector<SchemaStep> steps = {
        {1,
         {QStringLiteral("CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL)"),
          QStringLiteral(
              "CREATE TABLE events(id INTEGER PRIMARY KEY AUTOINCREMENT, time_ms INTEGER NOT NULL, "
              "projector_id TEXT NOT NULL DEFAULT '', projector_name TEXT NOT NULL DEFAULT '', "
              "group_name TEXT NOT NULL DEFAULT '', kind TEXT NOT NULL, value INTEGER, "
              "value2 INTEGER, text TEXT NOT NULL DEFAULT '', outcome TEXT NOT NULL DEFAULT '', "
              "source TEXT NOT NULL DEFAULT '')"),
          QStringLiteral("CREATE INDEX events_time ON events(time_ms)"),
          QStringLiteral("CREATE INDEX events_projector ON events(projector_id, time_ms)")}},
        // Who asked, for the endpoint's commands; and the kind's own index
        // for the History view's and the endpoint's kind filter.
        {2,
         {QStringLiteral("ALTER TABLE events ADD COLUMN client TEXT NOT NULL DEFAULT ''"),
          QStringLiteral("CREATE INDEX events_kind ON events(kind, time_ms)")}},
    };
    return steps;
}
