#include "shell/X11Windows.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace tallyloft {
namespace {

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> own(T* reply) {
  return Reply<T>(reply, &std::free);
}

// Field 4 of /proc/PID/stat.
std::optional<std::int64_t> parentOf(std::int64_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  const std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos || close + 4 >= stat.size()) return std::nullopt;
  const std::size_t start = stat.find(' ', close + 2);
  if (start == std::string::npos) return std::nullopt;
  try {
    return std::stoll(stat.substr(start + 1));
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace

X11Windows::X11Windows() {
  if (auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                                     : nullptr) {
    connection_ = x11->connection();
  }
}

X11Windows::X11Windows(xcb_connection_t* connection) : connection_(connection) {}

X11Windows::Window X11Windows::root() const {
  return xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
}

std::uint32_t X11Windows::atom(const char* name) const {
  auto reply = own(xcb_intern_atom_reply(
      connection_,
      xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
      nullptr));
  return reply ? reply->atom : std::uint32_t{XCB_ATOM_NONE};
}

std::optional<std::uint32_t> X11Windows::cardinal(Window window, std::uint32_t property,
                                                  std::uint32_t type) const {
  auto reply = own(xcb_get_property_reply(
      connection_, xcb_get_property(connection_, 0, window, property, type, 0, 1), nullptr));
  if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4) {
    return std::nullopt;
  }
  return *static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
}

std::vector<X11Windows::Window> X11Windows::clients() const {
  std::vector<Window> windows;
  if (!available()) return windows;
  auto reply = own(xcb_get_property_reply(
      connection_,
      xcb_get_property(connection_, 0, root(), atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 0, 4096),
      nullptr));
  if (!reply || reply->format != 32) return windows;
  const auto* ids = static_cast<const Window*>(xcb_get_property_value(reply.get()));
  windows.assign(ids, ids + xcb_get_property_value_length(reply.get()) / 4);
  return windows;
}

std::optional<X11Windows::Window> X11Windows::clientHolding(Window window) const {
  if (!available() || window == 0) return std::nullopt;
  const std::vector<Window> managed = clients();
  const Window top = root();
  for (int depth = 0; depth < 32 && window != 0 && window != top; ++depth) {
    if (std::find(managed.begin(), managed.end(), window) != managed.end()) return window;
    auto tree =
        own(xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr));
    if (!tree) return std::nullopt;  // no such window on this display
    window = tree->parent;
  }
  return std::nullopt;
}

std::optional<X11Windows::Window> X11Windows::clientOfProcesses(
    const std::vector<std::int64_t>& pids) const {
  if (!available() || pids.empty()) return std::nullopt;
  const std::uint32_t wmPid = atom("_NET_WM_PID");
  std::vector<std::pair<std::int64_t, Window>> owners;
  for (Window window : clients()) {
    if (auto pid = cardinal(window, wmPid, XCB_ATOM_CARDINAL)) owners.emplace_back(*pid, window);
  }
  for (std::int64_t pid : pids) {
    for (const auto& [owner, window] : owners) {
      if (owner == pid) return window;
    }
  }
  return std::nullopt;
}

std::optional<X11Windows::Window> X11Windows::activeWindow() const {
  if (!available()) return std::nullopt;
  const auto active = cardinal(root(), atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
  if (!active || *active == 0) return std::nullopt;
  return active;
}

void X11Windows::activate(Window window) const {
  if (!available()) return;
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = window;
  message.type = atom("_NET_ACTIVE_WINDOW");
  message.data.data32[0] = 2;  // from a pager: the user asked for it
  message.data.data32[1] = XCB_CURRENT_TIME;
  xcb_send_event(connection_, 0, root(),
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&message));
  const std::uint32_t above = XCB_STACK_MODE_ABOVE;
  xcb_configure_window(connection_, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
  xcb_flush(connection_);
}

void X11Windows::setOnEveryWorkspace(Window window) const {
  if (!available() || window == 0) return;
  const std::uint32_t everywhere = 0xFFFFFFFF;
  xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_DESKTOP"),
                      XCB_ATOM_CARDINAL, 32, 1, &everywhere);
  const std::uint32_t property = atom("_NET_WM_STATE");
  std::vector<std::uint32_t> wanted;
  auto reply = own(xcb_get_property_reply(
      connection_, xcb_get_property(connection_, 0, window, property, XCB_ATOM_ATOM, 0, 64),
      nullptr));
  if (reply && reply->format == 32) {
    const auto* atoms = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    wanted.assign(atoms, atoms + xcb_get_property_value_length(reply.get()) / 4);
  }
  for (const char* name :
       {"_NET_WM_STATE_STICKY", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}) {
    const std::uint32_t each = atom(name);
    if (std::find(wanted.begin(), wanted.end(), each) == wanted.end()) wanted.push_back(each);
  }
  xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, property, XCB_ATOM_ATOM, 32,
                      static_cast<std::uint32_t>(wanted.size()), wanted.data());
  xcb_flush(connection_);
}

void X11Windows::requestOnEveryWorkspace(Window window) const {
  if (!available() || window == 0) return;
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = window;
  message.type = atom("_NET_WM_DESKTOP");
  message.data.data32[0] = 0xFFFFFFFF;
  message.data.data32[1] = 2;  // from a pager: the user's wish
  xcb_send_event(connection_, 0, root(),
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&message));
  xcb_flush(connection_);
}

void X11Windows::setStartupId(Window window, const std::string& token) const {
  if (!available() || window == 0 || token.empty()) return;
  xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, atom("_NET_STARTUP_ID"),
                      atom("UTF8_STRING"), 8, static_cast<std::uint32_t>(token.size()),
                      token.data());
  xcb_flush(connection_);
}

std::vector<std::uint32_t> X11Windows::stateAtoms(Window window) const {
  std::vector<std::uint32_t> found;
  if (!available()) return found;
  auto reply = own(xcb_get_property_reply(
      connection_,
      xcb_get_property(connection_, 0, window, atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 0, 64),
      nullptr));
  if (!reply || reply->format != 32) return found;
  const auto* atoms = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
  found.assign(atoms, atoms + xcb_get_property_value_length(reply.get()) / 4);
  return found;
}

std::vector<std::string> X11Windows::states(Window window) const {
  std::vector<std::string> names;
  for (const std::uint32_t each : stateAtoms(window)) {
    auto name =
        own(xcb_get_atom_name_reply(connection_, xcb_get_atom_name(connection_, each), nullptr));
    if (name) {
      names.emplace_back(xcb_get_atom_name_name(name.get()),
                         static_cast<std::size_t>(xcb_get_atom_name_name_length(name.get())));
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool X11Windows::fullScreen(Window window) const {
  const std::vector<std::uint32_t> atoms = stateAtoms(window);
  return !atoms.empty() &&
         std::find(atoms.begin(), atoms.end(), atom("_NET_WM_STATE_FULLSCREEN")) != atoms.end();
}

std::optional<std::array<int, 4>> X11Windows::frame(Window window) const {
  if (!available()) return std::nullopt;
  auto geometry =
      own(xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr));
  if (!geometry) return std::nullopt;
  auto placed = own(xcb_translate_coordinates_reply(
      connection_, xcb_translate_coordinates(connection_, window, root(), 0, 0), nullptr));
  if (!placed) return std::nullopt;
  return std::array<int, 4>{placed->dst_x, placed->dst_y, geometry->width, geometry->height};
}

void X11Windows::followProperties(Window window) const {
  if (!available()) return;
  auto attributes = own(xcb_get_window_attributes_reply(
      connection_, xcb_get_window_attributes(connection_, window), nullptr));
  if (!attributes) return;
  const std::uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_PROPERTY_CHANGE;
  if (mask == attributes->your_event_mask) return;
  xcb_change_window_attributes(connection_, window, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(connection_);
}

std::optional<std::uint32_t> X11Windows::desktop(Window window) const {
  if (!available()) return std::nullopt;
  return cardinal(window, atom("_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL);
}

bool X11Windows::canConnect() {
  xcb_connection_t* probe = xcb_connect(nullptr, nullptr);
  const bool ok = probe != nullptr && xcb_connection_has_error(probe) == 0;
  if (probe != nullptr) xcb_disconnect(probe);
  return ok;
}

std::vector<std::int64_t> X11Windows::processAndAncestors(std::int64_t pid) {
  std::vector<std::int64_t> chain;
  while (pid > 1 && chain.size() < 64) {
    chain.push_back(pid);
    const auto parent = parentOf(pid);
    if (!parent || *parent == pid) break;
    pid = *parent;
  }
  return chain;
}

}  // namespace tallyloft
