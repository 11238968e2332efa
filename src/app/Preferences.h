#pragma once

#include <optional>
#include <string_view>

namespace tallyloft {

// The application's own preference keys, all of them. The shell stores them with QSettings
// (organisation and application "Tallyloft").
namespace preferences {
// bool, default false: set when the onboarding window closes.
inline constexpr std::string_view kDidCompleteOnboarding = "didCompleteOnboarding";
// string "{{x, y}, {w, h}}", absent by default: the office panel's floating frame.
inline constexpr std::string_view kBarFloatingFrame = "barFloatingFrame";
// The same, once per arrangement of screens (a group of keys named after the screens' names and
// geometries): the frame comes back when that arrangement does.
inline constexpr std::string_view kBarFramesByScreens = "barFramesByScreens";
// bool, default false: desktop notifications when an agent starts waiting.
inline constexpr std::string_view kNotifyWhenWaiting = "notifyWhenWaiting";
// bool, default false: the office panel hides itself while no session is open.
inline constexpr std::string_view kHideWhenIdle = "hideWhenIdle";
// bool, default false: hooks are also taken on TCP port 51789 (under the secret), for agents in
// containers and VMs.
inline constexpr std::string_view kAcceptHooksOnPort = "acceptHooksOnPort";
// bool, default true: the office panel hides while a full-screen window is active on its screen.
inline constexpr std::string_view kHideOverFullScreen = "hideOverFullScreen";
// bool, default false: a sound (the desktop's event sound) when an agent starts waiting.
inline constexpr std::string_view kPlaySoundWhenWaiting = "playSoundWhenWaiting";
// string "bottom" or "top", default "bottom": never written by the app.
inline constexpr std::string_view kBarEdge = "barEdge";
}  // namespace preferences

// Which screen edge the office panel sits at.
enum class BarEdge { bottom, top };

// "top" is the top edge; anything else, or nothing, is the bottom.
inline BarEdge barEdgeFrom(const std::optional<std::string_view>& stored) {
  return stored == "top" ? BarEdge::top : BarEdge::bottom;
}

}  // namespace tallyloft
