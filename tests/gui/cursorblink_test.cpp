// The text cursor of a focused edit stops blinking once input has been idle
// for the timeout, and blinks again at the next key.
#include "box_watcher.h"
#include "cursorblink.h"
#include "forms.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStyleHints>

namespace {

// Counts the repaints of one widget.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Dark pixels in the edit as drawn now: its text and its cursor.
int DarkPixels(QLineEdit& edit)
{
    const QImage image = edit.grab().toImage();
    int dark = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            dark += qGray(image.pixel(x, y)) < 96;
    return dark;
}

// Repaints of edit within ms milliseconds of the event loop.
int PaintsDuring(QLineEdit& edit, int ms)
{
    PaintCounter counter;
    edit.installEventFilter(&counter);
    Pump(ms);
    edit.removeEventFilter(&counter);
    return counter.paints;
}

TEST(CursorBlink, StopsWhenInputIsIdleAndBlinksAgainAtTheNextKey)
{
    Application->CursorBlink().SetTimeout(std::chrono::seconds(10)); // blinking, as after an input
    auto* hints = QGuiApplication::styleHints();
    const int desktop = hints->cursorFlashTime();
    hints->setCursorFlashTime(200);
    QLineEdit edit;
    edit.show();
    edit.activateWindow();
    edit.setFocus();
    ASSERT_TRUE(WaitFor([&] { return edit.hasFocus(); }));

    Application->CursorBlink().SetTimeout(std::chrono::milliseconds(500));
    EXPECT_GE(PaintsDuring(edit, 250), 2) << "the cursor blinks while input is recent";
    Pump(400);
    EXPECT_EQ(hints->cursorFlashTime(), 0);
    EXPECT_EQ(PaintsDuring(edit, 600), 0) << "an idle window redraws nothing";
    EXPECT_GT(DarkPixels(edit), 0) << "the cursor stays shown";

    QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QCoreApplication::sendEvent(&edit, &key);
    EXPECT_EQ(hints->cursorFlashTime(), 200);
    EXPECT_EQ(edit.text(), "a");
    EXPECT_GE(PaintsDuring(edit, 250), 2) << "the cursor blinks again after a key";

    Application->CursorBlink().SetTimeout(std::chrono::seconds(10));
    hints->setCursorFlashTime(desktop);
}

} // namespace
