#include "support/audio_files.h"

#include <samplerate.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>

namespace dahlo::testaudio {

std::vector<double> Resample(const std::vector<std::int16_t>& samples, int rate) {
    std::vector<double> out;
    if (rate == 11025) {
        out.assign(samples.begin(), samples.end());
        return out;
    }
    std::vector<float> in(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) in[i] = samples[i] / 32768.0f;
    const double ratio = static_cast<double>(rate) / 11025.0;
    std::vector<float> res(static_cast<std::size_t>(in.size() * ratio) + 64);
    SRC_DATA data{};
    data.data_in = in.data();
    data.input_frames = static_cast<long>(in.size());
    data.data_out = res.data();
    data.output_frames = static_cast<long>(res.size());
    data.src_ratio = ratio;
    src_simple(&data, SRC_SINC_BEST_QUALITY, 1);
    out.resize(static_cast<std::size_t>(data.output_frames_gen));
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = res[i] * 32768.0;
    return out;
}

void WriteRawToStream(std::FILE* file, const std::vector<std::int16_t>& samples) {
    for (const std::int16_t x : samples) {
        const unsigned char b[2] = {static_cast<unsigned char>(x & 0xFF),
                                    static_cast<unsigned char>((x >> 8) & 0xFF)};
        std::fwrite(b, 1, 2, file);
    }
    std::rewind(file);
}

bool WriteAudioFile(const std::string& path, const std::vector<std::int16_t>& samples, int rate,
                    int channels, std::string& error) {
    const std::vector<double> mono = Resample(samples, rate);
    const auto dot = path.rfind('.');
    const std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
    if (ext == "raw") {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) {
            error = "cannot create " + path;
            return false;
        }
        for (const double v : mono) {
            const auto s = static_cast<std::int16_t>(std::lround(v));
            const unsigned char bytes[2] = {static_cast<unsigned char>(s & 0xFF),
                                            static_cast<unsigned char>((s >> 8) & 0xFF)};
            std::fwrite(bytes, 1, 2, f);
        }
        std::fclose(f);
        return true;
    }
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    if (ext == "flac") {
        info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    } else if (ext == "ogg") {
        info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    } else if (ext == "mp3") {
        info.format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    } else {
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    }
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        error = path + ": " + sf_strerror(nullptr);
        return false;
    }
    std::vector<double> frames(mono.size() * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < mono.size(); ++i) {
        for (int c = 0; c < channels; ++c) frames[i * channels + c] = mono[i] / 32768.0;
    }
    sf_writef_double(file, frames.data(), static_cast<sf_count_t>(mono.size()));
    sf_close(file);
    return true;
}

}  // namespace dahlo::testaudio
