#include "graph/TextLayout.h"

#include <utf8proc.h>

#include <QFontMetricsF>
#include <QList>
#include <QStringList>
#include <algorithm>

namespace tallyloft {
namespace {

bool isPictograph(char32_t c) {
  const utf8proc_property_t* property = utf8proc_get_property(static_cast<utf8proc_int32_t>(c));
  return property->boundclass == UTF8PROC_BOUNDCLASS_EXTENDED_PICTOGRAPHIC && c > 0xFF;
}

bool continuesEmoji(char32_t c) {
  return c == 0x200D || c == 0xFE0F || c == 0x20E3 || (c >= 0x1F3FB && c <= 0x1F3FF) ||
         (c >= 0xE0020 && c <= 0xE007F);
}

QFont fontFor(const FontSpec& style, bool emoji) {
  QFont font;
  if (emoji) {
    font.setFamilies(QStringList{QStringLiteral("Noto Color Emoji")});
  } else {
    font.setFamilies(style.monospaced ? QStringList{"DejaVu Sans Mono", "Monospace"}
                                      : QStringList{"DejaVu Sans", "Sans Serif"});
    font.setWeight(static_cast<QFont::Weight>(std::clamp(style.weight, 100, 900)));
    if (style.monospaced) font.setStyleHint(QFont::Monospace);
  }
  font.setPixelSize(kTextReferencePixels);
  font.setKerning(true);
  return font;
}

// Splits one line into runs of text and runs of emoji.
std::vector<TextLayout::Run> splitRuns(const QString& line) {
  std::vector<TextLayout::Run> runs;
  const QList<uint> codepoints = line.toUcs4();
  for (qsizetype i = 0; i < codepoints.size(); ++i) {
    const char32_t c = codepoints[i];
    const char32_t nextCodepoint = i + 1 < codepoints.size() ? codepoints[i + 1] : 0;
    bool emoji = isPictograph(c) || (c >= 0x1F1E6 && c <= 0x1F1FF);
    // A digit, # or * followed by a presentation selector or keycap mark is a keycap emoji.
    if (!emoji && (nextCodepoint == 0xFE0F || nextCodepoint == 0x20E3) && c < 0x80) emoji = true;
    if (!emoji && continuesEmoji(c) && !runs.empty() && runs.back().emoji) emoji = true;
    const QString text = QString::fromUcs4(&c, 1);
    if (runs.empty() || runs.back().emoji != emoji) {
      runs.push_back({text, emoji, 0, 0});
    } else {
      runs.back().text += text;
    }
  }
  return runs;
}

float runsWidth(std::vector<TextLayout::Run>& runs, const QFontMetricsF& text,
                const QFontMetricsF& emoji, float unitsPerPixel) {
  float x = 0;
  for (auto& run : runs) {
    run.x = x;
    run.width =
        static_cast<float>((run.emoji ? emoji : text).horizontalAdvance(run.text)) * unitsPerPixel;
    x += run.width;
  }
  return x;
}

}  // namespace

bool isEmojiCodepoint(char32_t codepoint) {
  return isPictograph(codepoint) || continuesEmoji(codepoint) ||
         (codepoint >= 0x1F1E6 && codepoint <= 0x1F1FF);
}

TextLayout layoutText(const TextMesh& mesh) {
  TextLayout layout;
  layout.textFont = fontFor(mesh.font, false);
  layout.emojiFont = fontFor(mesh.font, true);
  layout.unitsPerPixel = mesh.font.size / static_cast<float>(kTextReferencePixels);
  const QFontMetricsF textMetrics(layout.textFont);
  const QFontMetricsF emojiMetrics(layout.emojiFont);
  const float scale = layout.unitsPerPixel;
  const auto widthOf = [&](const QString& text) {
    auto runs = splitRuns(text);
    return runsWidth(runs, textMetrics, emojiMetrics, scale);
  };

  // Break into lines: at line feeds, then to the frame's width.
  const float maxWidth = mesh.containerFrame.x;
  std::vector<QString> lines;
  for (const QString& paragraph : QString::fromStdString(mesh.text).split('\n')) {
    if (maxWidth <= 0 || widthOf(paragraph) <= maxWidth) {
      lines.push_back(paragraph);
    } else if (mesh.lineBreak == LineBreak::truncateTail) {
      QString cut = paragraph;
      while (!cut.isEmpty() && widthOf(cut + QChar(0x2026)) > maxWidth) cut.chop(1);
      lines.push_back(cut + QChar(0x2026));
    } else {
      QString current;
      for (const QString& word : paragraph.split(' ')) {
        const QString candidate = current.isEmpty() ? word : current + ' ' + word;
        if (!current.isEmpty() && widthOf(candidate) > maxWidth) {
          lines.push_back(current);
          current = word;
        } else {
          current = candidate;
        }
      }
      lines.push_back(current);
    }
  }
  const float lineSpacing = static_cast<float>(textMetrics.lineSpacing()) * scale;
  const float ascent = static_cast<float>(textMetrics.ascent()) * scale;
  const float descent = static_cast<float>(textMetrics.descent()) * scale;
  if (mesh.containerFrame.y > 0) {
    const auto fit = static_cast<std::size_t>(
        std::max(1.0f, std::floor((mesh.containerFrame.y - ascent - descent) / lineSpacing) + 1));
    if (lines.size() > fit) lines.resize(fit);
  }

  for (std::size_t i = 0; i < lines.size(); ++i) {
    TextLayout::Line line;
    line.runs = splitRuns(lines[i]);
    line.width = runsWidth(line.runs, textMetrics, emojiMetrics, scale);
    line.baseline = ascent + static_cast<float>(i) * lineSpacing;
    layout.width = std::max(layout.width, line.width);
    for (const auto& run : line.runs) layout.hasEmoji |= run.emoji;
    layout.lines.push_back(std::move(line));
  }
  layout.height =
      lines.empty() ? 0 : ascent + descent + static_cast<float>(lines.size() - 1) * lineSpacing;
  const float blockWidth = maxWidth > 0 ? maxWidth : layout.width;
  for (auto& line : layout.lines) {
    if (mesh.alignment == TextAlignment::center) line.x = (blockWidth - line.width) / 2;
    if (mesh.alignment == TextAlignment::right) line.x = blockWidth - line.width;
  }
  if (maxWidth > 0) layout.width = maxWidth;
  layout.origin = {0, mesh.containerFrame.y > 0 ? mesh.containerFrame.y - layout.height : 0};
  return layout;
}

}  // namespace tallyloft
