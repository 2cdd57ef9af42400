#include "iq/iq_source.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <vector>

#include <nlohmann/json.hpp>

namespace dahlo::iq {

namespace {

// Bytes read from a raw stream or data file at a time: large enough that fread costs nothing per
// sample, small enough to stay in cache.
constexpr std::size_t kReadChunkBytes = 64 * 1024;
// Frames read from a sound file at a time.
constexpr std::size_t kSoundChunkFrames = 8192;

std::string Seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", s);
    return text;
}

std::uint32_t Le32(const unsigned char* b) {
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}
std::uint16_t Le16(const unsigned char* b) {
    return static_cast<std::uint16_t>(b[0] | b[1] << 8);
}

// A sample a float file may hold but the filters must not see.
float Finite(float x) { return std::isfinite(x) ? x : 0.0f; }

// Raw interleaved samples from a stream; owns the stream only when asked to (a SigMF data file).
class RawSource final : public IqSource {
  public:
    RawSource(std::FILE* stream, bool owned, std::string name, IqFormat format, double rateHz,
              std::optional<double> centreHz)
        : stream_(stream),
          owned_(owned),
          name_(std::move(name)),
          format_(format),
          bytesPerSample_(BytesPerSample(format)),
          rateHz_(rateHz),
          centreHz_(centreHz),
          bytes_(kReadChunkBytes - kReadChunkBytes % BytesPerSample(format)) {}
    ~RawSource() override {
        if (owned_) std::fclose(stream_);
    }

    std::size_t Read(std::complex<float>* out, std::size_t count) override {
        std::size_t done = 0;
        while (done < count && !ended_) {
            const std::size_t want = std::min(count - done, bytes_.size() / bytesPerSample_);
            const std::size_t got = std::fread(bytes_.data(), 1, want * bytesPerSample_, stream_);
            const std::size_t whole = got / bytesPerSample_;
            for (std::size_t i = 0; i < whole; ++i) {
                out[done + i] = DecodeSample(format_, bytes_.data() + i * bytesPerSample_);
            }
            done += whole;
            read_ += static_cast<std::int64_t>(whole);
            if (got < want * bytesPerSample_) {
                ended_ = true;
                const double at = static_cast<double>(read_) / rateHz_;
                if (std::ferror(stream_)) {
                    damage_ = name_ + ": cut short at " + Seconds(at) + ": " +
                              std::strerror(errno);
                } else if (got % bytesPerSample_ != 0) {
                    damage_ = name_ + ": cut short at " + Seconds(at) +
                              ": the input ends inside a sample";
                }
            }
        }
        return done;
    }
    bool Ended() const override { return ended_; }
    double RateHz() const override { return rateHz_; }
    std::optional<double> CentreHz() const override { return centreHz_; }
    const std::string& Name() const override { return name_; }
    std::string Damage() const override { return damage_; }

  private:
    std::FILE* stream_;
    bool owned_;
    std::string name_;
    IqFormat format_;
    std::size_t bytesPerSample_;
    double rateHz_;
    std::optional<double> centreHz_;
    std::vector<unsigned char> bytes_;
    std::int64_t read_ = 0;
    bool ended_ = false;
    std::string damage_;
};

class SoundFileSource final : public IqSource {
  public:
    SoundFileSource(std::string name, SNDFILE* file, const SF_INFO& info,
                    std::optional<double> centreHz, std::string damage)
        : name_(std::move(name)),
          file_(file),
          frames_(info.frames),
          rateHz_(info.samplerate),
          centreHz_(centreHz),
          promisedDamage_(std::move(damage)),
          interleaved_(2 * kSoundChunkFrames) {}
    ~SoundFileSource() override { sf_close(file_); }

    std::size_t Read(std::complex<float>* out, std::size_t count) override {
        std::size_t done = 0;
        while (done < count && !ended_) {
            const auto want = static_cast<sf_count_t>(std::min(count - done, kSoundChunkFrames));
            const sf_count_t got = sf_readf_float(file_, interleaved_.data(), want);
            for (sf_count_t i = 0; i < std::max<sf_count_t>(got, 0); ++i) {
                out[done++] = {Finite(interleaved_[2 * i]), Finite(interleaved_[2 * i + 1])};
            }
            read_ += std::max<sf_count_t>(got, 0);
            if (got < want) {
                ended_ = true;
                if (read_ < frames_ || sf_error(file_) != SF_ERR_NO_ERROR) {
                    damage_ = name_ + ": cut short at " + Seconds(read_ / rateHz_) +
                              ": the file is corrupt or ends there";
                } else {
                    damage_ = promisedDamage_;
                }
            }
        }
        return done;
    }
    bool Ended() const override { return ended_; }
    double RateHz() const override { return rateHz_; }
    std::optional<double> CentreHz() const override { return centreHz_; }
    const std::string& Name() const override { return name_; }
    std::string Damage() const override { return damage_; }

  private:
    std::string name_;
    SNDFILE* file_;
    sf_count_t frames_;
    double rateHz_;
    std::optional<double> centreHz_;
    std::string promisedDamage_;
    std::vector<float> interleaved_;
    sf_count_t read_ = 0;
    bool ended_ = false;
    std::string damage_;
};

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Whether libsndfile's log says the data chunk's header promises more than the file holds.
bool HeaderPromisesMore(SNDFILE* file) {
    char log[4096] = {};
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
    for (const char* line = log; *line != '\0';) {
        const char* end = std::strchr(line, '\n');
        const std::string text(line, end ? static_cast<std::size_t>(end - line) : std::strlen(line));
        line = end ? end + 1 : line + text.size();
        const auto colon = text.find(':');
        const auto should = text.find("(should be");
        long long said = 0;
        long long real = 0;
        if ((text.rfind("data", 0) == 0 || text.rfind("SSND", 0) == 0) &&
            colon != std::string::npos && should != std::string::npos &&
            std::sscanf(text.c_str() + colon + 1, "%lld", &said) == 1 &&
            std::sscanf(text.c_str() + should + 10, "%lld", &real) == 1 && said > real) {
            return true;
        }
    }
    return false;
}

std::unique_ptr<IqSource> OpenSoundFile(const std::string& path, std::optional<double> centreHz) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        throw IqError(path + ": not a sound file or SigMF recording (" + sf_strerror(nullptr) +
                      ")");
    }
    if (info.channels != 2) {
        sf_close(file);
        throw IqError(path + ": has " + std::to_string(info.channels) +
                      (info.channels == 1 ? " channel (mono)" : " channels") +
                      "; IQ needs a stereo file, I left and Q right");
    }
    try {
        CheckRateAndCentre(path, info.samplerate, centreHz);
    } catch (...) {
        sf_close(file);
        throw;
    }
    std::string damage;
    if (HeaderPromisesMore(file)) {
        damage = path + ": cut short at " +
                 Seconds(static_cast<double>(info.frames) / info.samplerate) +
                 ": the file holds less than its header says";
    }
    return std::make_unique<SoundFileSource>(path, file, info, centreHz, std::move(damage));
}

std::unique_ptr<IqSource> OpenSigmf(const std::string& path, std::optional<double> centreHz) {
    const std::string base = path.substr(0, path.rfind('.'));
    const std::string metaPath = base + ".sigmf-meta";
    const std::string dataPath = base + ".sigmf-data";
    std::ifstream metaFile(metaPath);
    if (!metaFile) throw IqError(metaPath + ": cannot open the SigMF metadata: " + std::strerror(errno));
    nlohmann::json meta;
    try {
        meta = nlohmann::json::parse(metaFile);
    } catch (const nlohmann::json::exception& e) {
        throw IqError(metaPath + ": not valid SigMF metadata (JSON: " + e.what() + ")");
    }
    const auto* global = meta.is_object() && meta.contains("global") && meta["global"].is_object()
                             ? &meta["global"]
                             : nullptr;
    if (global == nullptr) throw IqError(metaPath + ": SigMF metadata without a \"global\" object");
    const auto datatype = global->find("core:datatype");
    if (datatype == global->end() || !datatype->is_string()) {
        throw IqError(metaPath + ": SigMF metadata without core:datatype");
    }
    const std::string type = datatype->get<std::string>();
    const std::optional<IqFormat> format =
        type.rfind("c", 0) == 0 ? ParseIqFormat(type) : std::nullopt;
    if (!format) {
        throw IqError(metaPath + ": SigMF datatype \"" + type +
                      "\" is not one read here (cf32_le, ci32_le, ci16_le, cu16_le, ci8, cu8)");
    }
    const auto rate = global->find("core:sample_rate");
    if (rate == global->end() || !rate->is_number()) {
        throw IqError(metaPath + ": SigMF metadata without core:sample_rate");
    }
    if (!centreHz && meta.contains("captures") && meta["captures"].is_array() &&
        !meta["captures"].empty() && meta["captures"][0].is_object()) {
        const auto frequency = meta["captures"][0].find("core:frequency");
        if (frequency != meta["captures"][0].end() && frequency->is_number()) {
            centreHz = frequency->get<double>();
        }
    }
    CheckRateAndCentre(metaPath, rate->get<double>(), centreHz);
    struct stat st {};
    std::FILE* data = std::fopen(dataPath.c_str(), "rb");
    if (data == nullptr || ::fstat(fileno(data), &st) != 0 || S_ISDIR(st.st_mode)) {
        const std::string why = data == nullptr ? std::strerror(errno) : "is a directory";
        if (data != nullptr) std::fclose(data);
        throw IqError(dataPath + ": the SigMF data file is missing (" + why + ")");
    }
    return std::make_unique<RawSource>(data, true, dataPath, *format, rate->get<double>(),
                                       centreHz);
}

}  // namespace

std::size_t BytesPerSample(IqFormat format) {
    switch (format) {
        case IqFormat::kCu8:
        case IqFormat::kCi8: return 2;
        case IqFormat::kCs16:
        case IqFormat::kCu16: return 4;
        case IqFormat::kCi32:
        case IqFormat::kCf32: return 8;
    }
    return 8;
}

std::optional<IqFormat> ParseIqFormat(const std::string& name) {
    if (name == "cu8") return IqFormat::kCu8;
    if (name == "ci8" || name == "cs8") return IqFormat::kCi8;
    if (name == "cs16" || name == "ci16" || name == "ci16_le" || name == "cs16_le") {
        return IqFormat::kCs16;
    }
    if (name == "cu16" || name == "cu16_le") return IqFormat::kCu16;
    if (name == "ci32" || name == "ci32_le" || name == "cs32") return IqFormat::kCi32;
    if (name == "cf32" || name == "cf32_le") return IqFormat::kCf32;
    return std::nullopt;
}

std::complex<float> DecodeSample(IqFormat format, const unsigned char* b) {
    switch (format) {
        case IqFormat::kCu8:
            return {(b[0] - 127.5f) / 127.5f, (b[1] - 127.5f) / 127.5f};
        case IqFormat::kCi8:
            return {static_cast<std::int8_t>(b[0]) / 128.0f,
                    static_cast<std::int8_t>(b[1]) / 128.0f};
        case IqFormat::kCs16:
            return {static_cast<std::int16_t>(Le16(b)) / 32768.0f,
                    static_cast<std::int16_t>(Le16(b + 2)) / 32768.0f};
        case IqFormat::kCu16:
            return {(Le16(b) - 32767.5f) / 32767.5f, (Le16(b + 2) - 32767.5f) / 32767.5f};
        case IqFormat::kCi32:
            return {static_cast<float>(static_cast<std::int32_t>(Le32(b)) / 2147483648.0),
                    static_cast<float>(static_cast<std::int32_t>(Le32(b + 4)) / 2147483648.0)};
        case IqFormat::kCf32: {
            float i = 0.0f;
            float q = 0.0f;
            const std::uint32_t ib = Le32(b);
            const std::uint32_t qb = Le32(b + 4);
            std::memcpy(&i, &ib, sizeof i);
            std::memcpy(&q, &qb, sizeof q);
            return {Finite(i), Finite(q)};
        }
    }
    return {};
}

void CheckRateAndCentre(const std::string& what, double rateHz, std::optional<double> centreHz) {
    if (!(rateHz >= kMinRateHz && rateHz <= kMaxRateHz)) {
        char text[160];
        std::snprintf(text, sizeof text,
                      ": sample rate %.0f Hz is outside %.0f..%.0f Hz", rateHz, kMinRateHz,
                      kMaxRateHz);
        throw IqError(what + text);
    }
    if (centreHz && !(*centreHz >= 0.0 && *centreHz <= kMaxCentreHz)) {
        char text[160];
        std::snprintf(text, sizeof text, ": centre frequency %.0f Hz is outside 0..30 GHz",
                      *centreHz);
        throw IqError(what + text);
    }
}

std::unique_ptr<IqSource> OpenIqFile(const std::string& path, std::optional<double> centreHz) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (!EndsWith(path, ".sigmf-data") && !EndsWith(path, ".sigmf-meta")) {
            throw IqError(path + ": " + std::strerror(errno));
        }
    } else if (S_ISDIR(st.st_mode)) {
        throw IqError(path + ": is a directory, not an IQ recording");
    }
    if (EndsWith(path, ".sigmf-meta") || EndsWith(path, ".sigmf-data")) {
        return OpenSigmf(path, centreHz);
    }
    return OpenSoundFile(path, centreHz);
}

std::unique_ptr<IqSource> OpenRawIq(std::FILE* stream, std::string name, IqFormat format,
                                    double rateHz, std::optional<double> centreHz) {
    CheckRateAndCentre(name, rateHz, centreHz);
    return std::make_unique<RawSource>(stream, false, std::move(name), format, rateHz, centreHz);
}

}  // namespace dahlo::iq
