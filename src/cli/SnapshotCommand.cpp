#include "cli/SnapshotCommand.h"

#include <cstdlib>
#include <ctime>

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>

#include "cli/GalleryCommand.h"
#include "cli/Recording.h"
#include "graph/Palette.h"
#include "render/OffscreenRenderer.h"
#include "scene/CrewRealityController.h"

namespace tallyloft {

int runSnapshot(const SnapshotOptions& options) {
  // The same recording gives the same picture on every machine: the rooms' wall clocks read UTC.
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  const auto size = parseImageSize(options.size);
  if (!size) {
    std::fprintf(stderr, "--size must be WIDTHxHEIGHT, each 16 to 8192 (got %s)\n",
                 options.size.c_str());
    return 2;
  }
  if (!isRecordingTime(options.at)) {
    std::fprintf(stderr, "--at must be 0 to 1e9 seconds\n");
    return 2;
  }
  auto events = readRecordingFile(options.replay, std::cerr);
  if (!events) return 2;

  std::string error;
  auto renderer = OffscreenRenderer::create(&error);
  if (!renderer) {
    std::fprintf(stderr, "Cannot render: %s\n", error.c_str());
    return 1;
  }
  RecordingPlayer player(std::move(*events));
  CrewRealityController office(player.app().crew(), player.loop(), {false, options.seed});
  office.setViewSize(static_cast<float>(size->width()), static_cast<float>(size->height()));
  // Fixed steps on the replay's clock: the same recording, moment and seed give the same picture.
  // The office is animated for the last minute before the moment; the model alone plays what came
  // before (everything in the office settles within a minute).
  constexpr double kStep = 1.0 / 60;
  constexpr double kAnimated = 60;
  const double from = std::max(0.0, options.at - kAnimated);
  player.playTo(from);
  const auto steps = static_cast<long long>((options.at - from) / kStep);
  for (long long i = 1; i <= steps; ++i) {
    player.playTo(from + static_cast<double>(i) * kStep);
    office.scene().update(kStep);
  }
  player.playTo(options.at);
  QImage image = renderer->render(office.scene(), *size);
  if (!options.transparent) {
    QImage backed(image.size(), QImage::Format_RGB32);
    const Color& backing = palette::panelBacking;
    backed.fill(QColor::fromRgbF(backing.r, backing.g, backing.b));
    QPainter painter(&backed);
    painter.drawImage(0, 0, image);
    painter.end();
    image = std::move(backed);
  }
  if (!image.save(QString::fromStdString(options.out), "PNG")) {
    std::fprintf(stderr, "Cannot write %s\n", options.out.c_str());
    return 1;
  }
  std::printf("Wrote %s (%dx%d)\n", options.out.c_str(), size->width(), size->height());
  return 0;
}

}  // namespace tallyloft
