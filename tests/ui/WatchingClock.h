#pragma once

#include "VirtualClock.h"

#include <QCoreApplication>
#include <QThread>
#include <functional>

namespace sonavel::fakes {

// A virtual clock whose hook OnSleep runs at every wait of playback on the
// window's thread, while the question's thread waits for it: the hook sees
// the window as the question's events have left it.
class WatchingClock : public VirtualClock {
public:
    void SleepMs(int32_t ms) override {
        // From a copy: a hook may replace or clear itself while it runs.
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
    bool InHook = false; // the question waits for the hook; nothing may wait for the question
};

} // namespace sonavel::fakes
