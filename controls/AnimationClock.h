// The one clock of the animated faces in the rich-text controls: a single 50 ms timer that runs only while at
// least one control has subscribed (it shows an animated face and its window is not minimised), and one time
// base, so the same face shows the same frame in the chat input and in the message log. The animated picture
// control keeps its own timer (each frame's own delay). UI thread only.
#pragma once

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QObject>

#include <vector>

class AnimationClock : public QObject {
public:
    // One tick; every face frame lasts at least 100 ms, so 50 ms keeps them on time.
    static constexpr int kTickMs = 50;

    class Listener {
    public:
        virtual ~Listener() = default;
        // `elapsed_ms`: the clock's time since it was made.
        virtual void OnAnimationTick(qint64 elapsed_ms) = 0;
    };

    // The clock of this program's UI thread.
    static AnimationClock& Shared();

    AnimationClock();
    // Adds or removes a listener; the timer runs while there is one. Both may be called from a tick.
    void Subscribe(Listener* listener);
    void Unsubscribe(Listener* listener);
    bool subscribed(const Listener* listener) const;
    bool running() const { return timer_.isActive(); }
    qint64 elapsed() const { return clock_.elapsed(); }
    int ticks() const { return ticks_; }

protected:
    void timerEvent(QTimerEvent* e) override;

private:
    QBasicTimer timer_;
    QElapsedTimer clock_;
    std::vector<Listener*> listeners_;
    int ticks_ = 0;
};
