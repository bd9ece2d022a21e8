#include "ui/RepaintingClock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <algorithm>

namespace sonavel {

void RepaintingClock::SleepMs(int32_t ms) {
    // Events go first so that the wait ends exactly at the deadline and the
    // next note starts without a repaint in between. A zero sleep pins the
    // wait's start first: after an idle gap the wrapped clock measures from
    // now, and a repaint must not push the whole question back.
    m_inner.SleepMs(0);
    do {
        const bool all = m_allEventsPending;
        m_allEventsPending = false;
        QCoreApplication::processEvents(all ? QEventLoop::AllEvents
                                            : QEventLoop::ExcludeUserInputEvents);
        const int32_t slice = std::min(ms, SliceMs);
        m_inner.SleepMs(slice);
        ms -= slice;
    } while (ms > 0);
}

} // namespace sonavel
