#pragma once
// The desktop dialogs: QFileDialog, QFontDialog, QColorDialog and QMessageBox.

#include <QColor>

#include "app/dialogs.h"

namespace dahlo {

class QtDialogs final : public Dialogs {
  public:
    QString OpenFile(QWidget* parent, const FileDialogRequest& request) override;
    QString SaveFile(QWidget* parent, const FileDialogRequest& request) override;
    bool ChooseFont(QWidget* parent, QFont& font) override;
    bool ChooseColor(QWidget* parent, QColor& color) override;
    void ShowMessage(QWidget* parent, const QString& caption, const QString& text,
                     MessageIcon icon) override;
    bool AskYesNo(QWidget* parent, const QString& caption, const QString& text) override;

  private:
    QColor lastColor_ = Qt::black;  // the colour dialog starts where it was left
};

}  // namespace dahlo
