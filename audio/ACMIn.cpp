#include "ACMIn.h"

TACMIn::TACMIn(TComponent* AOwner) : TComponent(AOwner) {}
TACMIn::~TACMIn() = default;

void TACMIn::Open(TWaveFormatRecord) {}
void TACMIn::Close() {}

void TACMIn::SetBufferSize(uint32_t Value)
{
    if (!active_)
        bufferSize_ = Value;
}

void TACMIn::SetNumBuffers(TACMBufferCount Value)
{
    if (!active_)
        numBuffers_ = Value;
}

void TACMIn::GetProps(std::vector<TPropInfo>& props) const
{
    TComponent::GetProps(props);
    props.push_back(IntProp<TACMIn>("BufferSize", [](auto& c) { return c.BufferSize(); },
                                    [](auto& c, int64_t v) { c.SetBufferSize(uint32_t(v)); }));
    props.push_back(IntProp<TACMIn>("NumBuffers", [](auto& c) { return c.NumBuffers(); },
                                    [](auto& c, int64_t v) { c.SetNumBuffers(TACMBufferCount(v)); }));
    props.push_back(EventProp<TACMIn, TBufferFullEvent>("OnBufferFull", &TACMIn::OnBufferFull));
}
