#include "app/settings_controls.h"

#include <QApplication>
#include <QFontInfo>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QSplitter>
#include <QToolButton>
#include <algorithm>
#include <cmath>
#include <string>

#include "app/band_view.h"
#include "app/main_window.h"
#include "app/receive_text.h"
#include "app/spectrum_strip.h"
#include "app/toolbar.h"
#include "receiver/receiver_controls.h"

namespace dahlo {

void ApplySettings(const Settings& s, MainWindow& window) {
    Toolbar& toolbar = *window.toolbar;
    toolbar.autoThresholdButton->setChecked(s.autoThreshold);
    toolbar.onTopButton->setChecked(s.onTop);  // the on-top state itself follows only a click
    toolbar.autoGoToMaxButton->setChecked(s.autoGoToMax);
    toolbar.afcButton->setChecked(s.afc);
    toolbar.afcSpeed->setValue(s.afcSpeed);
    const ReceiverControls controls = ControlsFromSettings(s);
    ApplyControls(controls, window.receiver.Main());
    window.exportIniFile = s.exportIniFile;
    window.exportIniSection = s.exportIniSection;
    window.logger.SetExportFile(window.exportIniFile, window.exportIniSection);

    // Sizes are outer sizes. The frame is known only once the window is shown, so the design
    // size, which the window was created with as its inner size, is set again here.
    const WindowSettings& w = s.window;
    const QSize frameExtra = window.frameGeometry().size() - window.size();
    if (w.left != -1) window.move(w.left, window.y());
    if (w.top != -1) window.move(window.x(), w.top);
    const int outerHeight = w.height != -1 ? w.height : kDesignHeight;
    const int outerWidth = w.width != -1 ? w.width : kDesignWidth;
    window.resize(std::max(1, outerWidth - frameExtra.width()),
                  std::max(1, outerHeight - frameExtra.height()));
    if (w.spectrumHeight != -1) {
        QSplitter& splitter = *window.spectrumSplitter;
        const int total = splitter.sizes().value(0) + splitter.sizes().value(1);
        splitter.setSizes({w.spectrumHeight, std::max(0, total - w.spectrumHeight)});
    }
    if (w.textHeight != -1) {
        QSplitter& splitter = *window.textSplitter;
        const int total = splitter.sizes().value(0) + splitter.sizes().value(1);
        splitter.setSizes({w.textHeight, std::max(0, total - w.textHeight)});
    }

    std::string error;
    if (ApplyCharsetControls(controls, window.receiver.charsets, error) == -2) {
        window.ReportError(QString::fromStdString(error));
    }
    window.ShowCharset(window.receiver.charsets.Charset);

    window.receiveTextFont = s.font;
    ApplyTextFont(window.receiveTextFont, *window.receiveText);
    window.bandSettings = s.band;
    if (window.bandView != nullptr) window.bandView->ApplySettings(s.band);
    if (window.skimmer != nullptr) {
        window.skimmer->SetDialKhz(static_cast<double>(s.band.dialHz) / 1000.0);
    }
    window.ShowThreshold();
}

Settings CollectSettings(const MainWindow& window) {
    const Toolbar& toolbar = *window.toolbar;
    const Channel& channel = window.receiver.Main();
    Settings s;
    s.autoThreshold = toolbar.autoThresholdButton->isChecked();
    s.onTop = toolbar.onTopButton->isChecked();
    s.autoGoToMax = toolbar.autoGoToMaxButton->isChecked();
    s.afc = toolbar.afcButton->isChecked();
    s.afcSpeed = toolbar.afcSpeed->value();
    s.centreBin = channel.CentreBin;
    s.threshold = channel.DetectorThreshold;
    s.cwFilterTreshold = channel.CwFilterTreshold;
    s.filterWidth = channel.FilterWidth;
    s.charset = window.receiver.charsets.Charset;
    s.userCharsetFile = window.receiver.charsets.UserCharsetFile;
    s.band = window.bandSettings;
    if (window.bandView != nullptr && window.bandView->isVisible()) {
        const BandSettings shown = window.bandView->CollectSettings();
        s.band.left = shown.left;
        s.band.top = shown.top;
        s.band.width = shown.width;
        s.band.height = shown.height;
        s.band.floorDb = shown.floorDb;
        s.band.contrastDb = shown.contrastDb;
    }
    s.exportIniFile = window.exportIniFile;
    s.exportIniSection = window.exportIniSection;
    const QRect frame = window.frameGeometry();
    s.window = {frame.x(),
                frame.y(),
                frame.height(),
                frame.width(),
                window.spectrumStrip->height(),
                window.receiveText->height()};
    s.font = window.receiveTextFont;
    return s;
}

void ApplyTextFont(const FontSettings& f, QPlainTextEdit& text) {
    QFont font(QString::fromStdString(f.name));
    if (f.height < 0) {
        font.setPixelSize(-f.height);
    } else if (f.height > 0) {
        font.setPixelSize(f.height);
    }
    if (f.size > 0) font.setPointSize(f.size);  // the size decides when both are given
    font.setFixedPitch(f.pitch == 2);
    font.setBold((f.style & 1) != 0);
    font.setItalic((f.style & 2) != 0);
    font.setUnderline((f.style & 4) != 0);
    font.setStrikeOut((f.style & 8) != 0);
    text.setFont(font);
    QPalette palette = text.palette();
    const QPalette base = QApplication::palette(&text);
    palette.setColor(QPalette::Text, ColorFromSetting(f.color, base));
    palette.setColor(QPalette::Base, ColorFromSetting(f.bkgColor, base));
    text.setPalette(palette);
}

void StoreTextFont(const QFont& font, int dpi, FontSettings& stored) {
    // Height and size describe one font: when the settings are loaded the size decides, so
    // both are kept in step with whichever the dialog gave.
    dpi = std::max(1, dpi);
    if (font.pixelSize() > 0) {
        stored.height = -font.pixelSize();
        stored.size = std::max(1, static_cast<int>(std::lround(font.pixelSize() * 72.0 / dpi)));
    } else if (font.pointSizeF() > 0) {
        stored.size = std::max(1, static_cast<int>(std::lround(font.pointSizeF())));
        stored.height = -static_cast<int>(std::lround(font.pointSizeF() * dpi / 72.0));
    }
    stored.name = font.family().toStdString();
    const bool fixed = QFontInfo(font).fixedPitch();
    if (fixed) {
        stored.pitch = 2;
    } else if (stored.pitch == 2) {
        stored.pitch = 0;
    }
    stored.style = (font.bold() ? 1 : 0) | (font.italic() ? 2 : 0) | (font.underline() ? 4 : 0) |
                   (font.strikeOut() ? 8 : 0);
}

QColor ColorFromSetting(std::int32_t value, const QPalette& palette) {
    const auto bits = static_cast<std::uint32_t>(value);
    if ((bits & 0x80000000u) == 0) {
        return QColor(bits & 0xFF, (bits >> 8) & 0xFF, (bits >> 16) & 0xFF);
    }
    switch (bits & 0xFF) {
        case 2:   // active caption
        case 13:  // highlight
            return palette.color(QPalette::Highlight);
        case 5:  // window background
            return palette.color(QPalette::Base);
        case 6:   // window frame
        case 21:  // 3-D dark shadow
            return palette.color(QPalette::Shadow);
        case 7:  // menu text
            return palette.color(QPalette::WindowText);
        case 8:  // window text
            return palette.color(QPalette::Text);
        case 9:   // caption text
        case 14:  // highlighted text
            return palette.color(QPalette::HighlightedText);
        case 12:  // application workspace
        case 16:  // button shadow
            return palette.color(QPalette::Dark);
        case 15:  // button face
            return palette.color(QPalette::Button);
        case 17:  // grey (disabled) text
            return palette.color(QPalette::Disabled, QPalette::Text);
        case 18:  // button text
            return palette.color(QPalette::ButtonText);
        case 20:  // button highlight
            return palette.color(QPalette::Light);
        case 22:  // 3-D light
            return palette.color(QPalette::Midlight);
        case 23:  // tool tip text
            return palette.color(QPalette::ToolTipText);
        case 24:  // tool tip background
            return palette.color(QPalette::ToolTipBase);
        default:  // desktop, menus, scroll bars, borders and the rest
            return palette.color(QPalette::Window);
    }
}

std::int32_t ColorToSetting(const QColor& color) {
    const std::uint32_t bits = static_cast<std::uint32_t>(color.red()) |
                               (static_cast<std::uint32_t>(color.green()) << 8) |
                               (static_cast<std::uint32_t>(color.blue()) << 16);
    return static_cast<std::int32_t>(bits);
}

}  // namespace dahlo
