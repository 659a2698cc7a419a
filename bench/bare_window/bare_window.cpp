// A bare Qt window with the widgets of the call window (labels, two line
// edits, a button) at the same places and in the same font, and nothing else:
// the floor for the call window's start-up time and resident memory.
#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare window"));
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    window.setFont(font);

    const auto label = [&](int x, int y, const char* text) {
        auto* l = new QLabel(QString::fromLatin1(text), &window);
        l->move(x, y);
        l->adjustSize();
    };
    label(8, 12, "Host:");
    label(8, 36, "Port:");
    label(8, 104, "Status:");
    auto* status = new QLabel(QStringLiteral("Disconnected"), &window);
    status->setGeometry(48, 104, 129, 13);
    auto* host = new QLineEdit(&window);
    host->setGeometry(56, 8, 121, 21);
    auto* port = new QLineEdit(QStringLiteral("2000"), &window);
    port->setGeometry(56, 32, 121, 21);
    auto* connect = new QPushButton(QStringLiteral("Connect"), &window);
    connect->setGeometry(8, 64, 169, 25);
    QWidget::setTabOrder(host, port);
    QWidget::setTabOrder(port, connect);
    host->setFocus();

    window.resize(195, 149);
    window.move(192, 107);
    window.show();
    return app.exec();
}
