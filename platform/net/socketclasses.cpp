#include "scktcomp.h"

void RegisterSocketClasses()
{
    RegisterComponentClass<TClientSocket>("TClientSocket");
    RegisterComponentClass<TServerSocket>("TServerSocket");
}
