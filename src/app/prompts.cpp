#include "app/prompts.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {

QString RunFileDialog(QWidget* parent, const QString& filter, const QString& defaultSuffix, bool save) {
    QFileDialog dialog(parent, QString(), QString(), filter);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // The open dialog takes any name: a missing file is reported by the open itself.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(defaultSuffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !save);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().front();
}

}  // namespace

QString UiPrompts::AskSaveFileName(QWidget* parent, const QString& filter, const QString& defaultSuffix) {
    return RunFileDialog(parent, filter, defaultSuffix, true);
}

QString UiPrompts::AskOpenFileName(QWidget* parent, const QString& filter, const QString& defaultSuffix) {
    return RunFileDialog(parent, filter, defaultSuffix, false);
}

void UiPrompts::ShowMessage(QWidget* parent, const QString& text, const QString& title, Icon icon) {
    QMessageBox box(icon == Icon::Stop ? QMessageBox::Critical : QMessageBox::NoIcon, title, text,
                    QMessageBox::Ok, parent);
    box.exec();
}
