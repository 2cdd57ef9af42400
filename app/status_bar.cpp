#include "app/status_bar.h"

#include <QHBoxLayout>
#include <QLabel>

#include "app/cp1251.h"

namespace dahlo {

namespace {

struct PanelSpec {
    int width;
    Qt::Alignment alignment;
    const char* text;
};
constexpr std::array<PanelSpec, 8> kPanels = {{
    {50, Qt::AlignCenter, "Narrow"},
    {50, Qt::AlignCenter, "996 Hz"},
    {50, Qt::AlignCenter, "BF: 5000"},
    {50, Qt::AlignCenter, "0.001"},
    {65, Qt::AlignCenter, "---- LPM"},
    {65, Qt::AlignCenter, "----- WPM"},
    {50, Qt::AlignCenter, "FrB: 15"},
    {50, Qt::AlignLeft | Qt::AlignVCenter, ""},
}};

}  // namespace

StatusBar::StatusBar(QWidget* parent) : QStatusBar(parent) {
    setObjectName("StatusBar1");
    setSizeGripEnabled(false);
    setFixedHeight(20);
    setToolTip(
        "Main filter bandpass / Main filter frequency / Burst filter max LPM / Detector "
        "threshold / LPM speed / WPM speed / Free buffers");
    auto* holder = new QWidget(this);
    holder->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* row = new QHBoxLayout(holder);
    row->setSizeConstraint(QLayout::SetNoConstraint);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    for (int i = 0; i < static_cast<int>(kPanels.size()); ++i) {
        auto* label = new QLabel(kPanels[i].text, holder);
        label->setObjectName(QString("StatusBar1Panel%1").arg(i));  // "Panel1" is the toolbar
        label->setFixedWidth(kPanels[i].width);
        label->setAlignment(kPanels[i].alignment);
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        row->addWidget(label);
        panels[i] = label;
    }
    row->addStretch(1);
    addWidget(holder, 1);
}

void StatusBar::Show(int panel, std::string_view text) {
    if (panel < 0 || panel >= static_cast<int>(panels.size())) return;
    panels[panel]->setText(Cp1251ToQString(text));
}

}  // namespace dahlo
