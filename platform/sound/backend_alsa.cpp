// The alsa backend: ALSA's "default" PCM for recording and playing, in the
// format opened (8000 Hz mono S16_LE for this program), non-blocking with
// bounded waits so that no call can hang the device thread.
#include "device.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace sound {
namespace {

// The devices' buffers: 100 ms, in periods of a quarter of that. Longer
// recording periods would wake the sound server's client thread and the
// device thread less often, but a second's buffer then waits for the period
// that holds its last sample: measured through PulseAudio, 100 ms periods cost
// about 40 ms more mouth-to-ear delay for 10% less CPU. Delay matters more.
// Playback stays short too: the sound server holds back most of a longer
// buffer before it starts playing, and that is heard as delay.
constexpr unsigned kLatencyUs = 100000;
constexpr int kWaitMs = 50;

// ALSA keeps its parsed configuration globally; it is freed when the last PCM
// closes, so a program that ends with no device open leaks nothing.
std::mutex openLock;
int openCount = 0;

void Quiet(const char*, int, const char*, int, const char*, ...) {}

void Retain()
{
    std::lock_guard lock(openLock);
    if (openCount++ == 0)
        snd_lib_error_set_handler(&Quiet);
}

void Release()
{
    std::lock_guard lock(openLock);
    if (--openCount == 0)
        snd_config_update_free_global();
}

MMRESULT ErrorCode(int err)
{
    switch (-err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ECONNREFUSED:
        return MMSYSERR_NODRIVER;
    case EBUSY:
        return MMSYSERR_ALLOCATED;
    case ENOMEM:
        return MMSYSERR_NOMEM;
    case EINVAL:
        return WAVERR_BADFORMAT;
    default:
        return MMSYSERR_ERROR;
    }
}

MMRESULT OpenPcm(snd_pcm_stream_t stream, const PcmFormat& format, snd_pcm_t*& pcm)
{
    Retain();
    int err = snd_pcm_open(&pcm, "default", stream, SND_PCM_NONBLOCK);
    if (err < 0) {
        std::fprintf(stderr, "alsa: cannot open the default %s device: %s\n",
                     stream == SND_PCM_STREAM_CAPTURE ? "capture" : "playback", snd_strerror(err));
        Release();
        return ErrorCode(err);
    }
    err = snd_pcm_set_params(pcm, format.bits == 16 ? SND_PCM_FORMAT_S16_LE : SND_PCM_FORMAT_U8,
                             SND_PCM_ACCESS_RW_INTERLEAVED, format.channels, format.rate, 1, kLatencyUs);
    if (err < 0) {
        std::fprintf(stderr, "alsa: format refused: %s\n", snd_strerror(err));
        snd_pcm_close(pcm);
        Release();
        return WAVERR_BADFORMAT;
    }
    // Playback starts with the first period, not once the whole buffer is full.
    snd_pcm_uframes_t buffer = 0, period = 0;
    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    if (snd_pcm_get_params(pcm, &buffer, &period) == 0 && snd_pcm_sw_params_current(pcm, sw) == 0 &&
        snd_pcm_sw_params_set_start_threshold(pcm, sw, period) == 0)
        snd_pcm_sw_params(pcm, sw);
    return MMSYSERR_NOERROR;
}

class AlsaStream {
protected:
    explicit AlsaStream(snd_pcm_t* pcm) : pcm_(pcm) {}
    ~AlsaStream()
    {
        snd_pcm_close(pcm_);
        Release();
    }
    // After an xrun or suspend: true when the stream is usable again.
    bool Recover(long err) { return snd_pcm_recover(pcm_, static_cast<int>(err), 1) == 0; }
    snd_pcm_t* pcm_;
};

class AlsaCapture final : public PcmCapture, AlsaStream {
public:
    explicit AlsaCapture(snd_pcm_t* pcm) : AlsaStream(pcm) {}

    MMRESULT Start() override
    {
        snd_pcm_drop(pcm_);
        snd_pcm_prepare(pcm_);
        const int err = snd_pcm_start(pcm_);
        return err < 0 ? ErrorCode(err) : MMSYSERR_NOERROR;
    }

    long Read(void* data, long frames) override
    {
        snd_pcm_wait(pcm_, kWaitMs);
        const snd_pcm_sframes_t n = snd_pcm_readi(pcm_, data, static_cast<snd_pcm_uframes_t>(frames));
        if (n >= 0)
            return static_cast<long>(n);
        if (n == -EAGAIN)
            return 0;
        if (Recover(n) && snd_pcm_start(pcm_) >= 0)
            return 0;
        std::fprintf(stderr, "alsa: read error: %s\n", snd_strerror(static_cast<int>(n)));
        return -1;
    }

    void Stop() override { snd_pcm_drop(pcm_); }
};

class AlsaPlayback final : public PcmPlayback, AlsaStream {
public:
    explicit AlsaPlayback(snd_pcm_t* pcm) : AlsaStream(pcm) {}

    long Write(const void* data, long frames) override
    {
        snd_pcm_sframes_t n = snd_pcm_writei(pcm_, data, static_cast<snd_pcm_uframes_t>(frames));
        if (n == -EAGAIN) {
            snd_pcm_wait(pcm_, kWaitMs);
            n = snd_pcm_writei(pcm_, data, static_cast<snd_pcm_uframes_t>(frames));
        }
        if (n >= 0)
            return static_cast<long>(n);
        if (n == -EAGAIN)
            return 0;
        if (Recover(n))
            return 0;
        std::fprintf(stderr, "alsa: write error: %s\n", snd_strerror(static_cast<int>(n)));
        return -1;
    }

    long Pending() override
    {
        if (snd_pcm_state(pcm_) != SND_PCM_STATE_RUNNING)
            return snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED ? static_cast<long>(Queued()) : 0;
        // A running stream has not run dry: that shows as an underrun (the
        // stream stops). Its delay can read 0 while the sound server still
        // holds the sound (the pulse plugin), and taking that for dry would
        // put a fresh cushion, and its delay, in front of every block.
        snd_pcm_sframes_t delay = 0;
        return snd_pcm_delay(pcm_, &delay) < 0 || delay < 1 ? 1 : static_cast<long>(delay);
    }

    void Drop() override
    {
        snd_pcm_drop(pcm_);
        snd_pcm_prepare(pcm_);
    }

private:
    // Frames written to a prepared stream that has not started yet.
    snd_pcm_sframes_t Queued()
    {
        snd_pcm_sframes_t avail = snd_pcm_avail(pcm_);
        snd_pcm_uframes_t buffer = 0, period = 0;
        snd_pcm_get_params(pcm_, &buffer, &period);
        return avail < 0 ? 0 : static_cast<snd_pcm_sframes_t>(buffer) - avail;
    }
};

MMRESULT OpenCapture(const PcmFormat& format, std::unique_ptr<PcmCapture>& capture)
{
    snd_pcm_t* pcm = nullptr;
    if (MMRESULT r = OpenPcm(SND_PCM_STREAM_CAPTURE, format, pcm))
        return r;
    capture = std::make_unique<AlsaCapture>(pcm);
    return MMSYSERR_NOERROR;
}

MMRESULT OpenPlayback(const PcmFormat& format, std::unique_ptr<PcmPlayback>& playback)
{
    snd_pcm_t* pcm = nullptr;
    if (MMRESULT r = OpenPcm(SND_PCM_STREAM_PLAYBACK, format, pcm))
        return r;
    playback = std::make_unique<AlsaPlayback>(pcm);
    return MMSYSERR_NOERROR;
}

} // namespace

const Backend& AlsaBackend()
{
    using Openers = StreamOpeners<&OpenCapture, &OpenPlayback>;
    static const Backend backend{"alsa", "ALSA's default device", &Openers::In, &Openers::Out};
    return backend;
}

} // namespace sound
