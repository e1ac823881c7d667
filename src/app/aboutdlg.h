#pragma once

#include <QDialog>

/// The About box: version text and an OK button.
class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
