#pragma once
// The toolbar: the AutoThres, OnTop, AutoGTM and AFC toggles, the GoToMax button and the AFC
// speed (0..99, changed only by its arrows). Each widget carries its fixed place and its hint;
// what a click does is the window's business.

#include <QWidget>

class QPushButton;
class QSpinBox;
class QToolButton;

namespace dahlo {

class Toolbar final : public QWidget {
  public:
    explicit Toolbar(QWidget* parent);

    QToolButton* autoThresholdButton = nullptr;
    QToolButton* onTopButton = nullptr;
    QPushButton* goToMaxButton = nullptr;
    QToolButton* autoGoToMaxButton = nullptr;
    QSpinBox* afcSpeed = nullptr;  // its edit is AfcEdit
    QToolButton* afcButton = nullptr;
};

}  // namespace dahlo
