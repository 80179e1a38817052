#pragma once

#include <QDateTime>

// The one source of "now" for the program. Tests set it to a fixed moment or
// move it forward so that schedules, midnight and mail retries run without
// waiting; otherwise it follows the system clock.
class Clock {
public:
    QDateTime now() const;
    QDate today() const { return now().date(); }

    // Pins the clock at the given local time; it then moves only through
    // advance() or another set().
    void set(const QDateTime& fixed);
    void advance(qint64 milliseconds);
    // Back to the system clock.
    void reset();
    bool isSet() const { return m_fixed.isValid(); }

private:
    QDateTime m_fixed;
};
