#include "app/prompts.h"

#include <QAbstractItemView>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

namespace {

// Takes any one name, as the open dialog does, and several files picked or
// typed. The any-file mode keeps a typed missing name for Open to report; it
// would return only the first of several files, so those are taken here.
class OpenFilesDialog : public QFileDialog {
public:
    OpenFilesDialog(QWidget* parent, const QString& filter, const QString& defaultSuffix)
        : QFileDialog(parent, QString(), QString(), filter) {
        // The widget dialog, whose file list this class can open to several files.
        setOption(QFileDialog::DontUseNativeDialog, true);
        setAcceptMode(QFileDialog::AcceptOpen);
        setFileMode(QFileDialog::AnyFile);
        setDefaultSuffix(defaultSuffix);
        for (const char* name : {"listView", "treeView"}) {
            if (auto* view = findChild<QAbstractItemView*>(QString::fromLatin1(name))) {
                view->setSelectionMode(QAbstractItemView::ExtendedSelection);
            }
        }
    }

    /// The files accepted: several picked or typed, or the one name the dialog took.
    QStringList Files() const { return m_files.isEmpty() ? selectedFiles().mid(0, 1) : m_files; }

    void accept() override {
        // The dialog's selection holds only the typed names it found in the
        // folder: every name typed counts, so that Open refuses a missing one
        // rather than opening the others without it.
        const QStringList typed = TypedNames();
        const QStringList files = typed.size() > 1 ? typed : selectedFiles();
        if (files.size() > 1) {
            for (const QString& file : files) {
                if (QFileInfo(file).isDir()) {
                    return;
                }
            }
            m_files = files;
            QDialog::accept();
            return;
        }
        QFileDialog::accept();
    }

private:
    // The names typed as "a.dlf" "b.dlf", in the folder shown, each without
    // a suffix given the default one, as the dialog reads them; empty for
    // a name typed without quotes.
    QStringList TypedNames() const {
        const auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        const QString text = edit != nullptr ? edit->text() : QString();
        QStringList names;
        if (!text.contains(QLatin1Char('"'))) {
            return names;
        }
        const QStringList tokens = text.split(QLatin1Char('"'));
        for (qsizetype i = 1; i < tokens.size(); i += 2) {
            QString name = tokens[i];
            if (name.isEmpty()) {
                continue;
            }
            if (!defaultSuffix().isEmpty() && !QFileInfo(name).fileName().contains(QLatin1Char('.'))) {
                name += QLatin1Char('.') + defaultSuffix();
            }
            names << (QFileInfo(name).isAbsolute() ? name : directory().absoluteFilePath(name));
        }
        return names;
    }

    QStringList m_files;
};

QString RunSaveDialog(QWidget* parent, const QString& filter, const QString& defaultSuffix) {
    QFileDialog dialog(parent, QString(), QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().front();
}

}  // namespace

QString UiPrompts::AskSaveFileName(QWidget* parent, const QString& filter, const QString& defaultSuffix) {
    return RunSaveDialog(parent, filter, defaultSuffix);
}

QStringList UiPrompts::AskOpenFileNames(QWidget* parent, const QString& filter, const QString& defaultSuffix) {
    OpenFilesDialog dialog(parent, filter, defaultSuffix);
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    return dialog.Files();
}

void UiPrompts::ShowMessage(QWidget* parent, const QString& text, const QString& title, Icon icon) {
    QMessageBox box(icon == Icon::Stop ? QMessageBox::Critical : QMessageBox::NoIcon, title, text,
                    QMessageBox::Ok, parent);
    box.exec();
}

int UiPrompts::AskChoice(QWidget* parent, const QString& text, const QString& title, const QStringList& buttons,
                         int defaultButton) {
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, parent);
    QList<QAbstractButton*> added;
    for (const QString& label : buttons) {
        added.push_back(box.addButton(label, QMessageBox::ActionRole));
    }
    box.setDefaultButton(static_cast<QPushButton*>(added.value(defaultButton, added.front())));
    box.setEscapeButton(added.back());
    box.exec();
    const qsizetype chosen = added.indexOf(box.clickedButton());
    return chosen < 0 ? static_cast<int>(buttons.size()) - 1 : static_cast<int>(chosen);
}
