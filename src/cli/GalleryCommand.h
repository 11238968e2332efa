#pragma once

#include <QSize>
#include <optional>
#include <string>

#include "graph/Scene.h"

namespace tallyloft {

// The test card: every mesh kind, lit and unlit, metallic and rough, opacity steps, an
// alpha-threshold texture, text in several sizes and weights, monospaced text, colour emoji and
// the mascot, under the office's camera and lights, for an image `size` pixels wide and high.
void buildPrimitivesCard(Scene& scene, QSize size);

// Fills `scene` with the named gallery; false for an unknown name.
bool buildGallery(const std::string& name, Scene& scene, QSize size);

// `tallyloft gallery NAME --out FILE.png [--size WxH] [--seed N] [--time SECONDS]`: renders
// headless after `seconds` of fixed 1/60 s steps with a generator seeded by `seed`, and writes the
// PNG. Returns the exit status (1 with a message on stderr when rendering or writing fails).
int runGallery(const std::string& name, const std::string& out, const std::string& size,
               unsigned seed = 1, double seconds = 0);

// Parses "WIDTHxHEIGHT" (16 to 8192 each); an empty text gives 1800x400. Nothing when invalid.
std::optional<QSize> parseImageSize(const std::string& text);

}  // namespace tallyloft
