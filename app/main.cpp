// Vocora: a spoken conversation between two computers over one TCP connection.
#include "Unit1.h"

#include <QApplication>
#include <QIcon>

int main()
{
    TApplication app;
    QIcon icon;
    for (int px : {16, 32, 48, 64})
        icon.addFile(QStringLiteral(":/icons/%1x%1/org.vocora.Vocora.png").arg(px), QSize(px, px));
    QApplication::setWindowIcon(icon);
    QGuiApplication::setDesktopFileName(QStringLiteral("org.vocora.Vocora"));
    RegisterMainformClasses();
    try {
        Application->CreateForm(Mainform);
    } catch (const std::exception& e) {
        // Without its window (listening failed, for instance) the program ends.
        Application->ShowException(e);
        return 1;
    }
    Application->Run();
    return 0;
}
