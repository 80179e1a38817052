#include "platform/Clock.h"

QDateTime Clock::now() const
{
    return m_fixed.isValid() ? m_fixed : QDateTime::currentDateTime();
}

void Clock::set(const QDateTime& fixed)
{
    m_fixed = fixed;
}

void Clock::advance(qint64 milliseconds)
{
    if (!m_fixed.isValid())
        m_fixed = QDateTime::currentDateTime();
    m_fixed = m_fixed.addMSecs(milliseconds);
}

void Clock::reset()
{
    m_fixed = QDateTime();
}
