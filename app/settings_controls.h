#pragma once
// The settings file and the window's controls, both ways: a loaded Settings put onto the toolbar,
// the receiver, the geometry, the charset and the receive text's font, and the window's state
// collected for Save Setup. Window sizes in the file are outer sizes, frame included.

#include <QColor>
#include <QFont>
#include <QPalette>
#include <cstdint>

#include "settings/settings.h"

class QPlainTextEdit;

namespace dahlo {

class MainWindow;

// A charset file that cannot be opened is reported and leaves English; the rest still loads.
void ApplySettings(const Settings& settings, MainWindow& window);
Settings CollectSettings(const MainWindow& window);

// The receive text's font and colours as the settings file keeps them.
void ApplyTextFont(const FontSettings& stored, QPlainTextEdit& text);
// The font dialog's choice into the form the settings file keeps (`dpi`: the text's).
void StoreTextFont(const QFont& font, int dpi, FontSettings& stored);

// A colour as the settings file keeps it: 0x00BBGGRR, or 0x80000000 + a system colour index,
// which takes the nearest role of the desktop's palette.
QColor ColorFromSetting(std::int32_t value, const QPalette& palette);
std::int32_t ColorToSetting(const QColor& color);

}  // namespace dahlo
