#pragma once
// The receive text: the decoded characters as they arrive, cut from the front once it holds more
// than 10000 display lines, saved as Windows-1251 by Save Buffer. Selecting a word opens its
// popup, which hands the word to a logging program or copies it.

#include <QMenu>
#include <QPlainTextEdit>
#include <QString>
#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "export/logger_export.h"
#include "settings/settings.h"

class QAction;

namespace dahlo {

class Dialogs;

inline constexpr int kReceiveTextLineLimit = 10000;  // display lines kept
inline constexpr int kReceiveTextTrimBatch = 100;    // lines cut at a time once over the limit

class ReceiveText final : public QPlainTextEdit {
  public:
    explicit ReceiveText(QWidget* parent = nullptr);

    // Mouse releases, any button, at a point inside the text area; called after the control has
    // finished the selection with them.
    std::function<void(Qt::MouseButton, Qt::KeyboardModifiers, QPoint)> onReleased;

    // Decoded text at the end; a selection stays where it was.
    void AppendDecoded(std::string_view cp1251);
    // Ends the word at the end of the text with a blank, unless it is empty or already ends in
    // one: the next decoded text is another station's, not the rest of this word.
    void EndWord();
    // Display lines, as the layout wraps them now.
    int DisplayLines() const;
    // The text exactly as held, in Windows-1251 with CR LF between lines.
    std::string TextCp1251() const;
    // Writes TextCp1251() to `path`, replacing it; false when that fails.
    bool SaveTo(const QString& path) const;
    // The selection as the popup shows and exports it (without blanks and control characters at
    // its ends); the cursor goes to the selection's start. False when nothing is selected.
    bool TakeSelectedWord(QString& word);

    // Save Buffer: asks for a file and writes the text as the dialog closed; a file that cannot
    // be created is reported. The dialogs open over `owner`.
    void SaveBuffer(Dialogs& dialogs, QWidget* owner);
    // Rx Window Font Setup and Background Setup: the choice shows at once and goes into `stored`.
    void ChooseFont(Dialogs& dialogs, QWidget* owner, FontSettings& stored);
    void ChooseBackground(Dialogs& dialogs, QWidget* owner, FontSettings& stored);

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void DeleteFirstDisplayLines(int count);

    bool saving_ = false;  // a second Save Buffer while the first one's dialog is open
};

// The receive text's popup: the selected word as its title (choosing it does nothing), the log
// fields that export it, and Copy.
class WordMenu final : public QMenu {
  public:
    explicit WordMenu(QWidget* parent);

    QAction* title = nullptr;
    QAction* call = nullptr;
    QAction* number = nullptr;
    QAction* rst = nullptr;
    QAction* name = nullptr;
    QAction* qth = nullptr;
    QAction* qslVia = nullptr;
    QAction* remarks = nullptr;
    QAction* copy = nullptr;

    // The field items in the order of kExportFields.
    std::array<QAction*, kExportFields.size()> Fields() const {
        return {call, number, rst, name, qth, qslVia, remarks};
    }

    // The title shows `word` with '&' doubled, so that it has no accelerator letter.
    void SetWord(const QString& word);
    const QString& Word() const { return word_; }
    // Puts the word on the clipboard.
    void CopyWord() const;

  private:
    QString word_;
};

}  // namespace dahlo
