#pragma once
// Where dahlo-decode gets its samples: an audio file in any format libsndfile reads (mixed to mono,
// resampled to 11025 Hz, rounded and clipped to 16 bits), raw s16le mono 11025 Hz from a stream,
// or samples in memory for tests. Errors are InputError with one line naming the input.

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "capture/capture_ring.h"
#include "dsp/sample_rate.h"

namespace dahlo {

class InputError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class SampleSource {
  public:
    virtual ~SampleSource() = default;
    // Up to `count` samples; fewer only at the end, 0 once the input is used up.
    virtual std::size_t Read(std::int16_t* out, std::size_t count) = 0;
    // Back to the first sample for another pass. False for a stream, which cannot go back.
    virtual bool Rewind() = 0;
    // Number of samples when known beforehand, else -1.
    virtual std::int64_t Length() const = 0;
    virtual const std::string& Name() const = 0;
    // Empty while the input reads as a whole; once a pass has run into damage (a corrupt or
    // missing end), one line saying where and why it stopped. The passes end there.
    virtual std::string Damage() const { return {}; }
};

// Reports how far a pass has come (0..1 of the whole job).
class ProgressReporter {
  public:
    virtual ~ProgressReporter() = default;
    virtual void Update(double fraction) = 0;
};

// One pass over a source, a block of kBlockSamples at a time: Next() reads the next block into
// Block(), a short last block padded with zeros, and returns how many samples were read (0 at the
// end). Every 64th block tells `progress` start + span * (samples read / length), when the length
// is known.
class BlockReader {
  public:
    explicit BlockReader(SampleSource& source, ProgressReporter* progress = nullptr,
                         double progressStart = 0.0, double progressSpan = 1.0);
    std::size_t Next();
    const std::int16_t* Block() const { return block_.data(); }
    std::int64_t SamplesRead() const { return read_; }

  private:
    SampleSource& source_;
    ProgressReporter* progress_;
    double progressStart_;
    double progressSpan_;
    std::int64_t length_;
    std::int64_t read_ = 0;
    std::int64_t blocks_ = 0;
    bool ended_ = false;
    std::array<std::int16_t, kBlockSamples> block_{};
};

// Opens an audio file. Refuses, with InputError, a missing, unreadable, empty or non-audio file
// and a directory. A file damaged further on (cut short, a corrupt frame) reads up to the damage
// and then ends, with Damage() saying so. A file that is not 16-bit mono at 11025 Hz is converted
// once: the first pass keeps its samples in an unnamed temporary file in $TMPDIR (else /tmp),
// from which every pass after a Rewind reads.
std::unique_ptr<SampleSource> OpenAudioFile(const std::string& path);

// Raw signed 16-bit little-endian mono samples at 11025 Hz (a trailing odd byte is dropped).
std::unique_ptr<SampleSource> OpenRawStream(std::FILE* stream, std::string name);

class MemorySource : public SampleSource {
  public:
    explicit MemorySource(std::vector<std::int16_t> samples, std::string name = "memory")
        : samples_(std::move(samples)), name_(std::move(name)) {}
    std::size_t Read(std::int16_t* out, std::size_t count) override;
    bool Rewind() override {
        pos_ = 0;
        return true;
    }
    std::int64_t Length() const override { return static_cast<std::int64_t>(samples_.size()); }
    const std::string& Name() const override { return name_; }

  private:
    std::vector<std::int16_t> samples_;
    std::size_t pos_ = 0;
    std::string name_;
};

// Whether libsndfile's header log says a data chunk is longer than what the file holds.
bool HeaderPromisesMore(const char* log);

// A float sample (full scale +-1) to 16 bits: rounded to the nearest, clipped to the range.
std::int16_t FloatToSample(float x);

}  // namespace dahlo
