#pragma once
// Writing test recordings with libsndfile: 11025 Hz samples resampled to any rate (windowed-sinc,
// good enough for a test tone), copied to every channel, in the format the file name's
// extension names (.wav 16-bit PCM, .flac, .ogg Vorbis, .mp3, .raw s16le).

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace dahlo::testaudio {

// Resamples 11025 Hz samples to `rate` by linear interpolation of an oversampled band-limited
// signal; `rate` 11025 copies.
std::vector<double> Resample(const std::vector<std::int16_t>& samples, int rate);

// Writes `samples` as raw signed 16-bit little-endian to `file` and rewinds it, for standard input.
void WriteRawToStream(std::FILE* file, const std::vector<std::int16_t>& samples);

bool WriteAudioFile(const std::string& path, const std::vector<std::int16_t>& samples, int rate,
                    int channels, std::string& error);

}  // namespace dahlo::testaudio
