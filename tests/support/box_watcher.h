#pragma once
// Sees and dismisses modal message boxes, which would otherwise wait for a
// user. While a BoxWatcher lives, every box that opens is recorded (its text)
// and closed with OK after Delay milliseconds of its own event loop.
#include <QObject>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

class BoxWatcher : public QObject {
public:
    explicit BoxWatcher(int delayMs = 0);
    std::vector<std::string> texts; // every box seen, in order
    // Called with the box's text while the box is open, before it is closed.
    std::function<void(const std::string&)> onBox;

private:
    void poll();
    QTimer timer_;
    int delayMs_;
};

// Runs the event loop until done() holds (checked once per turn) or timeoutMs
// passes; returns whether it held.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000);
// Runs the event loop for ms milliseconds.
void Pump(int ms);
