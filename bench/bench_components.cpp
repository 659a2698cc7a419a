// Speed and allocations of the convertor and the playback component, and the
// CPU that the lame command-line encoder spends on the same sound, for a ratio.
//
//   bench_components [--benchmark_...]
//
// Counters: allocs (operator new and malloc calls per iteration; for Play+done
// they include the scripted device's own call log and Qt's posted event), and for the
// convertor cpu_ms_per_s (CPU per second of sound) and lame_ratio (that CPU
// over the lame CLI's CPU per second of the same sound).
#include "ACMConvertor.h"
#include "ACMOut.h"
#include "forms.h"
#include "scripted.h"
#include "speech_signal.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// Every allocation of the process, counted.
static std::atomic<uint64_t> allocations{0};

#if !defined(__SANITIZE_ADDRESS__)
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void* malloc(size_t n)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(n);
}
extern "C" void* calloc(size_t n, size_t m)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(n, m);
}
extern "C" void* realloc(void* p, size_t n)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, n);
}
#endif

void* operator new(size_t n)
{
    // malloc counts it
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

constexpr int kSeconds = 30; // of sound, for both the convertor and lame

const std::vector<int16_t>& Speech()
{
    static const std::vector<int16_t> samples = SpeechLikeSignal(kSeconds);
    return samples;
}

double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}

double ChildrenCpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_CHILDREN, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// CPU seconds that `lame --cbr -b 8 -m m -t` spends per second of the sound,
// the best of Runs runs; 0 when lame cannot be run.
double LameCpuPerSecond(int Runs = 5)
{
    static double best = -1;
    if (best >= 0)
        return best;
    best = 0;
    const std::string dir = "/tmp/vocora-bench-" + std::to_string(getpid());
    const std::string wav = dir + ".wav", mp3 = dir + ".mp3";
    if (!WriteWav(wav, Speech()))
        return best;
    for (int run = 0; run < Runs; ++run) {
        const double before = ChildrenCpuSeconds();
        const pid_t child = fork();
        if (child == 0) {
            execlp("lame", "lame", "--quiet", "--cbr", "-b", "8", "-m", "m", "-t", wav.c_str(), mp3.c_str(),
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            best = 0;
            break;
        }
        const double perSecond = (ChildrenCpuSeconds() - before) / kSeconds;
        if (best == 0 || perSecond < best)
            best = perSecond;
    }
    std::remove(wav.c_str());
    std::remove(mp3.c_str());
    return best;
}

// Converts one second of Speech PCM (16000 bytes) to MPEG Layer-3, as the
// main window does once a second.
void BM_ConvertOneSecond(benchmark::State& state)
{
    TACMConvertor conv(nullptr);
    conv.FormatIn = SpeechPcmFormat();
    conv.FormatOut = MpegLayer3Format();
    conv.SetInputBufferSize(16000);
    conv.SetUseRealTime(true);
    conv.SetActive(true);
    const auto& speech = Speech();
    size_t second = 0;
    // The first conversion of a stream is counted apart: the codec may set up
    // lazily there.
    std::memcpy(conv.BufferIn(), speech.data(), 16000);
    uint64_t first = allocations.load();
    conv.Convert();
    state.counters["first_allocs"] = double(allocations.load() - first);
    uint64_t bytesOut = 0;
    uint64_t convertAllocs = 0;
    const double cpuBefore = ProcessCpuSeconds();
    for (auto _ : state) {
        std::memcpy(conv.BufferIn(), speech.data() + second * 8000, 16000);
        const uint64_t before = allocations.load(std::memory_order_relaxed);
        bytesOut += conv.Convert();
        convertAllocs += allocations.load(std::memory_order_relaxed) - before;
        second = (second + 1) % kSeconds;
    }
    const double cpuPerSecond = (ProcessCpuSeconds() - cpuBefore) / double(state.iterations());
    state.counters["allocs"] = double(convertAllocs) / double(state.iterations());
    state.counters["bytes_out"] = double(bytesOut) / double(state.iterations());
    state.counters["cpu_ms_per_s"] = cpuPerSecond * 1e3;
    const double lame = LameCpuPerSecond();
    state.counters["lame_cpu_ms_per_s"] = lame * 1e3;
    if (lame > 0)
        state.counters["lame_ratio"] = cpuPerSecond / lame;
    conv.SetActive(false);
}
BENCHMARK(BM_ConvertOneSecond)->Unit(benchmark::kMicrosecond);

// The lame command-line encoder on the same sound: CPU per second of sound
// (start-up included, spread over kSeconds seconds).
void BM_LameCliPerSecond(benchmark::State& state)
{
    double perSecond = 0;
    for (auto _ : state) {
        perSecond = LameCpuPerSecond(1 + int(state.iterations()));
        state.SetIterationTime(perSecond);
    }
    state.counters["cpu_ms_per_s"] = perSecond * 1e3;
}
BENCHMARK(BM_LameCliPerSecond)->UseManualTime()->Iterations(1)->Unit(benchmark::kMicrosecond);

// One received chunk of about a second of MPEG Layer-3 (1000 bytes): Play
// copies and writes it, the scripted device hands it back, the done message
// is dispatched and BufferDone frees it.
void BM_PlayAndDone(benchmark::State& state)
{
    scripted::Install();
    TACMOut out(nullptr);
    out.NumBuffers = 0;
    out.Open(MpegLayer3Format());
    std::vector<uint8_t> chunk(1000);
    for (size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = uint8_t(i * 7);
    uint64_t playAllocs = 0;
    const uint64_t allocsBefore = allocations.load();
    for (auto _ : state) {
        const uint64_t before = allocations.load();
        out.Play(chunk.data(), int32_t(chunk.size()));
        playAllocs += allocations.load() - before;
        scripted::Play();
        while (out.BufferCount() > 0)
            QCoreApplication::sendPostedEvents();
    }
    state.counters["allocs"] = double(allocations.load() - allocsBefore) / double(state.iterations());
    state.counters["play_allocs"] = double(playAllocs) / double(state.iterations());
    out.Close();
    scripted::Uninstall();
}
BENCHMARK(BM_PlayAndDone)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    benchmark::Initialize(&argc, argv);
    TApplication app;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
