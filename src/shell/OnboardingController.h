#pragma once

#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <memory>

#include "shell/Preferences.h"

namespace tallyloft {

// The first-run window's content: what Tallyloft is, the one-click install, and "Get started".
class OnboardingView : public QWidget {
 public:
  OnboardingView(std::function<void()> onInstalled, std::function<void()> onDone);

  bool installed() const { return installed_; }
  QLabel* statusLine() const { return status_; }
  QPushButton* installButton() const { return install_; }
  QPushButton* doneButton() const { return done_; }
  void install();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void refresh();

  std::function<void()> onInstalled_;
  std::function<void()> onDone_;
  bool installed_;
  bool failed_ = false;
  QWidget* before_ = nullptr;
  QWidget* after_ = nullptr;
  QLabel* status_ = nullptr;
  QPushButton* install_ = nullptr;
  QPushButton* done_ = nullptr;

 public:
  std::function<void()> onClose;
};

// Owns the first-run window: made on the first `show()` and kept (not recentred) afterwards.
// However it closes, "didCompleteOnboarding" is recorded.
class OnboardingController {
 public:
  explicit OnboardingController(Preferences& preferences) : preferences_(preferences) {}
  void show();
  OnboardingView* window() const { return window_.get(); }
  // Called after a successful install from the window.
  std::function<void()> onInstalled;

 private:
  Preferences& preferences_;
  std::unique_ptr<OnboardingView> window_;
};

}  // namespace tallyloft
