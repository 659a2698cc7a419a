#pragma once
// Helpers for tests that measure sound: speech made by espeak-ng and sox,
// WAV files, the mpg123 command-line decoder, and the envelope comparison.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace soundtest {

inline std::string TempDir()
{
    char name[] = "/tmp/vocora-sound-XXXXXX";
    const char* dir = mkdtemp(name);
    return dir ? dir : "/tmp";
}

inline bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

inline std::vector<uint8_t> ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::string& path, const void* data, size_t size)
{
    std::ofstream f(path, std::ios::binary);
    f.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

inline uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
inline uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

struct Wav {
    uint16_t tag = 0, channels = 0, bits = 0;
    uint32_t rate = 0;
    uint32_t riffSize = 0, dataSize = 0; // as the header says
    std::vector<int16_t> samples;        // 16-bit data, as far as the file holds it
};

// Reads a RIFF WAVE file; the data chunk may claim more than the file holds.
inline bool ReadWav(const std::string& path, Wav& wav)
{
    const std::vector<uint8_t> b = ReadFile(path);
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(b.data() + 8, "WAVE", 4) != 0)
        return false;
    wav.riffSize = Le32(&b[4]);
    size_t at = 12;
    while (at + 8 <= b.size()) {
        const uint32_t size = Le32(&b[at + 4]);
        if (std::memcmp(&b[at], "fmt ", 4) == 0 && at + 24 <= b.size()) {
            wav.tag = Le16(&b[at + 8]);
            wav.channels = Le16(&b[at + 10]);
            wav.rate = Le32(&b[at + 12]);
            wav.bits = Le16(&b[at + 22]);
        } else if (std::memcmp(&b[at], "data", 4) == 0) {
            wav.dataSize = size;
            const size_t n = std::min<size_t>(size, b.size() - at - 8) / 2;
            wav.samples.resize(n);
            std::memcpy(wav.samples.data(), &b[at + 8], n * 2);
            return true;
        }
        at += 8 + size + (size & 1);
    }
    return false;
}

inline void WriteWav(const std::string& path, const std::vector<int16_t>& s, uint32_t rate = 8000)
{
    std::vector<uint8_t> h(44);
    auto put32 = [&](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) h[at + i] = uint8_t(v >> (8 * i)); };
    auto put16 = [&](size_t at, uint16_t v) { h[at] = uint8_t(v); h[at + 1] = uint8_t(v >> 8); };
    const uint32_t bytes = uint32_t(s.size() * 2);
    std::memcpy(&h[0], "RIFF", 4);
    put32(4, 36 + bytes);
    std::memcpy(&h[8], "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, 1);
    put32(24, rate);
    put32(28, rate * 2);
    put16(32, 2);
    put16(34, 16);
    std::memcpy(&h[36], "data", 4);
    put32(40, bytes);
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(h.data()), 44);
    f.write(reinterpret_cast<const char*>(s.data()), bytes);
}

// Ten seconds of English speech, 8000 Hz mono 16-bit, written to dir/speech.wav.
inline std::vector<int16_t> MakeSpeech(const std::string& dir)
{
    const std::string raw = dir + "/speech-raw.wav", wav = dir + "/speech.wav";
    const std::string text = "The quick brown fox jumps over the lazy dog. A voice call carries every second of "
                             "sound across the network, and the other side plays it back as it arrives. Nine "
                             "bright stars shine above the quiet harbour tonight.";
    if (!Run("espeak-ng -v en -s 150 -w " + raw + " '" + text + "'") ||
        !Run("sox " + raw + " -r 8000 -c 1 -b 16 " + wav + " trim 0 10"))
        return {};
    Wav w;
    if (!ReadWav(wav, w))
        return {};
    return w.samples;
}

// Decodes an MPEG audio stream with the mpg123 command-line program.
inline std::vector<int16_t> DecodeWithMpg123(const std::string& dir, const std::vector<uint8_t>& stream)
{
    const std::string in = dir + "/decode.mp3", out = dir + "/decode.raw";
    WriteFile(in, stream.data(), stream.size());
    if (!Run("mpg123 -q -e s16 --mono -r 8000 -s " + in + " > " + out))
        return {};
    const std::vector<uint8_t> b = ReadFile(out);
    std::vector<int16_t> s(b.size() / 2);
    std::memcpy(s.data(), b.data(), s.size() * 2);
    return s;
}

// 20-ms RMS levels in dB, one per window starting at offset.
inline std::vector<double> Envelope(const std::vector<int16_t>& s, long offset, size_t windows)
{
    std::vector<double> e(windows);
    for (size_t w = 0; w < windows; ++w) {
        double sum = 0;
        for (long i = 0; i < 160; ++i) {
            const long at = offset + long(w) * 160 + i;
            const double v = at >= 0 && at < long(s.size()) ? s[at] : 0;
            sum += v * v;
        }
        e[w] = 10 * std::log10(sum / 160 + 1.0);
    }
    return e;
}

inline double Pearson(const std::vector<double>& a, const std::vector<double>& b)
{
    double ma = 0, mb = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        ma += a[i];
        mb += b[i];
    }
    ma /= a.size();
    mb /= b.size();
    double sab = 0, saa = 0, sbb = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        sab += (a[i] - ma) * (b[i] - mb);
        saa += (a[i] - ma) * (a[i] - ma);
        sbb += (b[i] - mb) * (b[i] - mb);
    }
    return saa > 0 && sbb > 0 ? sab / std::sqrt(saa * sbb) : 0;
}

struct Match {
    double correlation = 0;
    long lag = 0; // samples by which got lags input
};

// Envelope correlation of got against input at the best lag in [0, maxLag].
inline Match EnvelopeMatch(const std::vector<int16_t>& input, const std::vector<int16_t>& got, long maxLag)
{
    const size_t windows = input.size() / 160;
    const std::vector<double> ref = Envelope(input, 0, windows);
    Match best{-2, 0};
    for (long lag = 0; lag <= maxLag; lag += 8) {
        const double c = Pearson(ref, Envelope(got, lag, windows));
        if (c > best.correlation)
            best = {c, lag};
    }
    return best;
}

} // namespace soundtest
