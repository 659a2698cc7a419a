#pragma once
// TACMConvertor: converts one buffer of sound from FormatIn to FormatOut,
// synchronously, through one open conversion stream.
#include "classes.h"
#include "mmsystem.h"
#include "wave_format.h"

class EACMConvertor : public Exception {
public:
    using Exception::Exception;
};

class TACMConvertor : public TComponent {
public:
    explicit TACMConvertor(TComponent* AOwner);
    ~TACMConvertor() override;

    bool Active() const { return active_; }
    // True opens the stream and allocates both buffers; false closes and frees them.
    void SetActive(bool Value);
    uint32_t InputBufferSize() const { return inputBufferSize_; }
    void SetInputBufferSize(uint32_t Value);
    bool UseRealTime() const { return useRealTime_; }
    void SetUseRealTime(bool Value);

    // Valid while active; owned by the convertor.
    uint8_t* BufferIn() const { return bufferIn_; }
    uint8_t* BufferOut() const { return bufferOut_; }
    uint32_t BufferOutSize() const { return bufferOutSize_; }
    HACMSTREAM StreamHandle() const { return streamHandle_; }
    const ACMSTREAMHEADER& StreamHeader() const { return streamHeader_; }

    // Converts all InputBufferSize bytes of BufferIn; returns the valid bytes
    // at the start of BufferOut.
    uint32_t Convert();

    TWaveFormatRecord FormatIn;  // stored as "ACMFormatIn"
    TWaveFormatRecord FormatOut; // stored as "ACMFormatOut"

    void GetProps(std::vector<TPropInfo>& props) const override;
    void DefineProperties(TFiler& Filer) override;

private:
    void OpenStream();
    void CloseStream();

    bool active_ = false;
    bool useRealTime_ = false;
    uint8_t* bufferIn_ = nullptr;
    uint8_t* bufferOut_ = nullptr;
    uint32_t inputBufferSize_ = 0;
    uint32_t bufferOutSize_ = 0;
    HACMSTREAM streamHandle_ = nullptr;
    ACMSTREAMHEADER streamHeader_{};
};
