#pragma once
// Key-down/key-up integrator: an up/down counter with hysteresis between 0 and the integration
// length. The key goes down only after the raw decisions have shown `CwFilterTreshold` more
// key-down than key-up samples since the count last stood at 0, and goes up only when the count
// has run back to 0.

namespace dahlo {

struct KeyingDetector {
    int KeyCount = 0;  // 0..CwFilterTreshold (may stand above it after the length was lowered)
    int KeyState = 0;  // debounced key: 1 down, 0 up

    // One sample. `integrationLength` is CwFilterTreshold (>= 1).
    int IntegrateKey(int rawKeyDown, int integrationLength) {
        if (rawKeyDown == 1) {
            if (KeyCount < integrationLength) ++KeyCount;
        } else {
            if (KeyCount > 0) --KeyCount;
        }
        if (KeyCount == integrationLength) {
            KeyState = 1;
        } else if (KeyCount == 0) {
            KeyState = 0;
        }
        return KeyState;
    }
};

}  // namespace dahlo
