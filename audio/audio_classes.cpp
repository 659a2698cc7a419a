#include "audio_classes.h"

#include "ACMConvertor.h"
#include "ACMIn.h"
#include "ACMOut.h"

void RegisterAudioClasses()
{
    RegisterComponentClass<TACMConvertor>("TACMConvertor");
    RegisterComponentClass<TACMIn>("TACMIn");
    RegisterComponentClass<TACMOut>("TACMOut");
}
