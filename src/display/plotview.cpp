#include "display/plotview.h"

#include <QFontMetrics>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <string>

namespace {

const char* const LAMP_TEXTS[3] = {"Stand by", "Acquisition", "Waiting"};

// Overlay legend: label reference rows and stroke rows relative to the
// combined plot's bottom, for channels 0..3.
constexpr int LEGEND_LABEL_DY[4] = {-29, -17, -5, 7};
constexpr int LEGEND_STROKE_DY[4] = {-36, -24, -12, 0};

std::string VoltLabel(int volts) { return std::to_string(volts) + "V"; }

}  // namespace

QFont MakeLabelFont() {
    QFont font;
    font.setFamilies({QString::fromUtf8(LABEL_FONT_FACE), QStringLiteral("MS Gothic"),
                      QStringLiteral("IPAGothic"), QStringLiteral("Noto Sans CJK JP")});
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    // The bitmap-like look of the face at this size, and the same pixels on
    // every run.
    font.setStyleStrategy(QFont::NoAntialias);
    for (int size = LABEL_FONT_CELL_HEIGHT; size >= 1; --size) {
        font.setPixelSize(size);
        if (QFontMetrics(font).height() <= LABEL_FONT_CELL_HEIGHT) {
            break;
        }
    }
    return font;
}

PlotView::PlotView(const PaneGeometry& geometry, const QColor& buttonFace)
    : m_geometry(geometry),
      m_canvas(std::max(geometry.clientRect.Width(), 1), std::max(geometry.clientRect.Height(), 1),
               QImage::Format_RGB32),
      m_fontA(MakeLabelFont()),
      m_fontB(MakeLabelFont()),
      m_buttonFace(buttonFace) {
    std::fill(std::begin(m_columnEnd), std::end(m_columnEnd), -1);
    m_canvas.fill(m_buttonFace);
    LayoutPanes(0);
}

void PlotView::LayoutPanes(int mode) {
    m_mode = mode == 0 ? 0 : 1;
    ::LayoutPanes(m_geometry, m_mode, m_layout);
}

std::int32_t PlotView::Columns() const { return EnvelopeColumns(m_layout.plotRect[0]); }

std::int32_t PlotView::ColumnAt(int x, int y) const {
    for (const Rect& plot : m_layout.plotRect) {
        if (x >= plot.left && x <= plot.right && y >= plot.top && y <= plot.bottom) {
            return std::min(x - plot.left, Columns() - 1);
        }
    }
    return -1;
}

void PlotView::DrawLabelA(QPainter& painter, int x, int y, TextAnchor anchor,
                          const std::string& text) const {
    DrawLabel(painter, m_fontA, x, y, anchor, text, COLOR_LABEL_TEXT, m_buttonFace);
}

void PlotView::DrawBackground(QPainter& painter) const {
    const PaneLayout& l = m_layout;
    const Rgb face = ToRgb(m_buttonFace);
    FillRectInclusive(painter, m_geometry.clientRect, face);
    for (int i = 0; i < 4; ++i) {
        FillRectInclusive(painter, l.plotRect[i], COLOR_PLOT_BACK);
        DrawFrameRect(painter, l.frameRect[i], COLOR_OUTLINE);
    }
    for (int i = 0; i < 4; ++i) {
        DrawFrameRect(painter, m_geometry.groupRect[i], COLOR_OUTLINE);
    }
    for (int i = 0; i < 4; ++i) {
        for (int k = 0; k <= 10; ++k) {
            DrawHLine(painter, PEN_GRID, l.plotRect[i].left, l.plotRect[i].right, l.gridY[i][k]);
        }
    }
    if (m_mode == 0) {
        for (int i = 0; i < 4; ++i) {
            const int left = l.plotRect[i].left;
            DrawLabelA(painter, left - 22, l.gridY[i][5] + 6, ANCHOR_RIGHT_BOTTOM,
                       "CH" + std::to_string(i));
            for (int k = 0; k <= 10; k += 2) {
                DrawLabelA(painter, left - 3, l.gridY[i][k] + 6, ANCHOR_RIGHT_BOTTOM, VoltLabel(k));
            }
        }
        return;
    }
    const int left = l.plotRect[0].left;
    const int bottom = l.plotRect[0].bottom;
    for (int k = 0; k <= 10; ++k) {
        DrawLabelA(painter, left - 3, l.gridY[0][k] + 6, ANCHOR_RIGHT_BOTTOM, VoltLabel(k));
    }
    for (int ch = 0; ch < 4; ++ch) {
        DrawLabelA(painter, left - 22, bottom + LEGEND_LABEL_DY[ch], ANCHOR_RIGHT_BOTTOM,
                   "CH" + std::to_string(ch));
    }
    for (int ch = 0; ch < 4; ++ch) {
        const LinePen legend{ChannelColor(ch), 3, false};
        DrawHLine(painter, legend, left - 19, left - 6, bottom + LEGEND_STROKE_DY[ch]);
    }
}

void PlotView::DrawTimeAxis(QPainter& painter, std::uint32_t sampleCount,
                            std::int32_t clockDivider) const {
    DrawTimeAxis(painter, FullView(sampleCount), sampleCount, clockDivider);
}

void PlotView::DrawTimeAxis(QPainter& painter, ViewRange range, std::uint64_t sampleCount,
                            std::int32_t clockDivider, bool clockTime) const {
    for (const AxisTick& tick : TimeAxisTicks(range, sampleCount, clockDivider, clockTime)) {
        DrawTimeTick(painter, tick);
        DrawTimeGridLine(painter, tick.x);
    }
}

std::vector<AxisTick> PlotView::TimeAxisTicks(ViewRange range, std::uint64_t sampleCount,
                                              std::int32_t clockDivider, bool clockTime) const {
    const QFontMetrics metrics(m_fontA);
    return ::TimeAxisTicks(
        range, sampleCount, clockDivider, m_layout.plotRect[0],
        [&](const std::string& text) { return metrics.horizontalAdvance(QString::fromStdString(text)); },
        clockTime ? m_clock : TimeAxisClock::FromStart, m_utcOf, clockTime ? m_fromStartOf : SampleClock{});
}

void PlotView::SetTimeAxisClock(TimeAxisClock clock, SampleClock utcOf) {
    m_clock = clock;
    m_utcOf = std::move(utcOf);
}

void PlotView::DrawRecordMarks(QPainter& painter, ViewRange range, std::span<const RecordMark> marks) const {
    const std::vector<MarkColumn> columns = MarkColumns(range, Columns(), marks);
    if (columns.empty()) {
        return;
    }
    const QRgb back = qRgb(COLOR_PLOT_BACK.r, COLOR_PLOT_BACK.g, COLOR_PLOT_BACK.b);
    std::lock_guard<std::mutex> lock(m_drawLock);
    for (const MarkColumn& mark : columns) {
        const Rgb color = mark.gap ? COLOR_GAP_MARK : COLOR_FILE_MARK;
        painter.setPen(QColor(color.r, color.g, color.b));
        for (const Rect& plot : m_layout.plotRect) {
            const int x = plot.left + mark.column;
            for (int y = plot.top + 1; y <= plot.bottom; y += 2) {
                if ((m_canvas.pixel(x, y) & 0xFFFFFF) == (back & 0xFFFFFF)) {
                    painter.drawPoint(x, y);
                }
            }
        }
    }
}

void PlotView::DrawTimeTick(QPainter& painter, const AxisTick& tick) const {
    DrawLabelA(painter, tick.timeLeft, m_geometry.timeLabelRect.bottom, ANCHOR_LEFT_BOTTOM, tick.time);
    for (int i = 0; i < 4; ++i) {
        DrawLabelA(painter, tick.indexLeft, m_layout.indexLabelRect[i].bottom, ANCHOR_LEFT_BOTTOM, tick.index);
    }
}

void PlotView::DrawTimeGridLine(QPainter& painter, int x) const {
    for (int i = 0; i < 4; ++i) {
        DrawVLine(painter, PEN_GRID, x, m_layout.plotRect[i].top, m_layout.plotRect[i].bottom);
    }
}

void PlotView::DrawStatusLamp(QPainter& painter, LampState state) const {
    const int index = static_cast<int>(state);
    if (index < 0 || index > 2) {
        return;
    }
    const Rect& lamp = m_geometry.groupRect[4];
    const Rgb fill = LAMP_COLORS[index];
    FillRectInclusive(painter, lamp, fill);
    DrawFrameRect(painter, lamp, COLOR_OUTLINE);
    DrawLabel(painter, m_fontB, lamp.left + lamp.Width() / 2, lamp.bottom - 8,
              ANCHOR_CENTER_BOTTOM, LAMP_TEXTS[index], COLOR_LABEL_TEXT, ToQColor(fill));
}

void PlotView::BuildEnvelope(int channel, const double* samples, std::uint32_t count) {
    if (channel < 0 || channel > 3) {
        return;
    }
    m_index[channel].Build(samples, count);
    ::BuildEnvelope(m_tables, channel, samples, 0, count, m_layout.plotRect[channel],
                    &m_index[channel]);
}

void PlotView::BuildEnvelope(int channel, const double* samples, std::uint32_t sampleCount,
                             ViewRange range) {
    if (channel < 0 || channel > 3) {
        return;
    }
    if (!m_index[channel].Covers(samples, sampleCount)) {
        m_index[channel].Build(samples, sampleCount);
    }
    range = ClampRange(range, sampleCount);
    // An in-memory record holds at most a 32-bit count of samples.
    ::BuildEnvelope(m_tables, channel, samples, static_cast<std::uint32_t>(range.first),
                    static_cast<std::uint32_t>(range.count), m_layout.plotRect[channel], &m_index[channel]);
}

void PlotView::DrawAllColumns(QPainter& painter) const {
    // Channel by channel from 3 to 0: where overlaid strokes meet, channel 0
    // ends on top, as when each column is drawn for all channels in turn.
    const std::int32_t columns = Columns();
    VLine strokes[MAX_COLUMNS];
    for (int ch = 3; ch >= 0; --ch) {
        const int left = m_layout.plotRect[ch].left;
        for (int c = 0; c < columns; ++c) {
            // An empty column (no record at all) has its ends crossed.
            strokes[c] = {left + c, m_tables.minY[ch][c], m_tables.maxY[ch][c]};
        }
        DrawVLines(painter, LinePen{ChannelColor(ch), 1, false}, std::span(strokes, columns));
    }
}

void PlotView::BuildColumnMap(std::uint32_t count) {
    ::BuildColumnMap(m_columnEnd, Columns(), count);
}

void PlotView::UpdateLiveColumn(int channel, int column, const double* samples) {
    if (channel < 0 || channel > 3) {
        return;
    }
    ::UpdateLiveColumn(m_tables, channel, column, m_columnEnd, samples,
                       m_layout.plotRect[channel]);
}

void PlotView::DrawLiveColumn(QPainter& painter, int column) const {
    if (column < 0 || column >= Columns()) {
        return;
    }
    for (int ch = 3; ch >= 0; --ch) {
        const std::int32_t top = m_tables.minY[ch][column];
        const std::int32_t bottom = m_tables.maxY[ch][column];
        // An empty column (no record at all) has its ends crossed.
        if (top > bottom) {
            continue;
        }
        const LinePen pen{ChannelColor(ch), 1, false};
        DrawVLine(painter, pen, m_layout.plotRect[ch].left + column, top, bottom);
    }
}

void PlotView::RedrawAll(int mode, bool dataValid, const double* const channels[4],
                         std::uint32_t sampleCount, std::int32_t clockDivider) {
    RedrawAll(mode, dataValid, channels, sampleCount, clockDivider, FullView(sampleCount));
}

void PlotView::RedrawAll(int mode, bool dataValid, const double* const channels[4],
                         std::uint32_t sampleCount, std::int32_t clockDivider, ViewRange range) {
    QPainter painter(&m_canvas);
    range = DrawFrame(painter, mode, sampleCount, clockDivider, range);
    const bool full = range == FullView(sampleCount);
    if (!dataValid || channels == nullptr) {
        return;
    }
    for (int ch = 0; ch < 4; ++ch) {
        if (channels[ch] == nullptr) {
            BuildEnvelope(ch, nullptr, 0);
        } else if (full) {
            BuildEnvelope(ch, channels[ch], sampleCount);
        } else {
            BuildEnvelope(ch, channels[ch], sampleCount, range);
        }
    }
    DrawAllColumns(painter);
}

ViewRange PlotView::DrawFrame(QPainter& painter, int mode, std::uint64_t sampleCount,
                              std::int32_t clockDivider, ViewRange range) {
    range = ClampRange(range, sampleCount);
    LayoutPanes(mode);
    DrawBackground(painter);
    DrawTimeAxis(painter, range, sampleCount, clockDivider, true);
    if (range != FullView(sampleCount)) {
        DrawLabelA(painter, m_layout.plotRect[0].right + 1, m_geometry.timeLabelRect.top,
                   ANCHOR_RIGHT_BOTTOM, VisibleSpanText(range, sampleCount));
    }
    DrawStatusLamp(painter, LAMP_STAND_BY);
    return range;
}

void PlotView::RedrawAll(int mode, const SampleSource& source, const SummaryPyramid& summaries,
                         ViewRange range) {
    QPainter painter(&m_canvas);
    range = DrawFrame(painter, mode, source.Count(), source.ClockDivider(), range);
    ::BuildEnvelopes(m_tables, source, summaries, range.first, range.count, m_layout.plotRect);
    DrawAllColumns(painter);
}

void PlotView::DrawCursor(QPainter& painter, std::int32_t column, int pointerY,
                          const std::vector<std::string>& lines) const {
    // The box stays inside the plot under the pointer.
    Rect area = m_layout.plotRect[0];
    for (const Rect& plot : m_layout.plotRect) {
        if (pointerY >= plot.top && pointerY <= plot.bottom) {
            area = plot;
        }
    }
    const int x = m_layout.plotRect[0].left + std::clamp(column, 0, Columns() - 1);
    const LinePen pen{COLOR_CURSOR, 1, false};
    for (int i = 0; i < 4; ++i) {
        DrawVLine(painter, pen, x, m_layout.plotRect[i].top, m_layout.plotRect[i].bottom);
    }
    if (lines.empty()) {
        return;
    }
    const QFontMetrics metrics(m_fontA);
    int textWidth = 0;
    for (const std::string& line : lines) {
        textWidth = std::max(textWidth, metrics.horizontalAdvance(QString::fromStdString(line)));
    }
    constexpr int PAD = 3;
    constexpr int GAP = 8;
    const int lineHeight = metrics.height();
    const int width = textWidth + 2 * PAD;
    const int height = static_cast<int>(lines.size()) * lineHeight + 2 * PAD;
    // Beside the line, on the side with room, and below the pointer if it fits.
    int left = x + GAP;
    if (left + width > area.right) {
        left = x - GAP - width;
    }
    int top = pointerY + GAP;
    if (top + height > area.bottom) {
        top = pointerY - GAP - height;
    }
    left = std::max(left, area.left);
    top = std::max(top, area.top);
    const Rect box{left, top, left + width, top + height};
    const Rgb face = ToRgb(m_buttonFace);
    FillRectInclusive(painter, box, face);
    DrawFrameRect(painter, box, COLOR_OUTLINE);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int baseline = top + PAD + static_cast<int>(i + 1) * lineHeight;
        DrawLabel(painter, m_fontA, left + PAD, baseline, ANCHOR_LEFT_BOTTOM, lines[i],
                  COLOR_LABEL_TEXT, m_buttonFace);
    }
}

void PlotView::PaintTo(QPainter& windowPainter) const {
    std::lock_guard<std::mutex> lock(m_drawLock);
    windowPainter.drawImage(0, 0, m_canvas);
}

QImage PlotView::Snapshot() const {
    std::lock_guard<std::mutex> lock(m_drawLock);
    return m_canvas.copy();
}
