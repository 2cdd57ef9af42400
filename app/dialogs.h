#pragma once
// The modal dialogs and message boxes of the window, behind an interface so that tests can script
// them. The desktop implementation uses QFileDialog, QFontDialog, QColorDialog and QMessageBox.

#include <QColor>
#include <QFont>
#include <QString>

class QWidget;

namespace dahlo {

struct FileDialogRequest {
    QString title;          // caption of the dialog
    QString directory;      // initial directory
    QString filter;         // Qt filter string, e.g. "Text files (*.txt);;All files (*)"
    QString defaultSuffix;  // added when the typed name has none, e.g. "txt"
};

// The icon of a message box: a fatal failure, which ends the program, carries the critical one.
enum class MessageIcon { kInformation, kCritical };

class Dialogs {
  public:
    virtual ~Dialogs() = default;
    // The chosen file, or an empty string when the user cancelled.
    virtual QString OpenFile(QWidget* parent, const FileDialogRequest& request) = 0;
    // The chosen file (default suffix added); asks before overwriting an existing file and
    // returns an empty string when the user declines or cancels.
    virtual QString SaveFile(QWidget* parent, const FileDialogRequest& request) = 0;
    // Runs the font dialog on `font`; true and `font` replaced when the user confirmed.
    virtual bool ChooseFont(QWidget* parent, QFont& font) = 0;
    // Runs the colour dialog, which starts from its own last colour (black the first time);
    // true and `color` set when the user confirmed.
    virtual bool ChooseColor(QWidget* parent, QColor& color) = 0;
    // A message box with an OK button.
    virtual void ShowMessage(QWidget* parent, const QString& caption, const QString& text,
                             MessageIcon icon) = 0;
    // A question with Yes and No buttons; true for Yes.
    virtual bool AskYesNo(QWidget* parent, const QString& caption, const QString& text) = 0;
};

}  // namespace dahlo
