// The two operations before a session exists: resolving the access key to the site device and
// its shared networks, and the connect command (authorization, proxy bypass, tunnel start).
#pragma once

#include <string>

#include "control/worker_operation.h"

namespace ostrevane {

// The get-networks command: learns the device's number, name and shared networks and saves them.
void ResolveDevice(ClientState& snapshot, EngineSlot engine, std::wstring& message);

// Asks for a connection authorization for the target network. A refusal stores its code in
// heartbeatMessage (the window's retry rule); a grant stores the session fields and adds the
// proxy bypass. Throws when a grant lacks connectionId, assignedAddress or routes.
std::wstring RequestConnectionAuthorization(ClientState& state);

// The connect command: ends any earlier session, requests the authorization and starts the tunnel.
void ConnectOperation(ClientState& snapshot, EngineSlot engine, std::wstring& message);

}  // namespace ostrevane
