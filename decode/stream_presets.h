#pragma once
// The default path for a stream (standard input, --live), which cannot be looked at beforehand:
// the samples are held back by a fixed look-ahead, and the presets come from a look at what is
// held, as for a file. Every kReplanSamples the look is taken again over the next stretch, so the
// controls follow a signal that moves, fades or changes speed. Memory stays the same for any
// length of stream.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "capture/capture_ring.h"
#include "receiver/block_pump.h"
#include "decode/decode_session.h"
#include "decode/preset_plan.h"
#include "decode/presets.h"
#include "decode/soft_session.h"

namespace dahlo {

// How far the look reaches past the samples being decoded (10.0 s), and how often it is taken
// again (5.0 s). A sample is decoded 10 to 15 s after it came in.
inline constexpr std::int64_t kLookAheadSamples = 54 * kBlockSamples;
inline constexpr std::int64_t kReplanSamples = 27 * kBlockSamples;
// How many bins (5.4 Hz each) a look's pitch must be from the soft decoder's for it to be
// retuned: its carrier loop follows a few hertz, and the looks' own wobble stays within this.
inline constexpr int kSoftRetuneBins = 2;

class LookAheadDecode {
  public:
    LookAheadDecode(const PresetRequest& request, const ReceiverControls& controls,
                    DecodeHost& host);
    ~LookAheadDecode();
    LookAheadDecode(const LookAheadDecode&) = delete;
    LookAheadDecode& operator=(const LookAheadDecode&) = delete;

    // Takes the next samples of the stream; decodes as far as the look-ahead allows. Throws
    // InputError when the user charset cannot be loaded.
    void Push(const std::int16_t* samples, std::size_t count);
    // The stream has ended: decodes everything held back.
    void Finish();
    std::int64_t SamplesRead() const { return read_; }
    // The plan made so far (its controls are those of the first look).
    const PresetPlan& Plan() const { return plan_; }
    // Told the plan of the first look, before its first sample is decoded.
    std::function<void(const PresetPlan&)> onFirstLook;
    // Asked, at the first look that finds the signal from its first sample, which decoder reads
    // the stream: the soft decoder it returns reads every later sample instead of the loop (and
    // is finished by Finish), nullptr keeps the loop. The plan it is given has no absent
    // stretches; they reach the soft decoder as the stream goes.
    std::function<SoftSession*(const PresetPlan&)> chooseSoft;

  private:
    void Step(bool last);
    void Decode(std::int64_t stretch);
    // Where `look` first finds its signal (past the samples it looked at: nowhere).
    static std::int64_t FirstSignal(const PresetPlan& look);

    PresetRequest request_;
    ReceiverControls base_;
    DecodeHost& host_;
    std::vector<std::int16_t> held_;  // samples [decoded_, read_)
    std::int64_t read_ = 0;
    std::int64_t decoded_ = 0;
    PresetPlan plan_;
    std::unique_ptr<CaptureRing> ring_;
    std::unique_ptr<BlockPump> pump_;
    std::unique_ptr<PlanFollower> follower_;
    SoftSession* soft_ = nullptr;
    bool looked_ = false;
    bool chosen_ = false;         // chooseSoft was asked
    int softBin_ = 0;             // the soft decoder's pitch
    std::int64_t retuneAt_ = -1;  // where in the next stretch it goes to softBin_, if it does
};

}  // namespace dahlo
