#pragma once
// TACMOut: plays chunks of sound of any size through the output device,
// copying each into a buffer of its own.
#include "classes.h"
#include "mmsystem.h"
#include "wave_format.h"

class EACMOut : public Exception {
public:
    using Exception::Exception;
};

// Header and its data are freed right after the handler returns.
using TBufferPlayedEvent = TEvent<TObject*, PWaveHdr>;

class TACMOut : public TComponent {
public:
    explicit TACMOut(TComponent* AOwner);
    ~TACMOut() override;

    void Open(TWaveFormatRecord Format);
    // Copies Size bytes of Data; the caller may free them once Play returns.
    void Play(const void* Data, int32_t Size);
    void Close();
    bool Active() const { return active_; }

    uint8_t NumBuffers = 4; // chunks held back after each Open
    TBufferPlayedEvent OnBufferPlayed;

    void GetProps(std::vector<TPropInfo>& props) const override;

private:
    bool active_ = false;
};
