// The address the servers are reached at when the owner gives none: the one every link the
// servers build to themselves carries.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/network.h"

namespace app {

// The message shown when the machine has no address the world could reach it by.
inline constexpr const char* kNoNetworkMessage = "Restart Vantry After Connecting To The Internet.";

// The host name's address when a visitor could reach it, else the first address of an
// interface that is up and not loopback; std::nullopt when there is none. A loopback address
// (127.0.0.0/8) reaches only this machine, and many systems map the host name to one.
std::optional<uint32_t> ChooseHostAddress(
    std::optional<uint32_t> hostNameAddress,
    const std::vector<platform::InterfaceAddress>& interfaces);

// ChooseHostAddress over this machine's host name and interfaces, as "a.b.c.d".
std::optional<std::string> FindHostAddress();

// The names a certificate for this machine's servers covers: `extra` first, then the host
// name, "localhost", 127.0.0.1, ::1 and the advertised address when there is one; each once.
std::vector<std::string> CertificateNames(const std::vector<std::string>& extra = {});

}  // namespace app
