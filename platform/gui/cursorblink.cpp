#include "cursorblink.h"

#include <QEvent>
#include <QGuiApplication>
#include <QStyleHints>

CursorBlinkTimeout::CursorBlinkTimeout(std::chrono::milliseconds after)
{
    timer_.setSingleShot(true);
    timer_.setInterval(after);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { Stop(); });
    timer_.start();
    QCoreApplication::instance()->installEventFilter(this);
}

CursorBlinkTimeout::~CursorBlinkTimeout()
{
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeEventFilter(this);
    Resume();
}

void CursorBlinkTimeout::SetTimeout(std::chrono::milliseconds after)
{
    Resume();
    timer_.start(after);
}

bool CursorBlinkTimeout::eventFilter(QObject*, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::InputMethod:
    case QEvent::Wheel:
        Resume();
        timer_.start();
        break;
    default:
        break;
    }
    return false;
}

void CursorBlinkTimeout::Stop()
{
    if (stopped_)
        return;
    flashTime_ = QGuiApplication::styleHints()->cursorFlashTime();
    if (flashTime_ <= 0)
        return; // the desktop has it steady already
    stopped_ = true;
    QGuiApplication::styleHints()->setCursorFlashTime(0); // the cursor stays shown
}

void CursorBlinkTimeout::Resume()
{
    if (!stopped_)
        return;
    stopped_ = false;
    QGuiApplication::styleHints()->setCursorFlashTime(flashTime_);
}
