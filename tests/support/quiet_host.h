#pragma once
// A block-pump host for tests: does nothing unless a test overrides the hook it looks at. The
// events arrive split into text (characters and word spaces), speeds and retunes.

#include <cstdint>
#include <string_view>

#include "receiver/receiver_host.h"

namespace dahlo::test {

class QuietHost : public ReceiverHost {
  public:
    virtual ~QuietHost() = default;
    void OnChannelEvent(const ChannelEvent& event, std::string_view cp1251) override {
        switch (event.kind) {
            case ChannelEvent::kCharacter:
            case ChannelEvent::kWordSpace:
                AppendDecodedText(event.code, cp1251);
                break;
            case ChannelEvent::kSpeed:
                ShowSpeed(event.wpm, event.lpm);
                break;
            case ChannelEvent::kRetune:
                Retuned(event.centreBin);
                break;
        }
    }
    virtual void AppendDecodedText(std::uint32_t /*code*/, std::string_view /*cp1251*/) {}
    virtual void ShowSpeed(double /*wpm*/, int /*lpm*/) {}
    virtual void Retuned(int /*centreBin*/) {}
    void ShowFreeBuffers(int) override {}
    void PaintScope() override {}
    void PaintSpectrum() override {}
    void PumpMessages() override {}
    void ReportFatal(std::string_view, std::string_view) override {}
};

}  // namespace dahlo::test
