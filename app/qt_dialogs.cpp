#include "app/qt_dialogs.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QMessageBox>

namespace dahlo {

namespace {

QFileDialog* MakeFileDialog(QWidget* parent, const FileDialogRequest& request) {
    auto* dialog = new QFileDialog(parent, request.title, request.directory, request.filter);
    dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    dialog->setDefaultSuffix(request.defaultSuffix);
    return dialog;
}

}  // namespace

QString QtDialogs::OpenFile(QWidget* parent, const FileDialogRequest& request) {
    QFileDialog* dialog = MakeFileDialog(parent, request);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    QString chosen;
    if (dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty()) {
        chosen = dialog->selectedFiles().first();
    }
    delete dialog;
    return chosen;
}

QString QtDialogs::SaveFile(QWidget* parent, const FileDialogRequest& request) {
    QFileDialog* dialog = MakeFileDialog(parent, request);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setOption(QFileDialog::DontConfirmOverwrite, false);
    QString chosen;
    if (dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty()) {
        chosen = dialog->selectedFiles().first();
    }
    delete dialog;
    return chosen;
}

bool QtDialogs::ChooseFont(QWidget* parent, QFont& font) {
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, font, parent);
    if (ok) font = chosen;
    return ok;
}

bool QtDialogs::ChooseColor(QWidget* parent, QColor& color) {
    const QColor chosen = QColorDialog::getColor(lastColor_, parent);
    if (!chosen.isValid()) return false;
    lastColor_ = chosen;
    color = chosen;
    return true;
}

void QtDialogs::ShowMessage(QWidget* parent, const QString& caption, const QString& text,
                            MessageIcon icon) {
    if (icon == MessageIcon::kCritical) {
        QMessageBox::critical(parent, caption, text, QMessageBox::Ok);
    } else {
        QMessageBox::information(parent, caption, text, QMessageBox::Ok);
    }
}

bool QtDialogs::AskYesNo(QWidget* parent, const QString& caption, const QString& text) {
    return QMessageBox::question(parent, caption, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

}  // namespace dahlo
