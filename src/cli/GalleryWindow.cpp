#include "cli/GalleryWindow.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "cli/GalleryCommand.h"
#include "shell/RenderView.h"

namespace tallyloft {

int showGalleryWindow(int& argc, char** argv, const std::string& name,
                      const std::string& sizeText) {
  const auto size = parseImageSize(sizeText.empty() ? "900x200" : sizeText);
  if (!size) {
    std::fprintf(stderr, "--size must be WIDTHxHEIGHT, each 16 to 8192 (got %s)\n",
                 sizeText.c_str());
    return 2;
  }
  QApplication app(argc, argv);
  Scene scene;
  if (!buildGallery(name, scene, *size)) {
    std::fprintf(stderr, "unknown gallery '%s'\n", name.c_str());
    return 2;
  }
  RenderView view(scene);
  view.setWindowTitle("Tallyloft");
  view.resize(*size);
  view.show();
  // For unattended checks: save a snapshot and quit after this many milliseconds.
  if (const char* after = std::getenv("TALLYLOFT_SNAPSHOT_AFTER_MS")) {
    QTimer::singleShot(std::atoi(after), &app, [&] {
      const char* out = std::getenv("TALLYLOFT_SNAPSHOT_OUT");
      if (out != nullptr) view.snapshot().save(out);
      app.quit();
    });
  }
  return app.exec();
}

}  // namespace tallyloft
