// Vocora: a spoken conversation between two computers over one TCP connection.
#include "Unit1.h"

int main()
{
    TApplication app;
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
