// tarvo-soundgen: writes the station's two result sounds as WAV files (16-bit PCM, mono,
// 22 050 Hz), built into the program at build time:
//   pass.wav  two rising tones, 880 Hz then 1320 Hz, 110 ms each
//   fail.wav  three low buzzes at 220 Hz (with its odd overtones), 120 ms each, 60 ms apart
// Usage: tarvo-soundgen OUTPUT_DIR
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 22050;
constexpr double kPi = 3.14159265358979323846;

void Tone(std::vector<int16_t>& out, double hz, int ms, double amplitude, bool buzz)
{
    const int n = kRate * ms / 1000;
    const int fade = kRate * 8 / 1000;  // 8 ms in and out: no clicks
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        double v = std::sin(2 * kPi * hz * t);
        if (buzz)
            v = 0.7 * v + 0.2 * std::sin(2 * kPi * 3 * hz * t) + 0.1 * std::sin(2 * kPi * 5 * hz * t);
        double envelope = 1.0;
        if (i < fade)
            envelope = static_cast<double>(i) / fade;
        else if (n - i < fade)
            envelope = static_cast<double>(n - i) / fade;
        out.push_back(static_cast<int16_t>(std::lround(v * envelope * amplitude * 32767)));
    }
}

void Silence(std::vector<int16_t>& out, int ms) { out.insert(out.end(), static_cast<size_t>(kRate * ms / 1000), 0); }

void Put32(std::FILE* f, uint32_t v)
{
    const unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
    std::fwrite(b, 1, 4, f);
}

void Put16(std::FILE* f, uint16_t v)
{
    const unsigned char b[2] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)};
    std::fwrite(b, 1, 2, f);
}

bool WriteWav(const std::string& path, const std::vector<int16_t>& samples)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        return false;
    }
    const uint32_t data = static_cast<uint32_t>(samples.size() * 2);
    std::fwrite("RIFF", 1, 4, f);
    Put32(f, 36 + data);
    std::fwrite("WAVEfmt ", 1, 8, f);
    Put32(f, 16);
    Put16(f, 1);  // PCM
    Put16(f, 1);  // mono
    Put32(f, kRate);
    Put32(f, kRate * 2);
    Put16(f, 2);
    Put16(f, 16);
    std::fwrite("data", 1, 4, f);
    Put32(f, data);
    for (int16_t s : samples)
        Put16(f, static_cast<uint16_t>(s));
    const bool ok = std::ferror(f) == 0;
    if (std::fclose(f) != 0 || !ok) {
        std::fprintf(stderr, "%s: write failed\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: tarvo-soundgen OUTPUT_DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    std::vector<int16_t> pass;
    Tone(pass, 880, 110, 0.5, false);
    Tone(pass, 1320, 110, 0.5, false);
    std::vector<int16_t> fail;
    for (int i = 0; i < 3; ++i) {
        Tone(fail, 220, 120, 0.6, true);
        if (i < 2)
            Silence(fail, 60);
    }
    return WriteWav(dir + "/pass.wav", pass) && WriteWav(dir + "/fail.wav", fail) ? 0 : 1;
}
