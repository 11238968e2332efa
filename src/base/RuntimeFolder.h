#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <variant>

namespace tallyloft {

// The user's home directory: $HOME, or the password database's entry when HOME is unset or
// empty.
std::filesystem::path homeDirectory();

// The folder only this user may enter that holds the app's sockets and its lock:
// $XDG_RUNTIME_DIR/tallyloft, or ~/.cache/tallyloft-runtime when XDG_RUNTIME_DIR is unset or not
// absolute. The app, `serve`, `status` and the hook installer all ask here, so they agree.
std::filesystem::path runtimeFolder();
// The socket the hooks post to, and the one `tallyloft status` asks.
std::filesystem::path hookSocketPath();
std::filesystem::path statusSocketPath();

// Makes `folder` when it is missing (mode 0700), then checks it without following a link: a
// real folder, owned by this user, that nobody else may enter. Otherwise one line that says why.
std::optional<std::string> prepareRuntimeFolder(const std::filesystem::path& folder);

// Whether `path` fits a Unix socket address (sun_path holds 107 bytes and the terminator).
bool fitsSocketAddress(const std::filesystem::path& path);
// A blocking connection to the Unix stream socket at `path`, or -1 with errno set. The caller
// closes it.
int connectUnixSocket(const std::filesystem::path& path);

// Whether the process at the other end of a connected Unix socket runs as this user
// (SO_PEERCRED).
bool peerIsThisUser(int fd);

// Listens on a Unix stream socket at `path`, which must lie in a folder prepareRuntimeFolder()
// accepts (it is made when missing). A socket of ours that nothing answers on is left over from
// an earlier run and replaced; a live one, or anything else at that name (a link, a file, another
// user's socket) is refused. The socket's file is mode 0600 from the start: only this user may
// connect.
// Returns the listening descriptor (non-blocking, close-on-exec) or one line that says why not.
std::variant<int, std::string> listenUnixSocket(const std::filesystem::path& path, int backlog);

}  // namespace tallyloft
