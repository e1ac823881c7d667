// Looking closer at a record in the window: wheel and key zoom, drag and key
// pan, the cursor readout, and saving or copying the picture. The range rules
// live in display/viewrange.h; this file only maps the mouse and keys onto them.
#include <QAbstractSpinBox>
#include <QAction>
#include <QBuffer>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "app/ctestdlg.h"
#include "display/statistics.h"
#include "files/file.h"

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
    markerAction(QStringLiteral("Set marker A here"), [this] { SetMarker(Markers::A); });
    markerAction(QStringLiteral("Set marker B here"), [this] { SetMarker(Markers::B); });
    markerAction(QStringLiteral("Remove markers"), [this] {
        m_markers.Clear();
        MarkersChanged();
    });
    markerAction(QStringLiteral("Measurements"), [this] { ShowMeasurements(); });
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
    m_markerActions[2]->setEnabled(ViewInteractive() && m_markers.Any());
    m_markerActions[3]->setEnabled(ViewInteractive());
    m_contextMenu->addSeparator();
    m_contextMenu->addAction(RecordAction());
    const bool idle = Idle();
    m_fullViewAction->setEnabled(idle && m_zoom.has_value());
    m_savePictureAction->setEnabled(idle);
    m_copyPictureAction->setEnabled(idle);
    return m_contextMenu;
}

ViewRange CtestDlg::VisibleRange() const {
    const auto count = RecordCount();
    return m_zoom ? ClampRange(*m_zoom, count) : FullView(count);
}

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
    if (!m_zoom) {
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
    const auto count = RecordCount();
    range = ClampRange(range, count);
    if (range == VisibleRange()) {
        return;
    }
    if (range == FullView(count)) {
        m_zoom.reset();
    } else {
        m_zoom = range;
    }
    RedrawAll(m_displayMode);
    UpdateMeasurements();
}

bool CtestDlg::DropZoom() {
    m_dragging = false;
    m_cursor.reset();
    // A new record: the markers were on the old one's samples.
    m_markers.Clear();
    UpdateMeasurements();
    const bool zoomed = m_zoom.has_value();
    m_zoom.reset();
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
    ApplyRange(ZoomAtColumn(VisibleRange(), RecordCount(), m_view->Columns(), column,
                            WheelZoomFactor(delta)));
    UpdateCursor(at);
    event->accept();
}

void CtestDlg::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton && ViewInteractive() && m_view->ColumnAt(at.x(), at.y()) >= 0) {
        m_dragging = true;
        m_dragStartX = at.x();
        m_dragRange = VisibleRange();
        event->accept();
        return;
    }
    QDialog::mousePressEvent(event);
}

void CtestDlg::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (m_dragging && (event->buttons() & Qt::LeftButton) && ViewInteractive()) {
        ApplyRange(PanByColumns(m_dragRange, RecordCount(), m_view->Columns(),
                                at.x() - m_dragStartX));
    }
    UpdateCursor(at);
    QDialog::mouseMoveEvent(event);
}

void CtestDlg::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        m_dragging = false;
    }
    QDialog::mouseReleaseEvent(event);
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
    const auto count = RecordCount();
    const ViewRange range = VisibleRange();
    switch (key) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        ApplyRange(ZoomAround(range, count, 0.5, WheelZoomFactor(120)));
        break;
    case Qt::Key_Minus:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Home:
        // At full view these keys keep their usual meaning for the control.
        if (!m_zoom) {
            return false;
        }
        if (key == Qt::Key_Minus) {
            ApplyRange(ZoomAround(range, count, 0.5, WheelZoomFactor(-120)));
        } else if (key == Qt::Key_Home) {
            ApplyRange(FullView(count));
        } else {
            ApplyRange(PanBySteps(range, count, key == Qt::Key_Left ? -1 : 1));
        }
        break;
    default:
        return false;
    }
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

void CtestDlg::WithSource(const std::function<void(const SampleSource&, const SummaryPyramid*)>& use) const {
    if (m_series) {
        use(m_series->source, &m_series->summaries);
        return;
    }
    const RecordSource record(m_channelData, static_cast<std::uint32_t>(m_sampleCount), m_clockDivider);
    use(record, nullptr);
}

std::optional<std::int64_t> CtestDlg::SampleUtc(std::uint64_t sample) const {
    // A stamped file alone tells the time of its samples as a series does.
    return m_series      ? m_series->source.Reader().SampleTimeMicros(sample)
           : m_fileStamp ? std::optional(StampSampleMicros(*m_fileStamp, m_clockDivider, sample))
                         : std::nullopt;
}

CtestDlg::Cursor CtestDlg::ReadCursor(const CursorPoint& point, int pointerY) {
    Cursor cursor;
    WithSource([&](const SampleSource& source, const SummaryPyramid* summaries) {
        double values[4];
        for (int ch = 0; ch < 4; ++ch) {
            values[ch] = source.At(ch, point.sample);
        }
        cursor = Cursor{point.column, pointerY, point.sample,
                        ::CursorReadout(point.sample, RecordCount(), m_clockDivider, values)};
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
    if (const auto utc = SampleUtc(point.sample)) {
        cursor.lines.insert(cursor.lines.begin() + 2, WallClockText(*utc, m_clockDivider));
    }
    return cursor;
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
    WithSource([&](const SampleSource& source, const SummaryPyramid* summaries) {
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

void CtestDlg::SetMarker(Markers::Which which) {
    if (m_menuSample && ViewInteractive()) {
        m_markers.Set(which, *m_menuSample);
        MarkersChanged();
    }
}

void CtestDlg::MarkersChanged() {
    update(ToQRect(m_view->Geometry().paneOuterAll));
    UpdateMeasurements();
}

void CtestDlg::PaintMarkers(QPainter& painter) const {
    if (!m_markers.Any() || !ViewInteractive()) {
        return;
    }
    const ViewRange range = VisibleRange();
    for (const Markers::Which which : {Markers::A, Markers::B}) {
        const auto& at = m_markers.At(which);
        if (at && *at >= range.first && *at - range.first < range.count) {
            const CursorPoint point = CursorAtSample(range, m_view->Columns(), *at);
            m_view->DrawCursor(painter, point.column, m_view->Layout().plotRect[0].top,
                               {which == Markers::A ? "A" : "B"});
        }
    }
}

QStringList CtestDlg::MeasurementReadout() {
    QStringList lines;
    if (!ViewInteractive()) {
        return lines;
    }
    WithSource([&](const SampleSource& source, const SummaryPyramid* summaries) {
        const auto utcOf = [this](std::uint64_t sample) { return SampleUtc(sample); };
        for (const std::string& line : m_markers.Readout(source, summaries, VisibleRange(), utcOf)) {
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
