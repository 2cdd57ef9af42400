#include "recording/sample_source.h"

#include <fcntl.h>
#include <samplerate.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace dahlo {

std::int16_t FloatToSample(float x) {
    const float scaled = x * 32768.0f;
    if (!(scaled > -32768.0f)) return -32768;  // also NaN
    if (scaled >= 32767.0f) return 32767;
    return static_cast<std::int16_t>(std::lrint(scaled));
}

BlockReader::BlockReader(SampleSource& source, ProgressReporter* progress, double progressStart,
                         double progressSpan)
    : source_(source),
      progress_(progress),
      progressStart_(progressStart),
      progressSpan_(progressSpan),
      length_(source.Length()) {}

std::size_t BlockReader::Next() {
    if (ended_) return 0;
    const std::size_t got = source_.Read(block_.data(), block_.size());
    if (got < block_.size()) {
        ended_ = true;
        std::fill(block_.begin() + static_cast<std::ptrdiff_t>(got), block_.end(), 0);
        if (got == 0) return 0;
    }
    read_ += static_cast<std::int64_t>(got);
    if (progress_ != nullptr && length_ > 0 && (++blocks_ & 63) == 0) {
        progress_->Update(progressStart_ + progressSpan_ * static_cast<double>(read_) /
                                               static_cast<double>(length_));
    }
    return got;
}

std::size_t MemorySource::Read(std::int16_t* out, std::size_t count) {
    const std::size_t n = std::min(count, samples_.size() - pos_);
    std::copy_n(samples_.data() + pos_, n, out);
    pos_ += n;
    return n;
}

namespace {

constexpr sf_count_t kChunkFrames = 4096;

// The converted samples of the first pass, kept in an unnamed temporary file so that later passes
// read 16-bit samples instead of decoding and resampling the file again. The file has no name
// from the start (or loses it at once), so it is gone when the process ends, however it ends. Any
// failure to create or write it only switches the spool off: the passes then convert again.
class SampleSpool {
  public:
    SampleSpool() = default;
    SampleSpool(const SampleSpool&) = delete;
    SampleSpool& operator=(const SampleSpool&) = delete;
    ~SampleSpool() { Close(); }

    // Still recording or replaying.
    bool Active() const { return state_ != State::kOff; }
    bool Replaying() const { return state_ == State::kReplaying; }

    void Append(const std::int16_t* samples, std::size_t count) {
        if (state_ != State::kRecording || count == 0) return;
        if (fd_ < 0 && !Open()) return;
        const auto* bytes = reinterpret_cast<const unsigned char*>(samples);
        // Native byte order: only this process reads it back.
        if (!WriteAll(bytes, count * sizeof(std::int16_t))) Close();
    }
    // The pass that recorded reached the end of the input.
    void Seal() {
        if (state_ != State::kRecording) return;
        if (fd_ < 0) {  // nothing was ever written: an input with no samples
            Close();
            return;
        }
        state_ = State::kReplaying;
    }
    bool Rewind() {
        if (::lseek(fd_, 0, SEEK_SET) != 0) throw InputError("cannot read the temporary file");
        return true;
    }
    std::size_t Read(std::int16_t* out, std::size_t count) {
        auto* bytes = reinterpret_cast<unsigned char*>(out);
        const std::size_t want = count * sizeof(std::int16_t);
        std::size_t have = 0;
        while (have < want) {
            const ssize_t got = ::read(fd_, bytes + have, want - have);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                throw InputError(std::string("cannot read the temporary file: ") +
                                 std::strerror(errno));
            }
            if (got == 0) break;
            have += static_cast<std::size_t>(got);
        }
        return have / sizeof(std::int16_t);
    }

  private:
    enum class State { kRecording, kReplaying, kOff };

    bool Open() {
        const char* env = std::getenv("TMPDIR");
        const std::string dir = env != nullptr && *env != '\0' ? env : "/tmp";
#ifdef O_TMPFILE
        fd_ = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
        if (fd_ < 0) {
            std::string name = dir + "/dahlo-decode-XXXXXX";
            fd_ = ::mkstemp(name.data());
            if (fd_ >= 0) ::unlink(name.c_str());
        }
        if (fd_ < 0) state_ = State::kOff;
        return fd_ >= 0;
    }
    bool WriteAll(const unsigned char* bytes, std::size_t size) {
        while (size > 0) {
            const ssize_t put = ::write(fd_, bytes, size);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return false;
            bytes += put;
            size -= static_cast<std::size_t>(put);
        }
        return true;
    }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        state_ = State::kOff;
    }

    int fd_ = -1;
    State state_ = State::kRecording;
};

// While it lives, whatever a decoding library writes to standard error goes nowhere: the MPEG
// decoder under libsndfile reports each frame it skips there, where only our own one line about
// the damage belongs.
class QuietStderr {
  public:
    explicit QuietStderr(bool quiet) {
        if (!quiet) return;
        std::fflush(stderr);
        saved_ = ::dup(STDERR_FILENO);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved_ < 0 || null < 0 || ::dup2(null, STDERR_FILENO) < 0) {
            if (saved_ >= 0) ::close(saved_);
            saved_ = -1;
        }
        if (null >= 0) ::close(null);
    }
    ~QuietStderr() {
        if (saved_ < 0) return;
        std::fflush(stderr);
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

  private:
    int saved_ = -1;
};

std::string Seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", s);
    return text;
}

class SndfileSource : public SampleSource {
  public:
    SndfileSource(std::string path, SNDFILE* file, const SF_INFO& info, std::string damage)
        : path_(std::move(path)), file_(file), info_(info), damage_(std::move(damage)) {
        // A FLAC written to a pipe may leave its length out of the header; libsndfile
        // then says SF_COUNT_MAX, and the file simply ends where its audio ends.
        lengthKnown_ = info_.frames < SF_COUNT_MAX &&
                       static_cast<double>(info_.frames) * kSampleRateHz / info_.samplerate < 9e18;
        quiet_ = (info_.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG;
        const int subtype = info_.format & SF_FORMAT_SUBMASK;
        direct_ = info_.samplerate == kSampleRateHz && info_.channels == 1 &&
                  (subtype == SF_FORMAT_PCM_16 || subtype == SF_FORMAT_PCM_S8 ||
                   subtype == SF_FORMAT_PCM_U8);
        interleaved_.resize(static_cast<std::size_t>(kChunkFrames * info_.channels));
        mono_.resize(kChunkFrames);
        if (info_.samplerate != kSampleRateHz) {
            int error = 0;
            resampler_ = src_new(SRC_SINC_FASTEST, 1, &error);
            if (resampler_ == nullptr) {
                sf_close(file_);
                throw InputError(path_ + ": cannot resample: " + src_strerror(error));
            }
            ratio_ = static_cast<double>(kSampleRateHz) / info_.samplerate;
            // Enough room for one chunk at the highest ratio plus the filter's tail.
            resampled_.resize(static_cast<std::size_t>(kChunkFrames * ratio_) + 4096);
        }
    }
    ~SndfileSource() override {
        if (resampler_ != nullptr) src_delete(resampler_);
        sf_close(file_);
    }

    std::size_t Read(std::int16_t* out, std::size_t count) override {
        if (direct_) return ReadDirect(out, count);
        if (spool_.Replaying()) return spool_.Read(out, count);
        const std::size_t got = ReadConverted(out, count);
        spool_.Append(out, got);
        if (got < count) spool_.Seal();  // the end of the input
        return got;
    }

    bool Rewind() override {
        if (!direct_ && spool_.Active()) {
            // The rest of this pass goes to the spool too, so that every later pass reads it.
            std::array<std::int16_t, 4096> rest{};
            while (!spool_.Replaying() && spool_.Active()) {
                const std::size_t got = ReadConverted(rest.data(), rest.size());
                spool_.Append(rest.data(), got);
                if (got < rest.size()) spool_.Seal();
            }
            if (spool_.Replaying()) return spool_.Rewind();
        }
        return RewindFile();
    }

    std::int64_t Length() const override {
        if (!lengthKnown_) return -1;
        return static_cast<std::int64_t>(
            std::llround(static_cast<double>(info_.frames) * kSampleRateHz / info_.samplerate));
    }
    const std::string& Name() const override { return name_; }
    std::string Damage() const override { return damage_; }

  private:
    // Converted samples (mixed, resampled, rounded) straight from the file.
    std::size_t ReadConverted(std::int16_t* out, std::size_t count) {
        std::size_t written = 0;
        while (written < count) {
            if (pendingPos_ < pending_.size()) {
                const std::size_t n = std::min(count - written, pending_.size() - pendingPos_);
                std::copy_n(pending_.data() + pendingPos_, n, out + written);
                pendingPos_ += n;
                written += n;
                continue;
            }
            if (finished_) break;
            Refill();
        }
        return written;
    }

    bool RewindFile() {
        const QuietStderr quiet(quiet_);
        if (sf_seek(file_, 0, SEEK_SET) < 0) {
            throw InputError(path_ + ": cannot read the file again: " + sf_strerror(file_));
        }
        if (resampler_ != nullptr) src_reset(resampler_);
        framesRead_ = 0;
        finished_ = false;
        inputEnded_ = false;
        pending_.clear();
        pendingPos_ = 0;
        return true;
    }

    // 16-bit mono at 11025 Hz: the samples as they are in the file, with no conversion.
    std::size_t ReadDirect(std::int16_t* out, std::size_t count) {
        const sf_count_t want =
            std::min<sf_count_t>(static_cast<sf_count_t>(count), ReadableFrames() - framesRead_);
        if (want <= 0) return 0;
        const sf_count_t got = sf_readf_short(file_, out, want);
        framesRead_ += std::max<sf_count_t>(got, 0);
        if (ShortOrFailed(got, want)) Damaged();
        return static_cast<std::size_t>(std::max<sf_count_t>(got, 0));
    }

    // The frames a pass reads: all, or those before the damage.
    sf_count_t ReadableFrames() const { return damagedAt_ >= 0 ? damagedAt_ : info_.frames; }

    // A read failed, or came short of a length the header gave.
    bool ShortOrFailed(sf_count_t got, sf_count_t want) const {
        return sf_error(file_) != SF_ERR_NO_ERROR || (lengthKnown_ && got < want);
    }

    // A read came short or failed: the passes end here from now on.
    void Damaged() {
        if (damagedAt_ < 0 || framesRead_ < damagedAt_) damagedAt_ = framesRead_;
        const char* why = sf_error(file_) != SF_ERR_NO_ERROR ? sf_strerror(file_) : nullptr;
        const double rate = info_.samplerate;
        damage_ = path_ + ": stopped at " + Seconds(static_cast<double>(damagedAt_) / rate) +
                  (lengthKnown_ ? " of " + Seconds(static_cast<double>(info_.frames) / rate) : "") +
                  ": the file is corrupt or cut short there" +
                  (why != nullptr && *why != '\0' ? std::string(" (") + why + ")" : "") +
                  "; the text is what could be read before";
    }

    // Reads one chunk of frames, mixes it to mono and resamples it into `pending_`.
    void Refill() {
        pending_.clear();
        pendingPos_ = 0;
        long frames = 0;
        if (!inputEnded_) {
            const sf_count_t want =
                std::min<sf_count_t>(kChunkFrames, ReadableFrames() - framesRead_);
            sf_count_t got = 0;
            if (want > 0) {
                const QuietStderr quiet(quiet_);
                got = std::max<sf_count_t>(sf_readf_float(file_, interleaved_.data(), want), 0);
            }
            framesRead_ += got;
            if (ShortOrFailed(got, want)) Damaged();
            frames = static_cast<long>(got);
            if (framesRead_ >= ReadableFrames() || (!lengthKnown_ && got < want)) {
                inputEnded_ = true;
            }
            const int channels = info_.channels;
            for (long f = 0; f < frames; ++f) {
                float sum = 0.0f;
                for (int c = 0; c < channels; ++c) sum += interleaved_[f * channels + c];
                mono_[f] = channels == 1 ? sum : sum / static_cast<float>(channels);
            }
        }
        if (resampler_ == nullptr) {
            pending_.resize(static_cast<std::size_t>(frames));
            for (long f = 0; f < frames; ++f) pending_[f] = FloatToSample(mono_[f]);
            if (inputEnded_) finished_ = true;
            return;
        }
        SRC_DATA data{};
        data.data_in = mono_.data();
        data.input_frames = frames;
        data.data_out = resampled_.data();
        data.output_frames = static_cast<long>(resampled_.size());
        data.end_of_input = inputEnded_ ? 1 : 0;
        data.src_ratio = ratio_;
        // The resampler may take the chunk in several calls when its output fills up.
        for (;;) {
            const int error = src_process(resampler_, &data);
            if (error != 0) throw InputError(path_ + ": cannot resample: " + src_strerror(error));
            for (long f = 0; f < data.output_frames_gen; ++f) {
                pending_.push_back(FloatToSample(resampled_[f]));
            }
            data.data_in += data.input_frames_used;
            data.input_frames -= data.input_frames_used;
            if (data.input_frames > 0) continue;
            if (inputEnded_ && data.output_frames_gen > 0) continue;  // drain the filter's tail
            break;
        }
        if (inputEnded_) finished_ = true;
    }

    std::string path_;
    std::string name_ = path_;
    SNDFILE* file_;
    SF_INFO info_;
    SRC_STATE* resampler_ = nullptr;
    double ratio_ = 1.0;
    std::vector<float> interleaved_;
    std::vector<float> mono_;
    std::vector<float> resampled_;
    std::vector<std::int16_t> pending_;
    std::size_t pendingPos_ = 0;
    sf_count_t framesRead_ = 0;
    bool lengthKnown_ = true;
    bool inputEnded_ = false;
    bool finished_ = false;
    bool direct_ = false;
    bool quiet_ = false;
    std::string damage_;
    sf_count_t damagedAt_ = -1;  // the frame at which the damage stops every pass
    SampleSpool spool_;
};

class RawStreamSource : public SampleSource {
  public:
    RawStreamSource(std::FILE* stream, std::string name)
        : stream_(stream), name_(std::move(name)) {}

    std::size_t Read(std::int16_t* out, std::size_t count) override {
        std::size_t written = 0;
        while (written < count) {
            const std::size_t want = std::min(count - written, bytes_.size() / 2) * 2 - carry_;
            const std::size_t got = std::fread(bytes_.data() + carry_, 1, want, stream_);
            if (got == 0) {
                if (std::ferror(stream_)) {
                    throw InputError(name_ + ": cannot read: " + std::strerror(errno));
                }
                break;
            }
            const std::size_t have = carry_ + got;
            const std::size_t samples = have / 2;
            for (std::size_t i = 0; i < samples; ++i) {
                const auto lo = static_cast<unsigned>(bytes_[2 * i]);
                const auto hi = static_cast<unsigned>(bytes_[2 * i + 1]);
                out[written + i] =
                    static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | (hi << 8)));
            }
            written += samples;
            carry_ = have % 2;
            if (carry_ != 0) bytes_[0] = bytes_[have - 1];
        }
        return written;
    }
    bool Rewind() override { return false; }
    std::int64_t Length() const override { return -1; }
    const std::string& Name() const override { return name_; }

  private:
    std::FILE* stream_;
    std::string name_;
    std::vector<unsigned char> bytes_ = std::vector<unsigned char>(8192);
    std::size_t carry_ = 0;
};

}  // namespace

bool HeaderPromisesMore(const char* log) {
    for (const char* line = log; line != nullptr && *line != '\0';) {
        const char* end = std::strchr(line, '\n');
        const std::string text(
            line, end != nullptr ? static_cast<std::size_t>(end - line) : std::strlen(line));
        line = end != nullptr ? end + 1 : nullptr;
        if (text.rfind("data", 0) != 0 && text.rfind("SSND", 0) != 0) continue;
        long long said = 0;
        long long real = 0;
        const auto colon = text.find(':');
        const auto should = text.find("(should be");
        if (colon == std::string::npos || should == std::string::npos) continue;
        if (std::sscanf(text.c_str() + colon + 1, "%lld", &said) == 1 &&
            std::sscanf(text.c_str() + should + 10, "%lld", &real) == 1 && said > real) {
            return true;
        }
    }
    return false;
}

std::unique_ptr<SampleSource> OpenAudioFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        throw InputError(path + ": " + std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode)) throw InputError(path + ": is a directory, not an audio file");
    if (!S_ISREG(st.st_mode)) throw InputError(path + ": not a regular file");
    if (st.st_size == 0) throw InputError(path + ": the file is empty");
    if (std::FILE* probe = std::fopen(path.c_str(), "rb")) {
        std::fclose(probe);
    } else {
        throw InputError(path + ": " + std::strerror(errno));
    }

    SF_INFO info{};
    SNDFILE* file = nullptr;
    {
        const QuietStderr quiet(true);
        file = sf_open(path.c_str(), SFM_READ, &info);
    }
    if (file == nullptr) {
        throw InputError(path + ": not a readable audio file (" + sf_strerror(nullptr) + ")");
    }
    if (info.frames <= 0 || info.channels < 1 || info.samplerate < 1) {
        sf_close(file);
        throw InputError(path + ": the file holds no audio samples");
    }
    // libsndfile quietly shortens a WAV or AIFF whose data chunk runs past the end of the file;
    // its log ("data : 370552 (should be 29956)") is the only trace of that.
    char log[8192] = {};
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
    std::string damage;
    if (HeaderPromisesMore(log)) {
        damage = path + ": stopped at " +
                 Seconds(static_cast<double>(info.frames) / info.samplerate) +
                 ": the file is cut short (it holds less audio than its header says); the text "
                 "is what could be read before";
    }
    return std::make_unique<SndfileSource>(path, file, info, std::move(damage));
}

std::unique_ptr<SampleSource> OpenRawStream(std::FILE* stream, std::string name) {
    return std::make_unique<RawStreamSource>(stream, std::move(name));
}

}  // namespace dahlo
