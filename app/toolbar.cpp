#include "app/toolbar.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>

#include "receiver/channel.h"

namespace dahlo {

namespace {

QToolButton* MakeToggle(QWidget* parent, const char* name, const char* caption, const char* hint,
                        int left, int width) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(caption);
    // The Alt letter is handled by the key table, which flips and clicks exactly once; the
    // button's own mnemonic would add a second flip.
    button->setShortcut(QKeySequence());
    button->setToolTip(hint);
    button->setCheckable(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoRaise(false);
    button->setGeometry(left, 0, width, 25);
    return button;
}

}  // namespace

Toolbar::Toolbar(QWidget* parent) : QWidget(parent) {
    setObjectName("Panel1");
    setFixedHeight(25);
    autoThresholdButton = MakeToggle(this, "AutoTresholdButton", "AutoTh&res",
                                     "Auto Detector Threshold On/Off  (Alt-R)", 0, 60);
    onTopButton = MakeToggle(this, "OnTopButton", "On&Top", "Always On Top On/Off (Alt-T)", 60, 60);
    goToMaxButton = new QPushButton("&GoToMax", this);
    goToMaxButton->setObjectName("GoToMaxButton");
    goToMaxButton->setShortcut(QKeySequence());  // Alt+G comes through the key table
    goToMaxButton->setToolTip("Go To Max Value (Alt-G)");
    goToMaxButton->setDefault(true);
    goToMaxButton->setGeometry(129, 0, 60, 25);
    autoGoToMaxButton = MakeToggle(this, "AutoGoToMaxButton", "&AutoGTM",
                                   "Auto Go To Max Value  On/Off (Alt-A)", 189, 60);
    afcSpeed = new QSpinBox(this);
    afcSpeed->setObjectName("AfcUpDown");
    afcSpeed->setRange(0, kAfcSpeedMax);
    afcSpeed->setWrapping(false);
    afcSpeed->setValue(2);
    if (auto* edit = afcSpeed->findChild<QLineEdit*>()) {
        edit->setObjectName("AfcEdit");
        edit->setReadOnly(true);  // only the arrows change it
    }
    afcSpeed->setFocusPolicy(Qt::NoFocus);
    afcSpeed->setToolTip("AFC Speed");
    QFont afcFont = afcSpeed->font();
    afcFont.setBold(true);
    afcFont.setPixelSize(13);
    afcSpeed->setFont(afcFont);
    afcSpeed->setGeometry(258, 0, 40, 25);
    afcButton =
        MakeToggle(this, "AfcButton", "A&FC", "Auto Frequency Control On/Off (Alt-F)", 298, 35);
    afcButton->setChecked(true);
}

}  // namespace dahlo
