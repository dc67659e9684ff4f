// Synthesises the program's two alert sounds and writes them as 16-bit PCM mono wave files.
//
//   tivane-genwave <output directory>
//
// writes Notify.wav (two quick falling tones), Info.wav (a soft two-note rising chime),
// HostDown.wav (three falling notes of a minor chord: a host stopped answering) and HostUp.wav
// (three rising notes of a major chord: it is back).
// Everything is computed here, so the build needs no audio tools.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr int kSampleRate = 44100;
constexpr double kPeak = 0.5; // -6 dBFS
constexpr double kTwoPi = 2.0 * std::numbers::pi;

using Signal = std::vector<double>;

int samplesFor(double seconds)
{
    return static_cast<int>(std::lround(seconds * kSampleRate));
}

// Raised-cosine ramp from 0 to 1 over `length` samples: smooth at both ends, so no clicks.
double ramp(int i, int length)
{
    if (i <= 0)
        return 0.0;
    if (i >= length)
        return 1.0;
    return 0.5 - 0.5 * std::cos(std::numbers::pi * i / length);
}

// A short tone: soft attack, gentle exponential fall and a raised-cosine release to exact silence.
void addTone(Signal& out, double start, double length, double frequency, double amplitude)
{
    const int first = samplesFor(start);
    const int count = samplesFor(length);
    const int attack = samplesFor(0.012);
    const int release = samplesFor(0.060);
    for (int i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / kSampleRate;
        const double envelope = ramp(i, attack) * ramp(count - i, release) * std::exp(-t * 5.0);
        // A little second and third harmonic gives the beep some warmth without harshness.
        const double phase = kTwoPi * frequency * t;
        const double wave = std::sin(phase) + 0.18 * std::sin(2 * phase) + 0.06 * std::sin(3 * phase);
        out[static_cast<std::size_t>(first + i)] += amplitude * envelope * wave;
    }
}

// A bell-like strike: a few slightly stretched partials, the higher ones dying away faster.
void addBell(Signal& out, double start, double length, double frequency, double amplitude)
{
    struct Partial
    {
        double ratio;
        double level;
        double decay; // per second
    };
    static constexpr Partial partials[] = {
        {1.0, 1.0, 6.0}, {2.0, 0.35, 9.0}, {3.01, 0.16, 13.0}, {4.17, 0.07, 18.0}, {5.43, 0.03, 24.0},
    };
    const int first = samplesFor(start);
    const int count = std::min(samplesFor(length), static_cast<int>(out.size()) - first);
    const int attack = samplesFor(0.004);
    const int release = samplesFor(0.080);
    for (int i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / kSampleRate;
        double sum = 0.0;
        for (const Partial& p : partials)
            sum += p.level * std::exp(-t * p.decay) * std::sin(kTwoPi * frequency * p.ratio * t);
        out[static_cast<std::size_t>(first + i)] += amplitude * ramp(i, attack) * ramp(count - i, release) * sum;
    }
}

Signal notifySound()
{
    Signal s(static_cast<std::size_t>(samplesFor(0.35)), 0.0);
    addTone(s, 0.000, 0.150, 987.77, 1.0); // B5
    addTone(s, 0.165, 0.180, 739.99, 1.0); // F#5
    return s;
}

Signal infoSound()
{
    Signal s(static_cast<std::size_t>(samplesFor(0.60)), 0.0);
    addBell(s, 0.000, 0.60, 783.99, 0.8);  // G5
    addBell(s, 0.140, 0.46, 1046.50, 1.0); // C6
    return s;
}

// Lower and slower than Notify.wav, so that losing a host is not mistaken for a single failure.
Signal hostDownSound()
{
    Signal s(static_cast<std::size_t>(samplesFor(0.62)), 0.0);
    addTone(s, 0.000, 0.170, 783.99, 1.0); // G5
    addTone(s, 0.190, 0.170, 622.25, 1.0); // E flat 5
    addTone(s, 0.380, 0.240, 523.25, 1.0); // C5
    return s;
}

Signal hostUpSound()
{
    Signal s(static_cast<std::size_t>(samplesFor(0.50)), 0.0);
    addTone(s, 0.000, 0.140, 523.25, 0.9); // C5
    addTone(s, 0.120, 0.140, 659.25, 0.9); // E5
    addTone(s, 0.240, 0.260, 783.99, 1.0); // G5
    return s;
}

std::vector<std::int16_t> toPcm(const Signal& signal)
{
    double loudest = 0.0;
    for (double v : signal)
        loudest = std::max(loudest, std::abs(v));
    const double gain = loudest > 0.0 ? kPeak / loudest : 0.0;
    std::vector<std::int16_t> pcm;
    pcm.reserve(signal.size());
    for (double v : signal) {
        const double scaled = std::clamp(v * gain * 32767.0, -32767.0, 32767.0);
        pcm.push_back(static_cast<std::int16_t>(std::lround(scaled)));
    }
    return pcm;
}

void put16(std::ofstream& out, std::uint16_t v)
{
    out.put(static_cast<char>(v & 0xff));
    out.put(static_cast<char>((v >> 8) & 0xff));
}

void put32(std::ofstream& out, std::uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.put(static_cast<char>((v >> shift) & 0xff));
}

bool writeWave(const std::string& path, const std::vector<std::int16_t>& pcm)
{
    constexpr std::uint16_t channels = 1;
    constexpr std::uint16_t bits = 16;
    constexpr std::uint16_t blockAlign = channels * bits / 8;
    const auto dataBytes = static_cast<std::uint32_t>(pcm.size() * blockAlign);

    const std::string partial = path + ".part";
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    out.write("RIFF", 4);
    put32(out, 36 + dataBytes);
    out.write("WAVE", 4);
    out.write("fmt ", 4);
    put32(out, 16);
    put16(out, 1); // PCM
    put16(out, channels);
    put32(out, kSampleRate);
    put32(out, kSampleRate * blockAlign);
    put16(out, blockAlign);
    put16(out, bits);
    out.write("data", 4);
    put32(out, dataBytes);
    for (std::int16_t sample : pcm)
        put16(out, static_cast<std::uint16_t>(sample));
    out.close();
    if (!out)
        return false;
    // Only a complete file takes the final name, so an interrupted build never leaves half a sound.
    return std::rename(partial.c_str(), path.c_str()) == 0;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output directory>\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const struct
    {
        const char* name;
        Signal (*make)();
    } sounds[] = {{"Notify.wav", notifySound},
                  {"Info.wav", infoSound},
                  {"HostDown.wav", hostDownSound},
                  {"HostUp.wav", hostUpSound}};
    for (const auto& sound : sounds) {
        const std::string path = dir + "/" + sound.name;
        if (!writeWave(path, toPcm(sound.make()))) {
            std::fprintf(stderr, "tivane-genwave: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
