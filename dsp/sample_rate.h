#pragma once

namespace dahlo {

// Every receiver runs at this rate: the capture's, the decoded files' after conversion, and the
// rate all sample counts and times in the code are in.
inline constexpr int kSampleRateHz = 11025;

}  // namespace dahlo
