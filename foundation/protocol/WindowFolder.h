#pragma once
// The folder where the windows of the protocol live as sockets, one per registered window.
//   $XDG_RUNTIME_DIR/quilmer-windows/   when XDG_RUNTIME_DIR is an absolute folder of this user,
//                                       reachable by nobody else, and short enough for socket paths
//   /tmp/quilmer-windows-<uid>/         otherwise
// The folder is created with mode 0700. One that belongs to another user, or is not a real
// folder (a symbolic link, a file), is refused: nothing is registered or found then.

#include <string>

namespace quilmer {

// The folder (native path, no trailing '/'), created and checked; empty on failure with the
// reason in error.
std::string WindowFolder(std::string* error = nullptr);

// The longest socket path a folder may lead to (sun_path less its terminator).
constexpr std::size_t kMaxSocketPath = 107;

}  // namespace quilmer
