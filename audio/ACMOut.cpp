#include "ACMOut.h"

TACMOut::TACMOut(TComponent* AOwner) : TComponent(AOwner) {}
TACMOut::~TACMOut() = default;

void TACMOut::Open(TWaveFormatRecord) {}
void TACMOut::Play(const void*, int32_t) {}
void TACMOut::Close() {}

void TACMOut::GetProps(std::vector<TPropInfo>& props) const
{
    TComponent::GetProps(props);
    props.push_back(IntProp<TACMOut>("NumBuffers", [](auto& c) { return c.NumBuffers; },
                                     [](auto& c, int64_t v) { c.NumBuffers = uint8_t(v); }));
    props.push_back(EventProp<TACMOut, TBufferPlayedEvent>("OnBufferPlayed", &TACMOut::OnBufferPlayed));
}
