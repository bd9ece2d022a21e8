#include "ui/PlaybackThread.h"

#include <QMetaObject>
#include <QObject>
#include <utility>

namespace sonavel {

void PlaybackThread::Start(QObject* context, std::function<void()> play, Ended ended) {
    Join();
    m_thread = std::thread([context, play = std::move(play), ended = std::move(ended)] {
        std::exception_ptr failure;
        try {
            play();
        } catch (...) {
            failure = std::current_exception();
        }
        QMetaObject::invokeMethod(
            context, [ended, failure] { ended(failure); }, Qt::QueuedConnection);
    });
}

void PlaybackThread::Join() {
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace sonavel
