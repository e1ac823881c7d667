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

void PlotView::DrawLabelA(QPainter& painter, int x, int y, TextAnchor anchor,
                          const std::string& text) const {
    DrawLabel(painter, m_fontA, x, y, anchor, text, COLOR_LABEL_TEXT, m_buttonFace);
}

void PlotView::DrawBackground(QPainter& painter) const {
    const PaneLayout& l = m_layout;
    const Rgb face{static_cast<std::uint8_t>(m_buttonFace.red()),
                   static_cast<std::uint8_t>(m_buttonFace.green()),
                   static_cast<std::uint8_t>(m_buttonFace.blue())};
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
    const std::uint64_t step = TimeTickStep(sampleCount);
    for (std::uint64_t b = 0; b < sampleCount; b += step) {
        const auto sample = static_cast<std::uint32_t>(b);
        DrawTimeTick(painter, sample, sampleCount, clockDivider);
        DrawTimeGridLine(painter, sample, sampleCount);
    }
}

void PlotView::DrawTimeTick(QPainter& painter, std::uint32_t sample, std::uint32_t sampleCount,
                            std::int32_t clockDivider) const {
    const int x = SampleToX(sample, m_layout.plotRect[0], sampleCount);
    const std::string time = FormatTimeLabel(SampleTimeNs(clockDivider, sample),
                                             SampleTimeNs(clockDivider, sampleCount));
    DrawLabelA(painter, x, m_geometry.timeLabelRect.bottom, ANCHOR_CENTER_BOTTOM, time);
    const std::string index = std::to_string(sample);
    for (int i = 0; i < 4; ++i) {
        DrawLabelA(painter, x, m_layout.indexLabelRect[i].bottom, ANCHOR_CENTER_BOTTOM, index);
    }
}

void PlotView::DrawTimeGridLine(QPainter& painter, std::uint32_t sample,
                                std::uint32_t sampleCount) const {
    const int x = SampleToX(sample, m_layout.plotRect[0], sampleCount);
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
    ::BuildEnvelope(m_tables, channel, samples, count, m_layout.plotRect[channel]);
}

void PlotView::DrawAllColumns(QPainter& painter) const {
    const std::int32_t columns = Columns();
    for (int c = 0; c < columns; ++c) {
        DrawLiveColumn(painter, c);
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
    LayoutPanes(mode);
    QPainter painter(&m_canvas);
    DrawBackground(painter);
    DrawTimeAxis(painter, sampleCount, clockDivider);
    DrawStatusLamp(painter, LAMP_STAND_BY);
    if (!dataValid || channels == nullptr) {
        return;
    }
    for (int ch = 0; ch < 4; ++ch) {
        if (channels[ch] != nullptr) {
            BuildEnvelope(ch, channels[ch], sampleCount);
        } else {
            BuildEnvelope(ch, nullptr, 0);
        }
    }
    DrawAllColumns(painter);
}

void PlotView::PaintTo(QPainter& windowPainter) const {
    std::lock_guard<std::mutex> lock(m_drawLock);
    windowPainter.drawImage(0, 0, m_canvas);
}

QImage PlotView::Snapshot() const {
    std::lock_guard<std::mutex> lock(m_drawLock);
    return m_canvas.copy();
}
