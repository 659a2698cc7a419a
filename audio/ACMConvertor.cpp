#include "ACMConvertor.h"

#include "mmerror.h"

#include <cstring>

TACMConvertor::TACMConvertor(TComponent* AOwner)
    : TComponent(AOwner), FormatIn(DefaultConvertorFormat()), FormatOut(DefaultConvertorFormat())
{
    streamHandle_ = nullptr;
    SetInputBufferSize(2048);
    SetUseRealTime(false);
}

TACMConvertor::~TACMConvertor()
{
    Destroying();
    if (!active_)
        return;
    try {
        CloseStream();
    } catch (...) {
        // Nobody is left to tell: give back what can be given back, ignoring
        // the results, so the stream and the buffers do not outlive us.
        if (headerPrepared_)
            acmStreamUnprepareHeader(streamHandle_, &streamHeader_, 0);
        acmStreamClose(streamHandle_, 0);
        streamHandle_ = nullptr;
        ReleaseBuffers();
        active_ = false;
    }
}

void TACMConvertor::CheckError(const char* Label, MMRESULT Code)
{
    if (Code != MMSYSERR_NOERROR)
        throw EACMConvertor(MMErrorMessage(TMMErrorTable::Convertor, Label, static_cast<int32_t>(Code)));
}

void TACMConvertor::SetActive(bool Value)
{
    if (Value == active_)
        return;
    if (Value)
        OpenStream();
    else
        CloseStream();
}

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

void TACMConvertor::OpenStream()
{
    const DWORD flags = useRealTime_ ? 0 : ACM_STREAMOPENF_NONREALTIME;
    const MMRESULT opened = acmStreamOpen(&streamHandle_, nullptr, &FormatIn.wfx, &FormatOut.wfx, nullptr, 0, 0, flags);
    if (opened != MMSYSERR_NOERROR)
        streamHandle_ = nullptr;
    CheckError("acmStreamOpen:", opened);
    try {
        CheckError("acmStreamSize:", acmStreamSize(streamHandle_, inputBufferSize_, &bufferOutSize_, ACM_STREAMSIZEF_SOURCE));
        bufferIn_ = new uint8_t[inputBufferSize_];
        bufferOut_ = new uint8_t[bufferOutSize_];
        streamHeader_.cbStruct = sizeof(ACMSTREAMHEADER);
        streamHeader_.fdwStatus = 0;
        streamHeader_.dwUser = 0;
        streamHeader_.pbSrc = bufferIn_;
        streamHeader_.cbSrcLength = inputBufferSize_;
        streamHeader_.cbSrcLengthUsed = 0;
        streamHeader_.dwSrcUser = 0;
        streamHeader_.pbDst = bufferOut_;
        streamHeader_.cbDstLength = bufferOutSize_;
        streamHeader_.cbDstLengthUsed = 0;
        streamHeader_.dwDstUser = 0;
        CheckError("acmStreamPrepareHeader:", acmStreamPrepareHeader(streamHandle_, &streamHeader_, 0));
    } catch (...) {
        // A failed opening leaves nothing behind: the stream it opened is closed.
        ReleaseBuffers();
        acmStreamClose(streamHandle_, 0);
        streamHandle_ = nullptr;
        throw;
    }
    headerPrepared_ = true;
    active_ = true;
}

void TACMConvertor::CloseStream()
{
    if (headerPrepared_) {
        CheckError("acmStreamUnPrepareHeader:", acmStreamUnprepareHeader(streamHandle_, &streamHeader_, 0));
        headerPrepared_ = false;
    }
    CheckError("acmStreamClose:", acmStreamClose(streamHandle_, 0));
    streamHandle_ = nullptr;
    ReleaseBuffers();
    active_ = false;
}

void TACMConvertor::ReleaseBuffers()
{
    delete[] bufferIn_;
    bufferIn_ = nullptr;
    delete[] bufferOut_;
    bufferOut_ = nullptr;
}

uint32_t TACMConvertor::Convert()
{
    // Inactive, the handle and the buffers refer to nothing.
    if (!active_)
        throw EACMConvertor("You cannot convert while the convertor is not active.");
    std::memset(bufferOut_, 0, bufferOutSize_);
    CheckError("acmStreamConvert:", acmStreamConvert(streamHandle_, &streamHeader_, ACM_STREAMCONVERTF_BLOCKALIGN));
    CheckError("acmStreamReset", acmStreamReset(streamHandle_, 0));
    return streamHeader_.cbDstLengthUsed;
}

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
