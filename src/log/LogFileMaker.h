#pragma once

#include <QDateTime>
#include <QFileInfoList>
#include <QString>

class Clock;

// Appends time-stamped lines to dated files in one folder, optionally rolls
// over to numbered files at a size limit, and keeps its own log files in
// the folder bounded, in number and in total size, by deleting the oldest.
// Other files in the folder are never touched, and a link planted there is
// never followed.
//
// The folder is looked at when a line goes to another file than the one
// before (the first line, a new day, a roll-over) and after every
// CheckEveryBytes written, never for every line.
class LogFileMaker {
  public:
    explicit LogFileMaker(const QString& path = QString());

    qint32 MaxSize() const { return m_maxSize; }
    void setMaxSize(qint32 bytes) { m_maxSize = bytes; }
    qint16 MaxCount() const { return m_maxCount; }
    void setMaxCount(qint16 count) { m_maxCount = count; }
    // The most the folder's log files may hold together, in bytes; 0: no
    // bound by size. Past it the oldest files go first; a file being written
    // that alone is past it goes too, and the next line starts it afresh.
    qint64 MaxFolderBytes() const { return m_maxFolderBytes; }
    void setMaxFolderBytes(qint64 bytes) { m_maxFolderBytes = bytes; }
    static constexpr qint64 CheckEveryBytes = 1024 * 1024;
    QString Path() const { return m_path; }
    void setPath(const QString& path);

    // Appends one line; with stamp 1 it is preceded by "[yyyy/MM/dd hh:mm:ss],".
    // The text goes through EscapeLogText, so it stays one line whatever it
    // holds. Returns false when the folder, the file or the clean-up failed;
    // lastError() then says what and where.
    bool WriteLog(const QString& text, qint16 stamp);
    // Empty after a write that succeeded.
    QString lastError() const { return m_lastError; }

    // True for the names this writer gives its files.
    static bool IsLogFileName(const QString& name);

    // The file the next line goes to (depends on the date and MaxSize).
    QString currentFileName() const;

    // Dates and stamps follow this clock instead of the system clock.
    void setClock(const Clock* clock) { m_clock = clock; }

  private:
    QDateTime now() const;
    QString writeLine(const QString& text, qint16 stamp);
    QFileInfoList ownFiles() const;
    // At most one file, the oldest, when there are MaxCount or more.
    QString removeOldest() const;
    QString removeBeyondSize(const QString& current) const;

    qint32 m_maxSize = 0;
    qint16 m_maxCount = 32;
    qint64 m_maxFolderBytes = 0;
    // The file the folder was last looked at for, and what went since.
    QString m_checkedFile;
    qint64 m_writtenSinceCheck = 0;
    QString m_path;
    const Clock* m_clock = nullptr;
    QString m_lastError;
};

// The text as one log line: a projector's name or address, or an alert
// text, may hold anything, and a raw CR or LF would let it write lines that
// pass for real exchanges. So
//   CR, LF, TAB                      -> \r  \n  \t
//   other C0 controls, DEL           -> \xNN  (two upper-case hex digits)
//   C1 controls, U+2028, U+2029      -> \uNNNN (some viewers break lines there)
//   a backslash                      -> \\ (doubled)
// Doubling the backslash keeps the escape unambiguous: "\n" in a log always
// was a line feed, never a backslash and an "n" typed by someone. Everything
// else, non-ASCII letters included, is written as it is.
QString EscapeLogText(const QString& text);

// Folder used when no path is given: "NorvikLog" in the program folder.
QString DefaultLogFolder();
