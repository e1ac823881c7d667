#include "app/ctestdlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include <tuple>

#include "app/aboutdlg.h"
#include "settings/caption.h"
#include "app/dialog_template.h"
#include "app/record_controller.h"
#include "display/geometry.h"
#include "settings/settings.h"
#include "app/updown.h"
#include "device/driver.h"
#include "device/trigger.h"
#include "numtext/fixed.h"

namespace {

constexpr int IDM_ABOUTBOX = 0x0010;
constexpr int SC_CLOSE = 0xF060;
constexpr const char* INIT_MARKER = "abcdefghijklmn";
constexpr const char* ABOUT_MENU_TEXT = "バージョン情報(&A)...";

// Whether `label` shows `text` whole on one line: its width within the
// frame, less the margins and the indent a framed label keeps by default.
bool ShowsWhole(const QLabel& label, const QString& text) {
    const QFontMetrics metrics = label.fontMetrics();
    const int indent = label.indent() >= 0 ? label.indent()
                       : label.frameWidth() > 0 ? metrics.horizontalAdvance(QLatin1Char('x')) / 2
                                                 : 0;
    return metrics.horizontalAdvance(text) <= label.contentsRect().width() - 2 * label.margin() - indent;
}

QRect TemplateRect(const ControlTemplate& control) {
    const Rect r = DialogRectToPixels(control.x, control.y, control.width, control.height);
    return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

// Dialog-font look: MS UI Gothic 9 pt, which falls back to an installed Japanese Gothic.
QFont DialogFont() {
    QFont font;
    font.setFamilies({QStringLiteral("MS UI Gothic"), QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
                      QStringLiteral("Noto Sans CJK JP")});
    font.setPixelSize(12);
    return font;
}

QIcon MakeAppIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(QColor(0, 0, 0));
    QPainter painter(&pixmap);
    painter.setPen(QPen(QColor(255, 255, 0), 2));
    painter.drawPolyline(QPolygon({QPoint(2, 22), QPoint(9, 8), QPoint(16, 24), QPoint(23, 10), QPoint(30, 16)}));
    painter.setPen(QColor(128, 128, 128));
    painter.drawRect(0, 0, 31, 31);
    return QIcon(pixmap);
}

// The fallback fonts run wider than MS UI Gothic; a caption that would not fit
// its template width gets a smaller font instead of a wider control.
void FitCaption(QWidget* widget, int width) {
    QFont font = widget->font();
    while (widget->sizeHint().width() > width && font.pixelSize() > 9) {
        font.setPixelSize(font.pixelSize() - 1);
        widget->setFont(font);
    }
}

Rect ToRect(const QRect& rect) {
    // Window rectangles: right and bottom lie one past the last pixel.
    return Rect{rect.left(), rect.top(), rect.left() + rect.width(), rect.top() + rect.height()};
}

void FillList(QComboBox* combo, std::span<const char* const> texts) {
    for (const char* text : texts) {
        combo->addItem(QString::fromUtf8(text));
    }
}

}  // namespace

DeviceBackend DeviceBackend::SystemDriver(const std::string& name) {
    auto library = std::make_shared<DriverLibrary>();
    return DeviceBackend{
        [name] { return ProbeDriverLibrary(name.c_str()); },
        [library, name]() -> const D2xxApi* {
            if (library->Api() == nullptr) {
                library->Load(name.c_str());
            }
            return library->Api();
        },
    };
}

CtestDlg::CtestDlg(DeviceBackend backend, std::unique_ptr<UiPrompts> prompts, QWidget* parent)
    : QDialog(parent), m_backend(std::move(backend)), m_prompts(std::move(prompts)) {
    if (!m_prompts) {
        m_prompts = std::make_unique<UiPrompts>();
    }
    // Two banks of four channels, allocated once: the record shown lives in one,
    // a file being opened is read into the other.
    m_banks = std::make_unique<double[]>(2 * 4 * static_cast<std::size_t>(CHANNEL_CAPACITY));
    for (int ch = 0; ch < 4; ++ch) {
        m_channelData[ch] = m_banks.get() + static_cast<std::size_t>(ch) * CHANNEL_CAPACITY;
        m_spareData[ch] = m_banks.get() + static_cast<std::size_t>(4 + ch) * CHANNEL_CAPACITY;
    }
    m_hIcon = MakeAppIcon();
    m_acquisitionWindow = NewAcquisitionWindow();
    CreateControls();
    OnInitDialog();
}

CtestDlg::~CtestDlg() {
    // The window never ends under a running worker; this only waits out a
    // worker's last call to the window.
    m_workers.WaitAll([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 10); });
}

void CtestDlg::CreateControls() {
    setWindowTitle(QStringLiteral("VOS Viewer v3.3"));
    setFont(DialogFont());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(DialogUnitsToPixels(DIALOG_WIDTH_DU, 0).x, DialogUnitsToPixels(0, DIALOG_HEIGHT_DU).y);
    // The canvas covers the whole client area: no background fill before painting it.
    setAttribute(Qt::WA_OpaquePaintEvent);

    int paneIndex = 0;
    int groupIndex = 0;
    int statusIndex = 0;
    for (const ControlTemplate& control : MainWindowTemplate()) {
        const QRect rect = TemplateRect(control);
        const QString caption = QString::fromUtf8(control.caption);
        QWidget* widget = nullptr;
        switch (control.kind) {
        case ControlKind::PushButton: {
            auto* button = new QPushButton(caption, this);
            button->setAutoDefault(false);
            button->setDefault(false);
            widget = button;
            break;
        }
        case ControlKind::DropDownList: {
            auto* combo = new QComboBox(this);
            combo->setMaxVisibleItems(std::max(1, (rect.height() - DialogUnitsToPixels(0, 14).y) / 16));
            widget = combo;
            break;
        }
        case ControlKind::Edit: {
            auto* edit = new QLineEdit(this);
            edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            widget = edit;
            break;
        }
        case ControlKind::UpDown:
            widget = new UpDownControl(this);
            break;
        case ControlKind::CheckBox:
            widget = new QCheckBox(caption, this);
            break;
        case ControlKind::ProgressBar: {
            auto* bar = new QProgressBar(this);
            bar->setTextVisible(false);
            widget = bar;
            break;
        }
        case ControlKind::Frame: {
            auto* frame = new QFrame(this);
            frame->hide();
            widget = frame;
            break;
        }
        case ControlKind::Text: {
            auto* text = new QLabel(caption, this);
            text->setFrameStyle(QFrame::Box | QFrame::Plain);
            text->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            widget = text;
            break;
        }
        case ControlKind::Label: {
            auto* label = new QLabel(caption, this);
            label->setTextFormat(Qt::PlainText);
            label->move(rect.topLeft());
            label->adjustSize();
            label->setAttribute(Qt::WA_TransparentForMouseEvents);
            continue;
        }
        }
        // A drop-down list's template height is its open height; closed it is one line.
        const int height = control.kind == ControlKind::DropDownList ? DialogUnitsToPixels(0, 14).y : rect.height();
        widget->setGeometry(rect.x(), rect.y(), rect.width(), height);
        if (control.kind == ControlKind::PushButton) {
            FitCaption(widget, rect.width());
        } else if (control.kind == ControlKind::CheckBox) {
            // Nothing stands to the right of the check box: it may grow to show its caption.
            widget->resize(std::max(rect.width(), widget->sizeHint().width()), height);
        }
        widget->setObjectName(QString::fromUtf8(control.member));
        widget->setProperty("controlId", control.id);

        switch (control.id) {
        case 1012: m_btnSearch = static_cast<QPushButton*>(widget); break;
        case 1002: m_comboSerial = static_cast<QComboBox*>(widget); break;
        case 1019: m_comboClock = static_cast<QComboBox*>(widget); break;
        case 1001: m_editCount = static_cast<QLineEdit*>(widget); break;
        case 1015: m_spinCount = static_cast<UpDownControl*>(widget); break;
        case 1021: m_editTotalTime = static_cast<QLineEdit*>(widget); break;
        case 1020: m_checkTrigger = static_cast<QCheckBox*>(widget); break;
        case 1016: m_comboTrigCh = static_cast<QComboBox*>(widget); break;
        case 1009: m_comboTrigType = static_cast<QComboBox*>(widget); break;
        case 1011: m_editThreshold = static_cast<QLineEdit*>(widget); break;
        case 1007: m_btnStart = static_cast<QPushButton*>(widget); break;
        case 1008: m_btnStop = static_cast<QPushButton*>(widget); break;
        case 1013: m_btnDisplayChange = static_cast<QPushButton*>(widget); break;
        case 1018: m_comboCsvCh = static_cast<QComboBox*>(widget); break;
        case 1014: m_btnCsvSave = static_cast<QPushButton*>(widget); break;
        case 1000: m_btnSave = static_cast<QPushButton*>(widget); break;
        case 1010: m_btnOpen = static_cast<QPushButton*>(widget); break;
        case 1017: m_progress = static_cast<QProgressBar*>(widget); break;
        default:
            if (control.kind == ControlKind::Frame && control.id >= 1003 && control.id <= 1006) {
                m_paneFrame[paneIndex++] = static_cast<QFrame*>(widget);
            } else if (control.kind == ControlKind::Frame) {
                m_groupFrame[groupIndex++] = static_cast<QFrame*>(widget);
            } else if (control.kind == ControlKind::Text) {
                m_status[statusIndex++] = static_cast<QLabel*>(widget);
            }
            break;
        }
    }

    // The up-down sits at the right end of its buddy and takes its width from it.
    m_spinCount->SetBuddy(m_editCount);
    QRect editRect = m_editCount->geometry();
    const int spinWidth = DialogUnitsToPixels(10, 0).x;
    editRect.setWidth(editRect.width() - spinWidth);
    m_editCount->setGeometry(editRect);
    m_spinCount->setGeometry(editRect.right() + 1, editRect.top(), spinWidth, editRect.height());
    m_editCount->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_editCount));
    m_editTotalTime->setReadOnly(true);

    FillList(m_comboClock, CLOCK_TEXTS);
    FillList(m_comboTrigCh, TRIGGER_CHANNEL_TEXTS);
    FillList(m_comboTrigType, TRIGGER_TYPE_TEXTS);
    FillList(m_comboCsvCh, CSV_CHANNEL_TEXTS);

    QWidget* previous = nullptr;
    for (int id : MainWindowTabOrder()) {
        QWidget* widget = findChild<QWidget*>(QString::fromUtf8(FindControl(id)->member));
        widget->setFocusPolicy(Qt::StrongFocus);
        if (previous != nullptr) {
            QWidget::setTabOrder(previous, widget);
        }
        previous = widget;
    }

    connect(m_btnSearch, &QPushButton::clicked, this, &CtestDlg::OnSearch);
    connect(m_btnStart, &QPushButton::clicked, this, &CtestDlg::OnStart);
    connect(m_btnStop, &QPushButton::clicked, this, &CtestDlg::OnStop);
    connect(m_checkTrigger, &QCheckBox::clicked, this, &CtestDlg::OnTriggerCheck);
    connect(m_btnOpen, &QPushButton::clicked, this, &CtestDlg::OnOpen);
    connect(m_btnSave, &QPushButton::clicked, this, &CtestDlg::OnSave);
    connect(m_btnCsvSave, &QPushButton::clicked, this, &CtestDlg::OnCsvSave);
    connect(m_btnDisplayChange, &QPushButton::clicked, this, &CtestDlg::OnDisplayChange);
    // Only the user's choice counts as a selection change, not a programmatic one.
    connect(m_comboClock, &QComboBox::activated, this, &CtestDlg::OnClockChange);
    connect(m_editCount, &QLineEdit::textChanged, this, &CtestDlg::OnCountChange);

    CreateSeriesControls();
    CreateFollowControls();
    connect(m_btnCancel, &QPushButton::clicked, this, &CtestDlg::OnCancelExport);

    // Enter is swallowed for every control of the window, the zoom keys are
    // taken from those that do not edit text, and the pointer entering one
    // ends the cursor.
    for (QWidget* child : findChildren<QWidget*>()) {
        child->installEventFilter(this);
    }
}

void CtestDlg::OnInitDialog() {
    m_systemMenu = new QMenu(this);
    m_systemMenu->addAction(tr("Minimize"), this, &QWidget::showMinimized);
    m_closeAction = m_systemMenu->addAction(QStringLiteral("Close"), this, [this] { OnSysCommand(SC_CLOSE); });
    const QString aboutText = QString::fromUtf8(ABOUT_MENU_TEXT);
    if (!aboutText.isEmpty()) {
        m_systemMenu->addSeparator();
        m_systemMenu->addAction(aboutText, this, [this] { OnSysCommand(IDM_ABOUTBOX); });
    }
    CreateViewActions();
    setWindowIcon(m_hIcon);

    Rect paneFrames[4];
    Rect groupFrames[5];
    for (int i = 0; i < 4; ++i) {
        paneFrames[i] = ToRect(m_paneFrame[i]->geometry());
    }
    for (int i = 0; i < 5; ++i) {
        groupFrames[i] = ToRect(m_groupFrame[i]->geometry());
    }
    const PaneGeometry geometry = MakePaneGeometry(Rect{0, 0, width(), height()}, paneFrames, groupFrames);

    for (QLabel* status : m_status) {
        status->clear();
    }
    m_baseCaption = windowTitle();
    m_appTitle = QStringLiteral("VOS Viewer");

    m_hDevice = nullptr;
    m_dataValid = false;
    m_clockDivider = 1;
    m_sampleCount = 10000;
    m_triggerChannel = 0;
    m_triggerType = TRIGGER_NONE;
    m_threshold = 0.0;
    m_running = false;
    m_fileName.clear();
    m_displayMode = false;

    m_comboSerial->setCurrentIndex(-1);
    m_spinCount->SetRange(1, MAX_SAMPLE_COUNT);
    ShowSettings();
    m_comboCsvCh->setCurrentIndex(4);
    m_progress->hide();

    if (m_backend.probe && m_backend.probe()) {
        EnableControls(true);
    } else {
        m_prompts->ShowMessage(this, QString::fromUtf8(DRIVER_MISSING_TEXT), m_appTitle, UiPrompts::Icon::Stop);
        EnableControls(false);
        // Without the driver only closing the window is left.
        m_closeEnabled = true;
        m_closeAction->setEnabled(true);
    }

    m_view = std::make_unique<PlotView>(geometry, palette().color(QPalette::Button));
    // A stamped record's axis tells real time across its gaps; a run's counts samples as it always did.
    m_view->SetTimeFromStart([this](std::uint64_t sample) -> std::optional<std::int64_t> {
        const TimeMap& times = m_shown.Times();
        return times.Stamped() && sample <= times.Count() ? std::optional(times.MicrosFromStart(sample))
                                                          : std::nullopt;
    });
    RedrawAll(m_displayMode);
    m_initMarker = INIT_MARKER;
    m_btnSearch->setFocus();
}

// --- settings panel ----------------------------------------------------------

void CtestDlg::EnableControls(bool enable) {
    // While a series' summaries are built only its Cancel is usable.
    const ControlStates states =
        EnableRule(enable && !m_pending, m_running.load(), m_checkTrigger->isChecked(), m_dataValid);
    m_closeEnabled = states.closeItem;
    m_closeAction->setEnabled(states.closeItem);
    m_comboSerial->setEnabled(states.serialList);
    m_btnSearch->setEnabled(states.search);
    m_comboClock->setEnabled(states.clock);
    m_editCount->setEnabled(states.count);
    m_spinCount->setEnabled(states.spin);
    m_btnStart->setEnabled(states.start);
    m_btnStop->setEnabled(states.stop);
    m_checkTrigger->setEnabled(states.trigger);
    m_comboTrigCh->setEnabled(states.triggerCh);
    m_comboTrigType->setEnabled(states.triggerType);
    m_editThreshold->setEnabled(states.threshold);
    m_btnOpen->setEnabled(states.open);
    OfferSave(states.save);
    m_comboCsvCh->setEnabled(states.csvCh);
    m_btnCsvSave->setEnabled(states.csvSave);
    m_btnDisplayChange->setEnabled(states.displayChange);
    repaint();
}

void CtestDlg::ShowSettings() {
    ShowClockDivider(m_clockDivider);
    ShowSampleCount(m_sampleCount);
    m_editTotalTime->setText(
        QString::fromStdString(TotalTimeText(m_clockDivider, static_cast<std::uint32_t>(m_sampleCount))));
    ShowTriggerChannel(m_triggerChannel);
    ShowTriggerType(m_triggerType);
    ShowThreshold(m_threshold);
}

void CtestDlg::ShowClockDivider(std::int32_t divider) { m_comboClock->setCurrentIndex(ClockIndexForDivider(divider)); }

void CtestDlg::ShowSampleCount(std::int32_t count) { m_editCount->setText(QString::fromStdString(FormatCount(count))); }

void CtestDlg::ShowTriggerChannel(std::uint8_t channel) {
    // A channel the list does not offer (from a data file) selects no entry.
    m_comboTrigCh->setCurrentIndex(channel < m_comboTrigCh->count() ? channel : -1);
}

void CtestDlg::ShowTriggerType(std::uint8_t type) {
    if (type == TRIGGER_NONE) {
        m_checkTrigger->setChecked(false);
        m_comboTrigType->setCurrentIndex(0);
    } else {
        m_checkTrigger->setChecked(true);
        m_comboTrigType->setCurrentIndex(type < m_comboTrigType->count() ? type : -1);
    }
}

void CtestDlg::ShowThreshold(double volts) { m_editThreshold->setText(QString::fromStdString(FormatFixed5(volts))); }

std::uint32_t CtestDlg::ReadSampleCount() {
    const auto read = ReadSampleCountValue(m_editCount->text().toStdString(), m_sampleCount);
    if (read.rewrite) {
        ShowSampleCount(static_cast<std::int32_t>(read.value));
    }
    return read.value;
}

double CtestDlg::ReadThreshold() {
    const auto read = ReadThresholdValue(m_editThreshold->text().toStdString(), m_threshold);
    if (read.rewrite) {
        ShowThreshold(read.value);
    }
    return read.value;
}

std::uint8_t CtestDlg::ReadTriggerChannel() { return CutTo8Bits(m_comboTrigCh->currentIndex()); }

std::uint8_t CtestDlg::ReadTriggerType() {
    return ReadTriggerTypeValue(m_checkTrigger->isChecked(), m_comboTrigType->currentIndex());
}

void CtestDlg::OnTriggerCheck() {
    const bool checked = m_checkTrigger->isChecked();
    m_comboTrigCh->setEnabled(checked);
    m_comboTrigType->setEnabled(checked);
    m_editThreshold->setEnabled(checked);
}

void CtestDlg::OnCountChange() {
    if (m_initMarker != INIT_MARKER) {
        return;
    }
    OnClockChange();
}

void CtestDlg::OnClockChange() {
    m_editTotalTime->clear();
    m_editTotalTime->setText(QString::fromStdString(
        CountTotalTimeText(m_editCount->text().toStdString(), ClockDividerForIndex(m_comboClock->currentIndex()))));
}

void CtestDlg::OnStart() {
    m_running = true;
    EnableControls(false);
    m_heldPosition = pos();
    m_acquisition.Start(RunTarget());
}

void CtestDlg::OnStop() { m_acquisition.Stop(); }

// --- window-level handling ------------------------------------------------------

void CtestDlg::OnSysCommand(int command) {
    if ((command & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about(this);
        about.exec();
        return;
    }
    if ((command & 0xFFF0) == SC_CLOSE) {
        close();
    }
}

bool CtestDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            return true;
        }
    }
    if (ViewEvent(watched, event)) {
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CtestDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || ViewKey(event->key())) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CtestDlg::reject() {
    // Escape and Close end the window only when no operation uses the record.
    if (!m_closeEnabled || WorkersRunning()) {
        return;
    }
    QDialog::reject();
}

void CtestDlg::closeEvent(QCloseEvent* event) {
    if (!AskCloseWhileRecording() || !m_closeEnabled || WorkersRunning()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CtestDlg::contextMenuEvent(QContextMenuEvent* event) {
    // Right-click on the window's background opens what Windows keeps in the system menu.
    if (childAt(event->pos()) == nullptr) {
        ContextMenu()->exec(event->globalPos());
    }
}

void CtestDlg::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    // Window managers move windows themselves; during an acquisition the window
    // goes back to where it stood when the run started.
    if (m_running.load() && pos() != m_heldPosition && isVisible()) {
        QMetaObject::invokeMethod(this, [this] { if (m_running.load()) move(m_heldPosition); }, Qt::QueuedConnection);
    }
}

void CtestDlg::paintEvent(QPaintEvent* /*event*/) {
    if (isMinimized() || !m_view) {
        return;
    }
    QPainter painter(this);
    m_view->PaintTo(painter);
    PaintRecordMarks(painter);
    PaintMarkers(painter);
    PaintCursor(painter);
}

void CtestDlg::RequestRepaint(const QRect& area) {
    QMetaObject::invokeMethod(
        this,
        [this, area] {
            if (area.isEmpty()) {
                update();
            } else {
                update(area);
            }
        },
        Qt::QueuedConnection);
}

void CtestDlg::OnUiThread(const std::function<void()>& call) { CallOnThreadOf(*this, call); }

void CtestDlg::RunBusy(const std::function<bool(std::string&)>& operation, QWidget* focus) {
    // The wait cursor covers the main window only: the file dialogs and the
    // message box of the operation keep the arrow.
    setCursor(Qt::WaitCursor);
    EnableControls(false);
    std::string message;
    if (!operation(message)) {
        ShowMessage(message);
    }
    EnableControls(true);
    focus->setFocus();
    unsetCursor();
}

void CtestDlg::ShowMessage(const std::string& text) {
    OnUiThread([&] { m_prompts->ShowMessage(this, QString::fromStdString(text), m_appTitle, UiPrompts::Icon::None); });
}

// --- display ----------------------------------------------------------------------

void CtestDlg::RedrawAll(int mode) {
    m_shown.Draw(*m_view, mode, m_dataValid, VisibleRange());
    if (Recording()) {
        // The lamp says the recording to files as it says a run.
        const LampState lamp = m_recording->WaitingForTrigger() ? LAMP_WAITING : LAMP_ACQUISITION;
        m_view->DrawLocked([&](QPainter& painter) { m_view->DrawStatusLamp(painter, lamp); });
    }
    SaySeriesReadError();
    update();
}

void CtestDlg::OnDisplayChange() {
    EnableControls(false);
    m_displayMode = !m_displayMode;
    RedrawAll(m_displayMode);
    // A cursor left from the keyboard is read again for the new layout, or goes.
    RefreshCursor();
    EnableControls(true);
    m_btnDisplayChange->setFocus();
}

void CtestDlg::UpdateSummary() {
    for (int ch = 0; ch < 4; ++ch) {
        double maximum = 0.0;
        double minimum = 0.0;
        bool found = false;
        OnUiThread([&] { found = m_shown.WholeExtremes(ch, maximum, minimum); });
        if (found) {
            OnUiThread([&] {
                // A value wider than its box shows with fewer digits, whole;
                // the box's tip then gives it in full.
                const SummaryTexts full = SummaryTextsOf(maximum, minimum);
                const SummaryTexts texts = SummaryTextsOf(maximum, minimum, [&](const std::string& text) {
                    return ShowsWhole(*m_status[2 * ch], QString::fromStdString(text));
                });
                for (const auto& [label, text, whole] : {std::tuple{m_status[2 * ch], &texts.maximum, &full.maximum},
                                                          std::tuple{m_status[2 * ch + 1], &texts.minimum, &full.minimum}}) {
                    label->setText(QString::fromStdString(*text));
                    label->setToolTip(*text == *whole ? QString() : QString::fromStdString(*whole));
                }
            });
        }
    }
}

void CtestDlg::ClearSummary() {
    OnUiThread([this] {
        for (QLabel* status : m_status) {
            status->clear();
        }
    });
}

void CtestDlg::UpdateCaption() {
    OnUiThread([this] {
        CaptionParts parts;
        parts.baseCaption = m_baseCaption.toStdString();
        parts.fileName = m_fileName.toStdString();
        parts.clockText = m_comboClock->currentText().toStdString();
        parts.sampleCount = RecordCount();
        parts.triggerType = m_triggerType;
        parts.triggerChannelText = m_comboTrigCh->currentText().toStdString();
        parts.triggerTypeText = m_comboTrigType->currentText().toStdString();
        parts.threshold = m_threshold;
        setWindowTitle(QString::fromStdString(CaptionText(parts)));
    });
}

void CtestDlg::ResetCaption() {
    OnUiThread([this] {
        setWindowTitle(m_baseCaption);
        m_fileName.clear();
        // A new record begins in the bank: the series shown goes with its caption.
        m_shown.ShowBank(std::nullopt);
    });
}
