#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

/// An up-down control bound to an edit: it reads the edit's integer, steps it
/// within its range and writes it back as plain digits, like a spin buddy.
class UpDownControl : public QWidget {
    Q_OBJECT

public:
    explicit UpDownControl(QWidget* parent = nullptr);

    void SetBuddy(QLineEdit* buddy);
    void SetRange(int minimum, int maximum);
    int Minimum() const { return m_minimum; }
    int Maximum() const { return m_maximum; }

    /// One step up (+1) or down (-1), as the arrow buttons and arrow keys do.
    void Step(int direction);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QLineEdit* m_buddy = nullptr;
    QToolButton* m_up = nullptr;
    QToolButton* m_down = nullptr;
    int m_minimum = 0;
    int m_maximum = 100;
};
