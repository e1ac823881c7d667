#include "app/aboutdlg.h"

#include <QLabel>
#include <QPushButton>

#include "app/dialog_template.h"
#include "display/geometry.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("バージョン情報"));
    const PixelPoint size = DialogUnitsToPixels(235, 55);
    setFixedSize(size.x, size.y);
    if (parent != nullptr) {
        setFont(parent->font());
    }
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    if (parent != nullptr) {
        icon->setPixmap(parent->windowIcon().pixmap(32, 32));
    }
    const PixelPoint iconAt = DialogUnitsToPixels(11, 17);
    icon->move(iconAt.x, iconAt.y);
    icon->resize(32, 32);
    auto* text = new QLabel(QStringLiteral("VOS Viewer Version 3.3"), this);
    text->setObjectName(QStringLiteral("version"));
    const PixelPoint textAt = DialogUnitsToPixels(40, 10);
    text->move(textAt.x, textAt.y);
    text->adjustSize();
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("ok"));
    const Rect okRect = DialogRectToPixels(178, 7, 50, 16);
    ok->setGeometry(okRect.left, okRect.top, okRect.right - okRect.left, okRect.bottom - okRect.top);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
