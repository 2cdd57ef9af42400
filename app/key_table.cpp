#include "app/key_table.h"

namespace dahlo {

KeyCommand CommandForKey(int key, Qt::KeyboardModifiers modifiers) {
    const Qt::KeyboardModifiers held =
        modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    if (held & Qt::AltModifier) {
        switch (key) {
            case Qt::Key_A:
                return {KeyCommand::kFlipAutoGoToMax, 0, true};
            case Qt::Key_F:
                return {KeyCommand::kFlipAfc, 0, true};
            case Qt::Key_G:
                return {KeyCommand::kGoToMax, 0, true};
            case Qt::Key_R:
                return {KeyCommand::kFlipAutoThreshold, 0, true};
            case Qt::Key_T:
                return {KeyCommand::kFlipOnTop, 0, true};
            default:
                return {};
        }
    }
    if (held & Qt::ControlModifier) {
        if (key == Qt::Key_P) return {KeyCommand::kBroadcast, kCodePause, false};
        if (key == Qt::Key_T) return {KeyCommand::kBroadcast, kCodeScrollLock, false};
        return {};
    }
    if (held != Qt::NoModifier) return {};  // Shift alone
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12) {
        // F10 is kept from the menu bar.
        return {KeyCommand::kBroadcast, static_cast<std::uint32_t>(key - Qt::Key_F1 + 1),
                key == Qt::Key_F10};
    }
    if (key == Qt::Key_Pause) return {KeyCommand::kBroadcast, kCodePause, false};
    if (key == Qt::Key_ScrollLock) return {KeyCommand::kBroadcast, kCodeScrollLock, false};
    return {};
}

}  // namespace dahlo
