#pragma once

#include <QFont>
#include <QString>
#include <glm/glm.hpp>
#include <vector>

#include "graph/Mesh.h"

namespace tallyloft {

// How a text mesh's string is set: lines of runs, each run drawn with the text font or, for
// emoji, with the colour emoji font, so that digits and letters never come from the emoji font.
// Positions are in local units with y growing downwards from the top of the block; `origin` is
// where the block's bottom-left corner sits in the mesh's local space. Needs a QGuiApplication.
struct TextLayout {
  struct Run {
    QString text;
    bool emoji = false;
    float x = 0;  // from the line's left edge
    float width = 0;
  };
  struct Line {
    std::vector<Run> runs;
    float x = 0;         // left edge of the line within the block (alignment)
    float baseline = 0;  // from the top of the block
    float width = 0;
  };

  std::vector<Line> lines;
  float width = 0;
  float height = 0;
  glm::vec2 origin{0};
  float unitsPerPixel = 1;  // local units per pixel of the reference fonts
  QFont textFont;           // at the reference pixel size
  QFont emojiFont;
  bool hasEmoji = false;
};

// The reference pixel size the fonts are set at; one font-size unit is this many pixels.
inline constexpr int kTextReferencePixels = 64;

TextLayout layoutText(const TextMesh& mesh);

// Whether `codepoint` begins or continues an emoji (pictographs, flags, skin tones, joiners,
// presentation selectors, keycaps).
bool isEmojiCodepoint(char32_t codepoint);

}  // namespace tallyloft
