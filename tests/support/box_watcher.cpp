#include "box_watcher.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QPointer>
#include <QThread>

#include <set>

BoxWatcher::BoxWatcher(int delayMs) : delayMs_(delayMs)
{
    connect(&timer_, &QTimer::timeout, this, &BoxWatcher::poll);
    timer_.start(5);
}

void BoxWatcher::poll()
{
    static std::set<QMessageBox*> handled;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box || !box->isVisible() || handled.count(box))
            continue;
        handled.insert(box);
        const std::string text = box->text().toStdString();
        texts.push_back(text);
        if (onBox)
            onBox(text);
        QPointer<QMessageBox> target(box);
        QTimer::singleShot(delayMs_, [target] {
            if (target) {
                handled.erase(target.data());
                target->accept();
            }
        });
    }
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (done())
            return true;
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
}

void Pump(int ms)
{
    WaitFor([] { return false; }, ms);
}
