#include "ACMConvertor.h"

TACMConvertor::TACMConvertor(TComponent* AOwner)
    : TComponent(AOwner), FormatIn(DefaultConvertorFormat()), FormatOut(DefaultConvertorFormat())
{
    SetInputBufferSize(2048);
    SetUseRealTime(false);
}

TACMConvertor::~TACMConvertor() = default;

void TACMConvertor::SetActive(bool Value) { active_ = Value; } // the stream comes with the audio services

void TACMConvertor::SetInputBufferSize(uint32_t Value)
{
    if (active_)
        throw EACMConvertor("You cannot change the buffer size while active.");
    inputBufferSize_ = Value;
}

void TACMConvertor::SetUseRealTime(bool Value)
{
    if (active_)
        throw EACMConvertor("You cannot change the real time flag while active.");
    useRealTime_ = Value;
}

uint32_t TACMConvertor::Convert() { return 0; }

void TACMConvertor::OpenStream() {}
void TACMConvertor::CloseStream() {}

void TACMConvertor::GetProps(std::vector<TPropInfo>& props) const
{
    TComponent::GetProps(props);
    props.push_back(IntProp<TACMConvertor>("InputBufferSize", [](auto& c) { return c.InputBufferSize(); },
                                           [](auto& c, int64_t v) { c.SetInputBufferSize(uint32_t(v)); }));
    props.push_back(BoolProp<TACMConvertor>("UseRealTime", [](auto& c) { return c.UseRealTime(); },
                                            [](auto& c, bool v) { c.SetUseRealTime(v); }, false));
}

void TACMConvertor::DefineProperties(TFiler& Filer)
{
    TComponent::DefineProperties(Filer);
    Filer.DefineBinaryProperty(
        "ACMFormatIn", [this](TMemoryStream& s) { ReadFormatBlock(s, FormatIn); },
        [this](TMemoryStream& s) { WriteFormatBlock(s, FormatIn); }, true);
    Filer.DefineBinaryProperty(
        "ACMFormatOut", [this](TMemoryStream& s) { ReadFormatBlock(s, FormatOut); },
        [this](TMemoryStream& s) { WriteFormatBlock(s, FormatOut); }, true);
}
