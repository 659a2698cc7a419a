#pragma once
// TACMIn: records from the input device into a ring of queued buffers and
// hands a copy of every filled buffer to OnBufferFull.
#include "classes.h"
#include "mmsystem.h"
#include "wave_format.h"

class EACMIn : public Exception {
public:
    using Exception::Exception;
};

using TACMBufferCount = uint8_t; // 2 to 64 by declaration; not enforced
// Data is valid only during the call; the component frees it afterwards.
using TBufferFullEvent = TEvent<TObject*, void*, int32_t>;

class TACMIn : public TComponent {
public:
    explicit TACMIn(TComponent* AOwner);
    ~TACMIn() override;

    void Open(TWaveFormatRecord Format);
    void Close();

    uint32_t BufferSize() const { return bufferSize_; }
    void SetBufferSize(uint32_t Value); // ignored while recording
    TACMBufferCount NumBuffers() const { return numBuffers_; }
    void SetNumBuffers(TACMBufferCount Value); // ignored while recording
    TBufferFullEvent OnBufferFull;

    void GetProps(std::vector<TPropInfo>& props) const override;

private:
    bool active_ = false;
    uint32_t bufferSize_ = 8192;
    TACMBufferCount numBuffers_ = 4;
};
