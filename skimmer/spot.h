#pragma once
// A skimmer spot and the two ways it is written: the DX-cluster line loggers parse, and a JSON
// event line.

#include <cstdint>
#include <ctime>
#include <string>

namespace dahlo {

// What the station was doing: calling CQ, CQ DX, CQ TEST (a contest), sending a beacon's
// message (VVV DE ...), or only giving its call (DE).
enum class SpotKind { kDe, kCq, kDx, kTest, kBeacon };
// "DE", "CQ", "DX", "TEST", "BEACON".
const char* SpotKindName(SpotKind kind);

struct Spot {
    std::string spotter = "DAHLO-#";
    std::string call;
    double freqKhz = 0.0;  // dial + pitch
    int snrDb = 0;
    int wpm = 0;
    SpotKind kind = SpotKind::kDe;
    std::time_t utc = 0;     // when it was heard
    double inputSeconds = 0.0;  // where in the input
    int channel = 0;
};

// "DX de DAHLO-#:   14020.7  K1ABC        CW    18 dB  22 WPM  CQ        1234Z": the frequency
// ends in column 24, the call takes 13 columns from column 27, the comment (mode, SNR, speed,
// kind) 30 from column 40, the time ends in column 75. No line end.
std::string FormatDxSpot(const Spot& spot);

// {"type":"spot","call":"K1ABC","freq_khz":14020.7,"snr_db":18,"wpm":22,"mode":"CQ","t":12.3456,
//  "ch":3,"utc":"1234Z"} (no line end)
std::string FormatSpotJson(const Spot& spot);

// Hears every spot as it is made (on the thread that runs the skimmer).
class SpotListener {
  public:
    virtual void OnSpot(const Spot& spot) = 0;

  protected:
    ~SpotListener() = default;
};

}  // namespace dahlo
