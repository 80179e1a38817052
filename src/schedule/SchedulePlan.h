#pragma once

#include <QDate>
#include <QString>
#include <QTime>

#include <array>
#include <utility>
#include <vector>

struct AppState;
class ProfileData;
class ScheduleFileCache;

// One node of a day's plan and the file it follows that day.
struct SchedulePlanEntry {
    qint16 NodeIndex = 0;
    QString KeyName;
    QString Section;     // node text = section name
    qint16 FileKind = 0; // 2 date file, 1 weekday file, 0 default file
    QString FileBase;    // "YYYYMMDD", the weekday name or "default"
};

inline constexpr qint16 FileKindDefault = 0;
inline constexpr qint16 FileKindWeekday = 1;
inline constexpr qint16 FileKindDate = 2;

// The three files of a day, most specific first.
std::array<std::pair<qint16, QString>, 3> DayFiles(const QDate& day);

// For every node of the tree (root excluded) that has a section in one of
// the day's files, the most specific of those files.
std::vector<SchedulePlanEntry> BuildPlan(const AppState& state, const QDate& day,
                                         ScheduleFileCache& files);

// One entry of a day's plan as it falls due.
struct AgendaItem {
    qint64 due = 0; // FirstMomentAt(day, time)
    QTime time;
    int planIndex = 0; // into the day's plan
    QString command;
};

// The entries of the day's plan in the order they fall due; entries of one
// minute in plan order. Per section only "HH:mm" keys count, the first of
// each time.
std::vector<AgendaItem> BuildAgenda(const QDate& day, const std::vector<SchedulePlanEntry>& plan,
                                    ScheduleFileCache& files);
