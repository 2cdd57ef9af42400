#include "receiver/receiver_controls.h"

namespace dahlo {

ReceiverControls ControlsFromSettings(const Settings& settings) {
    ReceiverControls controls;
    controls.autoThreshold = settings.autoThreshold;
    controls.autoGoToMax = settings.autoGoToMax;
    controls.afc = settings.afc;
    controls.afcSpeed = settings.afcSpeed;
    controls.centreBin = ClampCentreBin(settings.centreBin);
    controls.threshold = settings.threshold;
    controls.integrationLength =
        settings.cwFilterTreshold > 0 ? settings.cwFilterTreshold : kDefaultIntegrationLength;
    controls.filterWidth = FilterWidthFromMode(settings.filterWidth);
    controls.charset = settings.charset;
    controls.userCharsetFile = settings.userCharsetFile;
    return controls;
}

void ApplyControls(const ReceiverControls& controls, Channel& channel) {
    channel.CentreBin = ClampCentreBin(controls.centreBin);
    channel.SetFilterWidth(controls.filterWidth);
    channel.ApplyIntegrationLength(controls.integrationLength);
    channel.DetectorThreshold = controls.threshold;
    channel.autoThreshold = controls.autoThreshold;
    channel.afcOn = controls.afc;
    channel.AfcSpeed = controls.afcSpeed;
    channel.autoGoToMax = controls.autoGoToMax;
    channel.wordSpaceTenths = controls.wordSpaceTenths;
    channel.afcNeedsTone = controls.afcNeedsTone;
    channel.markLevelFraction = controls.markLevelFraction;
    channel.toneEvidence = controls.toneEvidence;
    if (controls.warmStartDot > 0) channel.decoder.WarmStart(controls.warmStartDot);
}

int ApplyCharsetControls(const ReceiverControls& controls, Charsets& charsets,
                         std::string& error) {
    return charsets.ApplyCharsetSetting(controls.charset, controls.userCharsetFile, error);
}

}  // namespace dahlo
