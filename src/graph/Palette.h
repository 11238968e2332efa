#pragma once

#include <cmath>
#include <cstdint>

namespace tallyloft {

// A linear RGBA colour, each channel 0 to 1.
struct Color {
  float r = 0;
  float g = 0;
  float b = 0;
  float a = 1;

  static constexpr Color hex(std::uint32_t rgb, float alpha = 1) {
    return {static_cast<float>((rgb >> 16) & 0xFF) / 255.0f,
            static_cast<float>((rgb >> 8) & 0xFF) / 255.0f, static_cast<float>(rgb & 0xFF) / 255.0f,
            alpha};
  }
  constexpr Color withAlpha(float alpha) const { return {r, g, b, alpha}; }
  friend bool operator==(const Color&, const Color&) = default;
};

// A grey of `level` (0 black, 1 white).
constexpr Color grey(float level) {
  return {level, level, level, 1};
}

// Hue, saturation and brightness (each 0..1) to RGB.
inline Color fromHsb(float hue, float saturation, float brightness) {
  const float h = std::fmod(hue, 1.0f) * 6;
  const float c = brightness * saturation;
  const float x = c * (1 - std::fabs(std::fmod(h, 2.0f) - 1));
  const float m = brightness - c;
  float r = 0, g = 0, b = 0;
  switch (static_cast<int>(h)) {
    case 0:
      r = c, g = x;
      break;
    case 1:
      r = x, g = c;
      break;
    case 2:
      g = c, b = x;
      break;
    case 3:
      g = x, b = c;
      break;
    case 4:
      r = x, b = c;
      break;
    default:
      r = c, b = x;
      break;
  }
  return {r + m, g + m, b + m, 1};
}

// The system colours the office is painted with.
namespace palette {
// What the office panel shows behind the office where nothing is drawn.
inline constexpr Color panelBacking{0.075f, 0.075f, 0.09f, 1.0f};
inline constexpr Color blue = Color::hex(0x007AFF);
inline constexpr Color green = Color::hex(0x34C759);
inline constexpr Color orange = Color::hex(0xFF9500);
inline constexpr Color red = Color::hex(0xFF3B30);
inline constexpr Color yellow = Color::hex(0xFFCC00);
inline constexpr Color pink = Color::hex(0xFF2D55);
inline constexpr Color purple = Color::hex(0xAF52DE);
inline constexpr Color teal = Color::hex(0x30B0C7);
inline constexpr Color indigo = Color::hex(0x5856D6);
inline constexpr Color cyan = Color::hex(0x32ADE6);
inline constexpr Color brown = Color::hex(0xA2845E);
inline constexpr Color gray = Color::hex(0x8E8E93);
inline constexpr Color white = Color::hex(0xFFFFFF);
inline constexpr Color black = Color::hex(0x000000);
}  // namespace palette

}  // namespace tallyloft
