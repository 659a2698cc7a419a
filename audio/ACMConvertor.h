#pragma once
// TACMConvertor: converts one buffer of sound from FormatIn to FormatOut,
// synchronously, through one open conversion stream.
//
// GUI thread only; not re-entrant. Convert allocates nothing: the stream, both
// buffers and the one prepared header are set up when the convertor is switched
// on and kept until it is switched off.
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
    // Switches the convertor off first; a failure to close is dropped, never thrown.
    ~TACMConvertor() override;

    bool Active() const { return active_; }
    // True opens the stream and allocates both buffers; false closes and frees them.
    // A failed switch-on leaves nothing open or allocated. A failed switch-off
    // leaves the convertor active; switching off again resumes where it failed.
    void SetActive(bool Value);
    uint32_t InputBufferSize() const { return inputBufferSize_; }
    void SetInputBufferSize(uint32_t Value); // raises EACMConvertor while active
    bool UseRealTime() const { return useRealTime_; }
    void SetUseRealTime(bool Value); // raises EACMConvertor while active

    // Valid while active; owned by the convertor.
    uint8_t* BufferIn() const { return bufferIn_; }
    uint8_t* BufferOut() const { return bufferOut_; }
    uint32_t BufferOutSize() const { return bufferOutSize_; }
    HACMSTREAM StreamHandle() const { return streamHandle_; }
    const ACMSTREAMHEADER& StreamHeader() const { return streamHeader_; }

    // Converts all InputBufferSize bytes of BufferIn; returns the valid bytes
    // at the start of BufferOut. Raises EACMConvertor while inactive.
    uint32_t Convert();

    TWaveFormatRecord FormatIn;  // stored as "ACMFormatIn"
    TWaveFormatRecord FormatOut; // stored as "ACMFormatOut"

    void GetProps(std::vector<TPropInfo>& props) const override;
    void DefineProperties(TFiler& Filer) override;

private:
    void OpenStream();
    void CloseStream();
    void ReleaseBuffers();
    // Passes 0; raises EACMConvertor with Label and the code's sentence otherwise.
    static void CheckError(const char* Label, MMRESULT Code);

    bool active_ = false;
    bool useRealTime_ = false;
    uint8_t* bufferIn_ = nullptr;
    uint8_t* bufferOut_ = nullptr;
    uint32_t inputBufferSize_ = 0;
    uint32_t bufferOutSize_ = 0;
    HACMSTREAM streamHandle_ = nullptr;
    ACMSTREAMHEADER streamHeader_{};
    bool headerPrepared_ = false; // lets a repeated switch-off skip an unprepare already done
};
