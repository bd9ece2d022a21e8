#pragma once

#include "VirtualClock.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <functional>

namespace sonavel::fakes {

// A virtual clock that lets a test look at the window at every wait of
// playback. The question plays on its own thread; the hook runs on the
// window's thread while that thread waits for it, so it sees the window as the
// question's events have left it.
class WatchingClock : public VirtualClock {
public:
    void SleepMs(int32_t ms) override {
        // A hook may replace or clear itself; it runs from a copy so that it
        // is not destroyed while it runs.
        if (const std::function<void()> hook = OnSleep) {
            auto run = [this, &hook] {
                InHook = true;
                hook();
                InHook = false;
            };
            if (QThread::currentThread() == QCoreApplication::instance()->thread())
                run();
            else
                QMetaObject::invokeMethod(QCoreApplication::instance(), run,
                                          Qt::BlockingQueuedConnection);
        }
        VirtualClock::SleepMs(ms);
    }
    std::function<void()> OnSleep;
    // True while a hook runs: the question waits for it, so nothing may wait
    // for the question then.
    bool InHook = false;
};

} // namespace sonavel::fakes
