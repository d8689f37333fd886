// Facts about the running program and its machine: where it lives and where it runs, its host
// name and address, environment lookups.
#pragma once

#include <optional>
#include <string>

namespace platform {

// The full path of the running executable; empty when it cannot be had.
std::string ExecutablePath();

// The directory of the running executable, ending in "/".
std::string ProgramDirectory();

// `path` with every link, "." and ".." resolved; std::nullopt when it leads nowhere.
std::optional<std::string> RealPath(const std::string& path);

// The user's home directory: `$HOME`, else the password database's entry for this user;
// empty when neither gives one.
std::string HomeDirectory();

// The user's configuration and data directories: `$XDG_CONFIG_HOME` (else `~/.config`) and
// `$XDG_DATA_HOME` (else `~/.local/share`). An empty or relative variable counts as unset.
std::string ConfigHomeDirectory();
std::string DataHomeDirectory();

// The process's working directory, ending in "/"; "./" when it cannot be had.
std::string WorkingDirectory();

// The machine's host name, or an empty text when it cannot be had.
std::string HostName();

// The first IPv4 address `name` resolves to, as "%d.%d.%d.%d"; std::nullopt when it does not
// resolve.
std::optional<std::string> ResolveIpv4(const std::string& name);

// An environment variable; std::nullopt when unset (an empty value counts as set).
std::optional<std::string> GetEnv(const char* name);

// `$XDG_RUNTIME_DIR` when set and not empty, else the system's temporary directory; no
// trailing "/".
std::string RuntimeDirectory();

// True when both standard input and standard output are terminals.
bool HasTerminal();

// Raises this process's soft limit of open descriptors to its hard limit: every client, file
// and script pipe takes one.
void RaiseDescriptorLimit();

}  // namespace platform
