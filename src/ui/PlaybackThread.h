#pragma once

#include <exception>
#include <functional>
#include <thread>

class QObject;

namespace sonavel {

// Plays one question at a time on a thread of its own, so that the window
// answers every event at once while the notes sound, and a repaint or a dialog
// cannot move a note.
class PlaybackThread {
public:
    using Ended = std::function<void(std::exception_ptr failure)>;

    PlaybackThread() = default;
    PlaybackThread(const PlaybackThread&) = delete;
    PlaybackThread& operator=(const PlaybackThread&) = delete;
    // Waits for the playback in progress: stop it first.
    ~PlaybackThread() { Join(); }

    // Runs play on the playback thread. When it returns, ended runs on the
    // thread of context with what play threw, if anything; never if context
    // is gone by then. The previous playback must have ended.
    void Start(QObject* context, std::function<void()> play, Ended ended);
    // Waits until the thread has ended.
    void Join();

private:
    std::thread m_thread;
};

} // namespace sonavel
