#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>
#include <filesystem>

namespace tallyloft {

// Compares a rendered picture with its reference in tests/render/golden, with room for
// rasteriser differences: fewer than 0.5 % of pixels clearly different and a mean difference under
// 1.5 / 255. TALLYLOFT_UPDATE_GOLDEN=1 rewrites the reference instead.
inline void expectMatchesGolden(const QImage& rendered, const char* name) {
  const QImage image = rendered.convertToFormat(QImage::Format_RGBA8888);
  const std::filesystem::path golden =
      std::filesystem::path(TALLYLOFT_SOURCE_DIR) / "tests/render/golden" / name;
  if (std::getenv("TALLYLOFT_UPDATE_GOLDEN") != nullptr) {
    ASSERT_TRUE(image.save(QString::fromStdString(golden.string())));
  }
  const QImage expected =
      QImage(QString::fromStdString(golden.string())).convertToFormat(QImage::Format_RGBA8888);
  ASSERT_EQ(expected.size(), image.size())
      << "missing " << golden << " (TALLYLOFT_UPDATE_GOLDEN=1 writes it)";
  long long total = 0;
  int differing = 0;
  for (int y = 0; y < image.height(); ++y) {
    const uchar* got = image.constScanLine(y);
    const uchar* want = expected.constScanLine(y);
    for (int x = 0; x < image.width() * 4; x += 4) {
      int worst = 0;
      for (int c = 0; c < 4; ++c) {
        const int difference = std::abs(got[x + c] - want[x + c]);
        total += difference;
        worst = std::max(worst, difference);
      }
      if (worst > 48) ++differing;
    }
  }
  const double pixels = image.width() * image.height();
  EXPECT_LT(differing / pixels, 0.005) << differing << " pixels differ clearly";
  EXPECT_LT(static_cast<double>(total) / (pixels * 4), 1.5);
}

}  // namespace tallyloft
