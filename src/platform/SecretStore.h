#pragma once

#include <QString>

#include <functional>

class QObject;

// A place for secrets outside the program's files: the desktop's secret
// store. Only the window has one (it sets AppState::Secrets); the service
// has none and keeps its secrets in owner-only files, so it never links
// the desktop's libraries.
//
// Each call answers exactly once, later, on the event loop. An answer for
// a context that is gone by then is dropped; with no context it always
// comes.
class SecretStore {
  public:
    enum class Answer {
        Done,       // read: `value` holds the secret; write and remove: done
        NotFound,   // the store has no entry under the key
        Unavailable // no store answers (none runs, locked, refused)
    };
    struct Result {
        Answer answer = Answer::Unavailable;
        QString value;
        QString error; // why, for Unavailable
    };
    using Reply = std::function<void(const Result&)>;

    virtual ~SecretStore() = default;

    virtual void read(const QString& service, const QString& key, QObject* context,
                      Reply reply) = 0;
    virtual void write(const QString& service, const QString& key, const QString& value,
                       QObject* context, Reply reply) = 0;
    virtual void remove(const QString& service, const QString& key, QObject* context,
                        Reply reply) = 0;
};
