#include "decode/preset_plan.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "dsp/burst_filter.h"
#include "dsp/main_filter.h"

namespace dahlo {

PlanFollower::PlanFollower(const PresetPlan& plan, BlockPump& pump) : plan_(plan), pump_(pump) {}

void PlanFollower::Tick() {
    const std::int64_t now = pump_.SamplesDone;
    Channel& channel = pump_.Main();

    // Changes wait for a gap in the keying, where they cut no mark in two.
    const bool keyUp = channel.decoder.KeyWasDown == 0 && channel.Keying().KeyCount == 0;
    while (nextChange_ < plan_.changes.size()) {
        const PresetChange& change = plan_.changes[nextChange_];
        if (change.sample > now) break;
        if (!keyUp && now - change.sample < kChangeWaitLimit) break;
        if (change.centreBin > 0) channel.SetCentreBin(change.centreBin);
        if (change.integrationLength > 0 && change.integrationLength != channel.CwFilterTreshold) {
            channel.ApplyIntegrationLength(change.integrationLength);
        }
        if (change.threshold > 0.0) channel.DetectorThreshold = change.threshold;
        if (change.autoThreshold >= 0) channel.autoThreshold = change.autoThreshold == 1;
        if (change.wordSpaceTenths >= 0) channel.wordSpaceTenths = change.wordSpaceTenths;
        if (change.restartDot > 0) channel.decoder.WarmStart(change.restartDot);
        ++nextChange_;
    }
}

std::string DescribeControls(const PresetPlan& plan, const char* how) {
    const ReceiverControls& c = plan.controls;
    static const char* const kWidths[] = {"narrow", "wide", "very-wide"};
    char text[400];
    std::snprintf(text, sizeof text, "--pitch %.1f --width %s --threshold ",
                  c.centreBin * kHzPerBin, kWidths[std::clamp(c.filterWidth, 0, 2)]);
    std::string line = text;
    if (c.autoThreshold) {
        line += "auto";
    } else {
        std::snprintf(text, sizeof text, "%.4f", c.threshold);
        line += text;
    }
    // The menu speed of the integration length (the shown speed rounds 117 to 299, not 300).
    int lpm = ShownBurstSpeed(c.integrationLength);
    for (const int menu : {100, 200, 300, 500, 1000, 1500, 2500, 3000, 5000}) {
        if (IntegrationLengthFor(menu) == c.integrationLength) lpm = menu;
    }
    std::snprintf(text, sizeof text, " --burst %d (%s", lpm, how);
    line += text;
    if (plan.fading) {
        line += c.autoThreshold ? "; fading: the automatic threshold read best"
                : plan.thresholdScale != 1.0
                    ? "; fading: the threshold from the levels x " +
                          std::to_string(plan.thresholdScale).substr(0, 3) + " read best"
                    : "; fading: the threshold from the levels read best";
    }
    if (c.warmStartDot > 0) {
        std::snprintf(text, sizeof text, "; decoder started at a %lld-sample dot, %.1f WPM",
                      static_cast<long long>(c.warmStartDot), 13230.0 / c.warmStartDot);
        line += text;
    } else {
        line += "; decoder started cold";
    }
    if (c.wordSpaceTenths > 0) {
        std::snprintf(text, sizeof text, "; word space %.1f dots", c.wordSpaceTenths / 10.0);
        line += text;
    }
    if (!plan.changes.empty()) {
        line += "; " + std::to_string(plan.changes.size()) + " change" +
                (plan.changes.size() == 1 ? "" : "s") + " along the input";
    }
    return line + ")";
}

std::int64_t DecodePlanned(SampleSource& source, const PresetPlan& plan, DecodeHost& host,
                           const std::atomic<bool>* stop, ProgressReporter* progress,
                           double progressStart, double progressSpan) {
    auto ring = std::make_unique<CaptureRing>();
    auto pump = std::make_unique<BlockPump>(*ring, host);
    ApplyControls(plan.controls, *pump);
    PlanFollower follower(plan, *pump);
    for (const SampleSpan& span : plan.absent) host.AddAbsent(span);
    host.onPump = [&follower, &host, &pump] {
        follower.Tick();
        host.Advance(pump->SamplesDone);
    };

    host.Watch(&pump->Main());
    BlockReader reader(source, progress, progressStart, progressSpan);
    while (stop == nullptr || !stop->load()) {
        if (reader.Next() == 0) break;
        pump->ProcessBlock(reader.Block());
    }
    host.onPump = nullptr;
    host.Watch(nullptr);
    return reader.SamplesRead();
}

}  // namespace dahlo
