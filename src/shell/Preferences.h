#pragma once

#include <QSettings>
#include <QString>
#include <optional>

#include "app/Preferences.h"

namespace tallyloft {

// The app's preferences in QSettings (organisation and application "Tallyloft"). Main-thread only.
class Preferences {
 public:
  Preferences() : settings_("Tallyloft", "Tallyloft") {}

  bool didCompleteOnboarding() const {
    return settings_.value(key(preferences::kDidCompleteOnboarding), false).toBool();
  }
  void setDidCompleteOnboarding(bool done) {
    settings_.setValue(key(preferences::kDidCompleteOnboarding), done);
    settings_.sync();
  }
  bool notifyWhenWaiting() const {
    return settings_.value(key(preferences::kNotifyWhenWaiting), false).toBool();
  }
  void setNotifyWhenWaiting(bool on) {
    settings_.setValue(key(preferences::kNotifyWhenWaiting), on);
    settings_.sync();
  }
  bool hideWhenIdle() const {
    return settings_.value(key(preferences::kHideWhenIdle), false).toBool();
  }
  void setHideWhenIdle(bool on) {
    settings_.setValue(key(preferences::kHideWhenIdle), on);
    settings_.sync();
  }
  bool playSoundWhenWaiting() const {
    return settings_.value(key(preferences::kPlaySoundWhenWaiting), false).toBool();
  }
  void setPlaySoundWhenWaiting(bool on) {
    settings_.setValue(key(preferences::kPlaySoundWhenWaiting), on);
    settings_.sync();
  }
  bool hideOverFullScreen() const {
    return settings_.value(key(preferences::kHideOverFullScreen), true).toBool();
  }
  void setHideOverFullScreen(bool on) {
    settings_.setValue(key(preferences::kHideOverFullScreen), on);
    settings_.sync();
  }
  bool acceptHooksOnPort() const {
    return settings_.value(key(preferences::kAcceptHooksOnPort), false).toBool();
  }
  void setAcceptHooksOnPort(bool on) {
    settings_.setValue(key(preferences::kAcceptHooksOnPort), on);
    settings_.sync();
  }
  std::optional<QString> barFloatingFrame() const {
    const QVariant value = settings_.value(key(preferences::kBarFloatingFrame));
    if (!value.isValid()) return std::nullopt;
    return value.toString();
  }
  void setBarFloatingFrame(const QString& frame) {
    settings_.setValue(key(preferences::kBarFloatingFrame), frame);
  }
  // The frame kept for one arrangement of screens (see screenLayoutKey), if any.
  std::optional<QString> barFrameFor(const QString& layout) const {
    const QVariant value = settings_.value(framesKey(layout));
    if (!value.isValid()) return std::nullopt;
    return value.toString();
  }
  void setBarFrameFor(const QString& layout, const QString& frame) {
    settings_.setValue(framesKey(layout), frame);
  }

 private:
  static QString framesKey(const QString& layout) {
    // QSettings keys may not hold slashes or backslashes.
    QString safe = layout;
    safe.replace('/', '_').replace('\\', '_');
    return key(preferences::kBarFramesByScreens) + "/" + safe;
  }
  static QString key(std::string_view name) {
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
  }
  QSettings settings_;
};

}  // namespace tallyloft
