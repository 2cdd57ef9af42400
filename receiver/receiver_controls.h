#pragma once
// The controls that decide what a channel decodes, as one value: the window's toolbar, menus and
// settings file, and dahlo-decode's options, all map onto it, and it onto a channel.

#include <cstdint>
#include <string>

#include "dsp/burst_filter.h"
#include "dsp/main_filter.h"
#include "morse/charset.h"
#include "receiver/channel.h"
#include "settings/settings.h"

namespace dahlo {

// The defaults are the window's at start.
struct ReceiverControls {
    int centreBin = kDefaultCentreBin;
    int filterWidth = kNarrow;
    double threshold = 0.1;
    bool autoThreshold = false;
    bool afc = true;
    int afcSpeed = 2;
    bool autoGoToMax = false;
    int integrationLength = kDefaultIntegrationLength;  // 200 LPM
    int charset = kEnglish;
    std::string userCharsetFile;  // loaded when charset is kUserDefined
    // Dot length for a warm decoder start, in samples; 0 keeps the window's cold start.
    std::int64_t warmStartDot = 0;
    // Word space in tenths of a dot for senders with long gaps; 0 keeps the decoder's 5 dots.
    int wordSpaceTenths = 0;
    // AFC only while the tone stands out at the centre; off in the window.
    bool afcNeedsTone = false;
    // Marks under this fraction of the sender's level where no tone is seen are taken back (see
    // Channel::markLevelFraction); 0 in the window: every mark counts.
    double markLevelFraction = 0.0;
    // Each character carries how many of its marks the tone stood out during; off in the window.
    bool toneEvidence = false;
};

// The controls a settings file holds (centre clamped, width mapped, a length of 0 or less 175).
ReceiverControls ControlsFromSettings(const Settings& settings);

// Sets a channel's controls as the window's menus and toolbar would, and selects its filter row.
void ApplyControls(const ReceiverControls& controls, Channel& channel);

// Selects the charset the controls name, loading a user charset file. Returns 0, or the loader's
// -1 (empty file) or -2 (cannot be read, `error` says why); on failure English is selected.
int ApplyCharsetControls(const ReceiverControls& controls, Charsets& charsets, std::string& error);

}  // namespace dahlo
