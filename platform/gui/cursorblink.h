#pragma once
// The text cursor stops blinking after a while without keyboard or mouse
// input, and blinks again at the next input, as desktop toolkits do. A window
// left alone for a long call then redraws nothing.
#include <QObject>
#include <QTimer>

#include <chrono>

class CursorBlinkTimeout : public QObject {
public:
    // Watches the input of the whole application from now on.
    explicit CursorBlinkTimeout(std::chrono::milliseconds after);
    // Gives the cursor back its blinking.
    ~CursorBlinkTimeout() override;
    // Blinking resumes, and stops again after the new timeout.
    void SetTimeout(std::chrono::milliseconds after);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Stop();
    void Resume();

    QTimer timer_;
    int flashTime_ = 0; // the blink period, kept while the blinking is stopped
    bool stopped_ = false;
};
