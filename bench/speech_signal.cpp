#include "speech_signal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

namespace {

// A two-pole resonator at Frequency with Bandwidth, both in Hz, at 8000 Hz.
struct Resonator {
    double y1 = 0, y2 = 0;
    double Step(double x, double frequency, double bandwidth)
    {
        const double r = std::exp(-M_PI * bandwidth / 8000.0);
        const double a1 = 2 * r * std::cos(2 * M_PI * frequency / 8000.0);
        const double a2 = -r * r;
        const double y = (1 - r) * x + a1 * y1 + a2 * y2;
        y2 = y1;
        y1 = y;
        return y;
    }
};

} // namespace

std::vector<int16_t> SpeechLikeSignal(int Seconds)
{
    const int n = Seconds * 8000;
    std::vector<int16_t> out(size_t(n), 0);
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 1.0);
    // Vowel-ish formant sets, one per syllable in turn.
    const double formants[][3] = {{730, 1090, 2440}, {270, 2290, 3010}, {530, 1840, 2480},
                                  {300, 870, 2240},  {640, 1190, 2390}, {490, 1350, 1690}};
    Resonator f1, f2, f3;
    double phase = 0;
    const int syllable = 2000; // 250 ms
    for (int i = 0; i < n; ++i) {
        const int s = i / syllable;
        const double pos = double(i % syllable) / syllable;
        const double* f = formants[s % 6];
        const double* g = formants[(s + 1) % 6];
        const double k = pos * pos; // glide towards the next vowel
        const double pitch = 110 + 30 * std::sin(2 * M_PI * 0.7 * i / 8000.0) + 15 * std::sin(2 * M_PI * 3.1 * i / 8000.0);
        phase += pitch / 8000.0;
        double source = 0;
        if (phase >= 1) {
            phase -= 1;
            source = 1;
        }
        source += 0.02 * noise(random);
        const double envelope = (s % 5 == 4) ? 0.03 : std::sin(M_PI * pos); // every fifth syllable a pause
        const double v = f1.Step(source, f[0] + (g[0] - f[0]) * k, 90) +
                         0.6 * f2.Step(source, f[1] + (g[1] - f[1]) * k, 110) +
                         0.3 * f3.Step(source, f[2] + (g[2] - f[2]) * k, 170);
        out[size_t(i)] = int16_t(std::lround(std::clamp(v * envelope * 9000.0, -32000.0, 32000.0)));
    }
    return out;
}

bool WriteWav(const std::string& Path, const std::vector<int16_t>& Samples)
{
    FILE* f = std::fopen(Path.c_str(), "wb");
    if (!f)
        return false;
    const uint32_t dataBytes = uint32_t(Samples.size() * 2);
    auto u32 = [&](uint32_t v) { std::fwrite(&v, 4, 1, f); };
    auto u16 = [&](uint16_t v) { std::fwrite(&v, 2, 1, f); };
    std::fwrite("RIFF", 1, 4, f);
    u32(36 + dataBytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    u32(16);
    u16(1);
    u16(1);
    u32(8000);
    u32(16000);
    u16(2);
    u16(16);
    std::fwrite("data", 1, 4, f);
    u32(dataBytes);
    std::fwrite(Samples.data(), 2, Samples.size(), f);
    return std::fclose(f) == 0;
}
