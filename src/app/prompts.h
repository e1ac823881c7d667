#pragma once

#include <QString>
#include <QStringList>

class QWidget;

/// The window's only doorway to file dialogs and message boxes. The default
/// shows Qt's dialogs; a widget test installs its own to answer them.
class UiPrompts {
public:
    enum class Icon { None, Stop };

    virtual ~UiPrompts() = default;

    /// Save dialog that asks before an existing file is overwritten.
    /// Returns the full path, or an empty string when cancelled.
    virtual QString AskSaveFileName(QWidget* parent, const QString& filter, const QString& defaultSuffix);

    /// Open dialog that also takes several files, picked together or typed
    /// as "a.dlf" "b.dlf"; typed names need not exist, and every one typed
    /// is returned. Empty when cancelled.
    virtual QStringList AskOpenFileNames(QWidget* parent, const QString& filter, const QString& defaultSuffix);

    /// Modal message box with an OK button only.
    virtual void ShowMessage(QWidget* parent, const QString& text, const QString& title, Icon icon);

    /// Modal question with one button per entry of `buttons`, entry
    /// `defaultButton` the default (the answer of Return) and the last the
    /// answer of Escape. A question whose answer deletes makes the one that
    /// keeps the default. Returns the index chosen.
    virtual int AskChoice(QWidget* parent, const QString& text, const QString& title, const QStringList& buttons,
                          int defaultButton = 0);
};
