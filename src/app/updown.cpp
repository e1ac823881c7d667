#include "app/updown.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdint>
#include <string>

#include "numtext/numtext.h"

UpDownControl::UpDownControl(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_up = new QToolButton(this);
    m_down = new QToolButton(this);
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    for (QToolButton* button : {m_up, m_down}) {
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoRepeat(true);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        layout->addWidget(button);
    }
    setFocusPolicy(Qt::NoFocus);
    connect(m_up, &QToolButton::clicked, this, [this] { Step(1); });
    connect(m_down, &QToolButton::clicked, this, [this] { Step(-1); });
}

void UpDownControl::SetBuddy(QLineEdit* buddy) {
    m_buddy = buddy;
    m_buddy->installEventFilter(this);
}

void UpDownControl::SetRange(int minimum, int maximum) {
    m_minimum = minimum;
    m_maximum = maximum;
}

void UpDownControl::Step(int direction) {
    if (m_buddy == nullptr || !isEnabled()) {
        return;
    }
    // A text that is no number steps from the bottom of the range.
    std::uint32_t parsed = 0;
    std::int64_t value = m_minimum;
    if (ParseUnsigned(m_buddy->text().toStdString(), parsed)) {
        value = static_cast<std::int64_t>(parsed) + direction;
    }
    value = std::clamp<std::int64_t>(value, m_minimum, m_maximum);
    m_buddy->setText(QString::number(value));
}

bool UpDownControl::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_buddy && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            Step(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void UpDownControl::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        m_up->setEnabled(isEnabled());
        m_down->setEnabled(isEnabled());
    }
    QWidget::changeEvent(event);
}
