#include "app/receive_text.h"

#include <QAction>
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <algorithm>

#include "app/cp1251.h"
#include "app/dialogs.h"
#include "app/settings_controls.h"
#include "settings/user_file.h"

namespace dahlo {

ReceiveText::ReceiveText(QWidget* parent) : QPlainTextEdit(parent) {
    setObjectName("RxMemo");
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setContextMenuPolicy(Qt::NoContextMenu);  // the popup opens on the release instead
}

void ReceiveText::mouseReleaseEvent(QMouseEvent* event) {
    QPlainTextEdit::mouseReleaseEvent(event);
    if (onReleased) onReleased(event->button(), event->modifiers(), event->position().toPoint());
}

int ReceiveText::DisplayLines() const {
    QTextDocument* doc = document();
    QAbstractTextDocumentLayout* layout = doc->documentLayout();
    int lines = 0;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        if (block.layout()->lineCount() == 0) layout->blockBoundingRect(block);  // lays it out
        lines += std::max(1, block.layout()->lineCount());
    }
    return lines;
}

void ReceiveText::DeleteFirstDisplayLines(int count) {
    // Cutting whole display lines off the front leaves the rest wrapped as before, so the batch
    // goes in one edit rather than one relayout per line.
    QTextDocument* doc = document();
    int end = 0;
    QTextBlock block = doc->begin();
    while (count > 0 && block.isValid()) {
        const int lines = std::max(1, block.layout()->lineCount());
        if (count >= lines) {
            count -= lines;
            end = block.position() + block.length();  // with its line break
            block = block.next();
        } else {
            const QTextLine line = block.layout()->lineAt(count - 1);
            end = block.position() + line.textStart() + line.textLength();
            count = 0;
        }
    }
    QTextCursor cursor(doc);
    cursor.setPosition(0);
    cursor.setPosition(std::min(end, doc->characterCount() - 1), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

void ReceiveText::AppendDecoded(std::string_view cp1251) {
    while (DisplayLines() > kReceiveTextLineLimit) DeleteFirstDisplayLines(kReceiveTextTrimBatch);

    QTextCursor cursor = textCursor();
    const int selStart = cursor.selectionStart();
    const int selLength = cursor.selectionEnd() - cursor.selectionStart();

    cursor.movePosition(QTextCursor::End);
    setTextCursor(cursor);
    cursor.insertText(Cp1251ToQString(cp1251));
    if (selLength != 0) {
        cursor.setPosition(selStart);
        cursor.setPosition(selStart + selLength, QTextCursor::KeepAnchor);
    }
    setTextCursor(cursor);
}

void ReceiveText::EndWord() {
    const QTextDocument* doc = document();
    const int last = doc->characterCount() - 2;  // the document's own final separator is not text
    if (last < 0 || doc->characterAt(last).isSpace()) return;
    AppendDecoded(" ");
}

std::string ReceiveText::TextCp1251() const {
    // The raw text: toPlainText() would also turn no-break spaces (1251 byte 0xA0) into blanks.
    QString text = document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
    text.replace(QChar::LineSeparator, QStringLiteral("\r\n"));
    return QStringToCp1251(text);
}

bool ReceiveText::SaveTo(const QString& path) const {
    // As the settings and export files: the umask, mode, owner and links of the file are kept.
    std::string error;
    return WriteUserFile(QFile::encodeName(path).toStdString(), TextCp1251(), error);
}

void ReceiveText::SaveBuffer(Dialogs& dialogs, QWidget* owner) {
    if (saving_) return;
    saving_ = true;
    const FileDialogRequest request{"Save buffer to file", ".",
                                    "Text files (*.txt);;All files (*.*)", "txt"};
    QString path = dialogs.SaveFile(owner, request);
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty()) {
        // Not every file dialog adds the default extension; the overwrite question the dialog
        // asked was then about another name.
        path += ".txt";
        if (QFileInfo::exists(path) &&
            !dialogs.AskYesNo(
                owner, "Save buffer to file",
                QString("%1 already exists.\nDo you want to replace it?").arg(path))) {
            path.clear();
        }
    }
    if (!path.isEmpty() && !SaveTo(path)) {
        dialogs.ShowMessage(owner, "Dahlo", QString("Cannot create file %1").arg(path),
                            MessageIcon::kInformation);
    }
    saving_ = false;
}

void ReceiveText::ChooseFont(Dialogs& dialogs, QWidget* owner, FontSettings& stored) {
    QFont chosen = font();  // the dialog works on a copy; Cancel leaves it as it was
    if (!dialogs.ChooseFont(owner, chosen)) return;
    setFont(chosen);
    StoreTextFont(chosen, logicalDpiY(), stored);
}

void ReceiveText::ChooseBackground(Dialogs& dialogs, QWidget* owner, FontSettings& stored) {
    QColor color;  // the dialog starts from its own last colour, not from the background
    if (!dialogs.ChooseColor(owner, color)) return;
    QPalette colours = palette();
    colours.setColor(QPalette::Base, color);
    setPalette(colours);
    stored.bkgColor = ColorToSetting(color);
}

bool ReceiveText::TakeSelectedWord(QString& word) {
    QTextCursor cursor = textCursor();
    if (!cursor.hasSelection()) return false;
    QString selected = cursor.selectedText();
    selected.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
    selected.replace(QChar::LineSeparator, QStringLiteral("\r\n"));
    word = Cp1251ToQString(TrimCaption(QStringToCp1251(selected)));

    cursor.setPosition(cursor.selectionStart());
    setTextCursor(cursor);
    ensureCursorVisible();
    return true;
}

WordMenu::WordMenu(QWidget* parent) : QMenu(parent) {
    setObjectName("PopupMenu1");
    title = addAction(QString());
    title->setObjectName("Title1");
    addSeparator();
    constexpr std::array<const char*, kExportFields.size()> names = {
        "Call1", "Number1", "RST1", "Name1", "QTH1", "QSLvia1", "Remarks1"};
    std::array<QAction**, kExportFields.size()> items = {&call, &number, &rst,    &name,
                                                         &qth,  &qslVia, &remarks};
    for (std::size_t i = 0; i < kExportFields.size(); ++i) {
        *items[i] = addAction(kExportFields[i].caption);
        (*items[i])->setObjectName(names[i]);
    }
    addSeparator();
    copy = addAction("Copy");
    copy->setObjectName("Copy1");
}

void WordMenu::SetWord(const QString& word) {
    word_ = word;
    QString shown = word;
    title->setText(shown.replace('&', QStringLiteral("&&")));
}

void WordMenu::CopyWord() const {
    QGuiApplication::clipboard()->setText(word_);
}

}  // namespace dahlo
