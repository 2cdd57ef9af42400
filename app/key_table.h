#pragma once
// The window's key table: what a key does wherever the focus is in the window, before the focused
// control sees it. Alt+letters work the toolbar, F1..F12, Pause and Scroll Lock (and Ctrl+P,
// Ctrl+T) send their codes to a companion program.

#include <Qt>
#include <cstdint>

namespace dahlo {

// Broadcast codes besides F1..F12 (1..12).
inline constexpr std::uint32_t kCodePause = 102;       // Ctrl+P, Pause
inline constexpr std::uint32_t kCodeScrollLock = 112;  // Ctrl+T, Scroll Lock

struct KeyCommand {
    enum Kind {
        kNone,
        kFlipAutoGoToMax,
        kFlipAfc,
        kGoToMax,
        kFlipAutoThreshold,  // and the click action: the threshold panel
        kFlipOnTop,          // and the click action: the window's stacking
        kBroadcast,
    };
    Kind kind = kNone;
    std::uint32_t code = 0;  // for kBroadcast
    bool swallowed = false;  // the focused control does not see the key
};

KeyCommand CommandForKey(int key, Qt::KeyboardModifiers modifiers);

}  // namespace dahlo
