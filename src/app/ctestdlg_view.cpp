// Looking closer at a record in the window: wheel and key zoom, drag and key
// pan, markers, the cursor readout, and saving or copying the picture. The
// view's rules live in display/viewnavigator.h; this file only maps the
// mouse and keys onto them.
#include <QAbstractSpinBox>
#include <QAction>
#include <QActionGroup>
#include <QBuffer>
#include <QClipboard>
#include <QComboBox>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "app/ctestdlg.h"
#include "files/file.h"
#include "record/statistics.h"

namespace {

const QString PNG_FILTER = QStringLiteral("PNGファイル (*.png)");
const QString PNG_SUFFIX = QStringLiteral("png");

}  // namespace

void CtestDlg::CreateViewActions() {
    m_contextMenu = new QMenu(this);
    m_fullViewAction = new QAction(QStringLiteral("Full view"), this);
    m_savePictureAction = new QAction(QStringLiteral("Save picture"), this);
    m_copyPictureAction = new QAction(QStringLiteral("Copy picture"), this);
    connect(m_fullViewAction, &QAction::triggered, this, &CtestDlg::OnFullView);
    connect(m_savePictureAction, &QAction::triggered, this, &CtestDlg::OnSavePicture);
    connect(m_copyPictureAction, &QAction::triggered, this, &CtestDlg::OnCopyPicture);
    for (int ch = 0; ch < 4; ++ch) {
        for (const bool maximum : {true, false}) {
            auto* action = new QAction(QStringLiteral("Go to the %1 of CH%2 in the visible range")
                                           .arg(maximum ? QStringLiteral("maximum") : QStringLiteral("minimum"))
                                           .arg(ch),
                                       this);
            connect(action, &QAction::triggered, this, [this, ch, maximum] { OnGoToExtreme(ch, maximum); });
            m_goToActions.push_back(action);
        }
    }
    const auto markerAction = [this](const QString& text, const std::function<void()>& act) {
        auto* action = new QAction(text, this);
        connect(action, &QAction::triggered, this, act);
        m_markerActions.push_back(action);
    };
    markerAction(QStringLiteral("Set marker A here"), [this] { SetMarker(MarkerPair::A); });
    markerAction(QStringLiteral("Set marker B here"), [this] { SetMarker(MarkerPair::B); });
    markerAction(QStringLiteral("Remove markers"), [this] {
        m_navigator.ClearMarkers();
        MarkersChanged();
    });
    markerAction(QStringLiteral("Measurements"), [this] { ShowMeasurements(); });
    auto* clocks = new QActionGroup(this);
    const std::pair<const char*, TimeAxisClock> clockTexts[] = {{"Time axis: from start", TimeAxisClock::FromStart},
                                                                {"Time axis: UTC", TimeAxisClock::Utc},
                                                                {"Time axis: local time", TimeAxisClock::Local}};
    for (const auto& [text, clock] : clockTexts) {
        auto* action = new QAction(QString::fromUtf8(text), clocks);
        action->setCheckable(true);
        connect(action, &QAction::triggered, this, [this, clock] { SetTimeAxisClock(clock); });
        m_clockActions.push_back(action);
    }
    // The cursor follows the pointer without a button held.
    setMouseTracking(true);
}

QMenu* CtestDlg::ContextMenu() {
    // Composed afresh each time, so the system menu stays as it is and any
    // item added to it shows here too.
    m_contextMenu->clear();
    m_contextMenu->addActions(m_systemMenu->actions());
    m_contextMenu->addSeparator();
    m_contextMenu->addAction(m_fullViewAction);
    m_contextMenu->addAction(m_savePictureAction);
    m_contextMenu->addAction(m_copyPictureAction);
    m_contextMenu->addSeparator();
    for (QAction* action : m_goToActions) {
        m_contextMenu->addAction(action);
        action->setEnabled(ViewInteractive());
    }
    // The markers go where the cursor stood when the menu opened.
    m_menuSample = m_cursor && ViewInteractive() ? std::optional(m_cursor->sample) : std::nullopt;
    m_contextMenu->addSeparator();
    for (QAction* action : m_markerActions) {
        m_contextMenu->addAction(action);
    }
    m_markerActions[0]->setEnabled(m_menuSample.has_value());
    m_markerActions[1]->setEnabled(m_menuSample.has_value());
    m_markerActions[2]->setEnabled(ViewInteractive() && m_navigator.Markers().Any());
    m_markerActions[3]->setEnabled(ViewInteractive());
    // A clock only where the record's stamps tell the time of its samples.
    const bool stamped =
        RecordCount() > 0 && (m_shown.SampleUtc(0).has_value() || m_shown.SampleUtc(RecordCount() - 1).has_value());
    if (!stamped && m_view->Clock() != TimeAxisClock::FromStart) {
        m_view->SetTimeAxisClock(TimeAxisClock::FromStart, {});
    }
    m_contextMenu->addSeparator();
    for (std::size_t i = 0; i < m_clockActions.size(); ++i) {
        m_contextMenu->addAction(m_clockActions[i]);
        m_clockActions[i]->setChecked(static_cast<int>(m_view->Clock()) == static_cast<int>(i));
        m_clockActions[i]->setEnabled(Idle() && (i == 0 || stamped));
    }
    AddExportActions(m_contextMenu);
    m_contextMenu->addSeparator();
    m_contextMenu->addAction(RecordAction());
    const bool idle = Idle();
    m_fullViewAction->setEnabled(idle && m_navigator.Zoomed());
    m_savePictureAction->setEnabled(idle);
    m_copyPictureAction->setEnabled(idle);
    return m_contextMenu;
}

ViewRange CtestDlg::VisibleRange() const { return m_navigator.Visible(RecordCount()); }

QStringList CtestDlg::CursorReadout() const {
    QStringList lines;
    if (m_cursor) {
        for (const std::string& line : m_cursor->lines) {
            lines << QString::fromStdString(line);
        }
    }
    return lines;
}

QString CtestDlg::VisibleSpan() const {
    if (!m_navigator.Zoomed()) {
        return {};
    }
    return QString::fromStdString(VisibleSpanText(VisibleRange(), RecordCount()));
}

bool CtestDlg::Idle() const { return !m_running.load() && !WorkersRunning(); }

bool CtestDlg::ViewInteractive() const {
    // The run's threads draw into the canvas and write the record.
    return Idle() && m_dataValid && RecordCount() > 0 && m_view;
}

void CtestDlg::ApplyRange(ViewRange range) {
    if (m_navigator.Show(range, RecordCount())) {
        ViewChanged();
    }
}

void CtestDlg::ViewChanged() {
    RedrawAll(m_displayMode);
    UpdateMeasurements();
}

bool CtestDlg::DropZoom() {
    m_cursor.reset();
    const bool zoomed = m_navigator.Zoomed();
    // A new record: the markers were on the old one's samples.
    m_navigator.Reset();
    ShowMarkerPointer(-1);
    UpdateMeasurements();
    return zoomed;
}

void CtestDlg::OnFullView() {
    if (ViewInteractive()) {
        ApplyRange(FullView(RecordCount()));
        m_cursor.reset();
    }
}

void CtestDlg::OnSavePicture() {
    if (!Idle()) {
        return;
    }
    const QString path = m_prompts->AskSaveFileName(this, PNG_FILTER, PNG_SUFFIX);
    if (path.isEmpty()) {
        return;
    }
    // The canvas as shown, without the cursor drawn over it, saved as the
    // record's files are: locked, and replacing an old file only when complete.
    QByteArray png;
    QBuffer buffer(&png);
    ReplacementFile file;
    if (!buffer.open(QIODevice::WriteOnly) || !m_view->Snapshot().save(&buffer, "PNG") ||
        !file.Open(path.toStdString()) || !file.WriteAll(png.constData(), static_cast<std::size_t>(png.size())) ||
        !file.Commit()) {
        ShowMessage(FileErrorMessage(FileError::Write));
    }
}

void CtestDlg::OnCopyPicture() {
    if (!Idle()) {
        return;
    }
    QGuiApplication::clipboard()->setImage(m_view->Snapshot());
}

void CtestDlg::wheelEvent(QWheelEvent* event) {
    const QPoint at = event->position().toPoint();
    const std::int32_t column = ViewInteractive() ? m_view->ColumnAt(at.x(), at.y()) : -1;
    const int delta = event->angleDelta().y();
    if (column < 0 || delta == 0) {
        event->ignore();
        return;
    }
    if (m_navigator.Wheel(RecordCount(), m_view->Columns(), column, delta)) {
        ViewChanged();
    }
    UpdateCursor(at);
    ShowMarkerPointer(column);
    event->accept();
}

void CtestDlg::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    const std::int32_t column = ViewInteractive() ? m_view->ColumnAt(at.x(), at.y()) : -1;
    if (event->button() == Qt::LeftButton && column >= 0) {
        // Near a marker's line the press takes the marker, never the view.
        m_navigator.Hold(RecordCount(), m_view->Columns(), column);
        event->accept();
        return;
    }
    QDialog::mousePressEvent(event);
}

void CtestDlg::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    const ViewNavigator::Grab held = m_navigator.Held();
    if (held != ViewNavigator::Grab::None && (event->buttons() & Qt::LeftButton) && ViewInteractive()) {
        // Columns counted from the plots' left edge, also beyond them.
        const std::int32_t column = at.x() - m_view->Layout().plotRect[0].left;
        if (m_navigator.Drag(RecordCount(), m_view->Columns(), column)) {
            if (held == ViewNavigator::Grab::View) {
                ViewChanged();
            } else {
                MarkersChanged();
            }
        }
    }
    UpdateCursor(at);
    if (m_navigator.Held() == ViewNavigator::Grab::None) {
        ShowMarkerPointer(ViewInteractive() ? m_view->ColumnAt(at.x(), at.y()) : -1);
    }
    QDialog::mouseMoveEvent(event);
}

void CtestDlg::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        m_navigator.Release();
    }
    QDialog::mouseReleaseEvent(event);
}

void CtestDlg::ShowMarkerPointer(std::int32_t column) {
    const bool near =
        column >= 0 && ViewInteractive() && m_navigator.MarkerNear(RecordCount(), m_view->Columns(), column);
    if (near == m_markerPointer) {
        return;
    }
    m_markerPointer = near;
    if (near) {
        setCursor(Qt::SizeHorCursor);
    } else {
        unsetCursor();
    }
}

void CtestDlg::mouseDoubleClickEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton && ViewInteractive() && m_view->ColumnAt(at.x(), at.y()) >= 0) {
        ApplyRange(FullView(RecordCount()));
        UpdateCursor(at);
        event->accept();
        return;
    }
    QDialog::mouseDoubleClickEvent(event);
}

void CtestDlg::leaveEvent(QEvent* event) {
    DropCursor();
    ShowMarkerPointer(-1);
    QDialog::leaveEvent(event);
}

bool CtestDlg::ViewEvent(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Enter && watched != this) {
        // Straight from a plot onto a control the window sees no move and no leave.
        DropCursor();
        return false;
    }
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    // Text fields, number fields and lists keep their own keys.
    if (qobject_cast<QLineEdit*>(watched) || qobject_cast<QAbstractSpinBox*>(watched) ||
        qobject_cast<QComboBox*>(watched)) {
        return false;
    }
    return ViewKey(static_cast<QKeyEvent*>(event)->key());
}

bool CtestDlg::ViewKey(int key) {
    if (!ViewInteractive()) {
        return false;
    }
    using Key = ViewNavigator::Key;
    std::optional<Key> action;
    switch (key) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        action = Key::ZoomIn;
        break;
    case Qt::Key_Minus:
        action = Key::ZoomOut;
        break;
    case Qt::Key_Left:
    case Qt::Key_Right:
        action = key == Qt::Key_Left ? Key::PanLeft : Key::PanRight;
        break;
    case Qt::Key_Home:
        action = Key::WholeRecord;
        break;
    case Qt::Key_A:
    case Qt::Key_B:
        action = key == Qt::Key_A ? Key::MarkerA : Key::MarkerB;
        break;
    case Qt::Key_X:
    case Qt::Key_Delete:
        action = Key::RemoveMarkers;
        break;
    default:
        return false;
    }
    const ViewRange before = VisibleRange();
    const auto cursor = m_cursor ? std::optional(m_cursor->sample) : std::nullopt;
    if (!m_navigator.Press(*action, RecordCount(), cursor)) {
        return false;
    }
    if (!(VisibleRange() == before)) {
        RedrawAll(m_displayMode);
    }
    MarkersChanged();
    RefreshCursor();
    return true;
}

void CtestDlg::DropCursor() {
    if (m_cursor) {
        m_cursor.reset();
        update(ToQRect(m_view->Geometry().paneOuterAll));
    }
}

void CtestDlg::RefreshCursor() {
    if (m_cursor) {
        UpdateCursor(m_pointer);
    }
}

CtestDlg::Cursor CtestDlg::ReadCursor(const CursorPoint& point, int pointerY) {
    Cursor cursor;
    m_shown.Read([&](const SampleSource& source, const SummaryPyramid* summaries) {
        double values[4];
        for (int ch = 0; ch < 4; ++ch) {
            values[ch] = source.At(ch, point.sample);
        }
        cursor = Cursor{point.column, pointerY, point.sample,
                        ::CursorReadout(point.sample, m_shown.Times().MicrosFromStart(point.sample) * 1000,
                                        m_shown.Times().DurationMicros() * 1000, values)};
        // A column drawing many samples names one of them: its extremes
        // show what else the column holds, so a spike there is not missed.
        if (point.columnCount > 1) {
            for (int ch = 0; ch < 4; ++ch) {
                const auto stats = StatisticsOf(source, summaries, ch, point.columnFirst,
                                                point.columnFirst + point.columnCount, false);
                if (stats && stats->nanCount < stats->count) {
                    std::string& line = cursor.lines[2 + static_cast<std::size_t>(ch)];
                    line = WithColumnExtremes(line, stats->minimum, stats->maximum);
                }
            }
        }
        // After the extremes, so that an unreadable sample's line says only that.
        MarkUnreadable(cursor.lines, point.sample);
    });
    const auto utc = m_shown.SampleUtc(point.sample);
    if (utc) {
        cursor.lines.insert(cursor.lines.begin() + 2, WallClockText(*utc, m_clockDivider));
    }
    if (const std::vector<RecordFile> files = m_shown.Files(); !files.empty()) {
        std::vector<std::uint64_t> firsts;
        for (const RecordFile& file : files) {
            firsts.push_back(file.first);
        }
        const FilePlace place = PlaceInFiles(firsts, point.sample);
        const QString name = QFileInfo(QString::fromStdString(files[place.file].path)).fileName();
        cursor.lines.insert(cursor.lines.begin() + (utc ? 3 : 2), FilePlaceText(name.toStdString(), place.sample));
    }
    return cursor;
}

void CtestDlg::SetTimeAxisClock(TimeAxisClock clock) {
    m_view->SetTimeAxisClock(clock, [this](std::uint64_t sample) { return m_shown.SampleUtc(sample); });
    RedrawAll(m_displayMode);
}

std::vector<RecordMark> CtestDlg::RecordMarks() const {
    std::vector<RecordMark> marks;
    if (!ViewInteractive()) {
        return marks;
    }
    const std::vector<RecordFile> files = m_shown.Files();
    for (std::size_t f = 1; f < files.size(); ++f) {
        marks.push_back({files[f].first, files[f].gapBefore});
    }
    return marks;
}

void CtestDlg::PaintRecordMarks(QPainter& painter) const {
    if (const std::vector<RecordMark> marks = RecordMarks(); !marks.empty()) {
        m_view->DrawRecordMarks(painter, VisibleRange(), marks);
    }
}

void CtestDlg::UpdateCursor(const QPoint& pointer) {
    m_pointer = pointer;
    std::optional<Cursor> next;
    const std::int32_t column = ViewInteractive() ? m_view->ColumnAt(pointer.x(), pointer.y()) : -1;
    if (column >= 0) {
        next = ReadCursor(CursorAtColumn(VisibleRange(), m_view->Columns(), column), pointer.y());
    }
    if (next || m_cursor) {
        update(ToQRect(m_view->Geometry().paneOuterAll));
    }
    m_cursor = std::move(next);
}

void CtestDlg::OnGoToExtreme(int channel, bool maximum) {
    if (!ViewInteractive()) {
        return;
    }
    const ViewRange range = VisibleRange();
    std::optional<RangeStatistics> stats;
    m_shown.Read([&](const SampleSource& source, const SummaryPyramid* summaries) {
        stats = StatisticsOf(source, summaries, channel, range.first, range.first + range.count);
    });
    if (!stats || stats->nanCount == stats->count) {
        return;
    }
    const std::uint64_t at = maximum ? stats->maximumAt : stats->minimumAt;
    ApplyRange({at - std::min(at, range.count / 2), range.count});
    const CursorPoint point = CursorAtSample(VisibleRange(), m_view->Columns(), at);
    const Rect& plot = m_view->Layout().plotRect[channel];
    m_pointer = QPoint(plot.left + point.column, (plot.top + plot.bottom) / 2);
    m_cursor = ReadCursor(point, m_pointer.y());
    update(ToQRect(m_view->Geometry().paneOuterAll));
}

void CtestDlg::PaintCursor(QPainter& painter) const {
    if (m_cursor && ViewInteractive()) {
        m_view->DrawCursor(painter, m_cursor->column, m_cursor->pointerY, m_cursor->lines);
    }
}

void CtestDlg::SetMarker(MarkerPair::Which which) {
    if (m_menuSample && ViewInteractive()) {
        m_navigator.SetMarker(which, *m_menuSample);
        MarkersChanged();
    }
}

void CtestDlg::MarkersChanged() {
    update(ToQRect(m_view->Geometry().paneOuterAll));
    UpdateMeasurements();
}

void CtestDlg::PaintMarkers(QPainter& painter) const {
    const MarkerPair& markers = m_navigator.Markers();
    if (!markers.Any() || !ViewInteractive()) {
        return;
    }
    const ViewRange range = VisibleRange();
    for (const MarkerPair::Which which : {MarkerPair::A, MarkerPair::B}) {
        const auto& at = markers.At(which);
        if (at && *at >= range.first && *at - range.first < range.count) {
            const CursorPoint point = CursorAtSample(range, m_view->Columns(), *at);
            m_view->DrawCursor(painter, point.column, m_view->Layout().plotRect[0].top,
                               {which == MarkerPair::A ? "A" : "B"});
        }
    }
}

QStringList CtestDlg::MeasurementReadout() {
    QStringList lines;
    if (!ViewInteractive()) {
        return lines;
    }
    m_shown.Read([&](const SampleSource& source, const SummaryPyramid* summaries) {
        for (const std::string& line :
             MarkerReadout(m_navigator.Markers(), source, summaries, VisibleRange(), m_shown.Times())) {
            lines << QString::fromStdString(line);
        }
    });
    return lines;
}

void CtestDlg::ShowMeasurements() {
    if (m_measurements == nullptr) {
        // A window of its own, so the traces and the window's layout stay as they are.
        m_measurements = new QDialog(this);
        m_measurements->setWindowTitle(QStringLiteral("Measurements"));
        m_measurementText = new QLabel(m_measurements);
        m_measurementText->setTextInteractionFlags(Qt::TextSelectableByMouse);
        auto* layout = new QVBoxLayout(m_measurements);
        layout->addWidget(m_measurementText);
    }
    UpdateMeasurements();
    m_measurements->show();
    m_measurements->raise();
}

void CtestDlg::UpdateMeasurements() {
    if (m_measurementText != nullptr) {
        m_measurementText->setText(MeasurementReadout().join(QLatin1Char('\n')));
    }
}
