// The shape of every operation that the window runs on its worker thread: the worker's own copy
// of the state, the slot of the one tunnel engine, and the message the window shows at the end.
#pragma once

#include <memory>
#include <string>

#include "settings/client_state.h"

namespace ostrevane {

class TunnelEngine;

using EngineSlot = std::unique_ptr<TunnelEngine>*;
using WorkerOperation = void (*)(ClientState& snapshot, EngineSlot engine, std::wstring& message);

// The engine held by the slot, or null when there is none.
inline TunnelEngine* EngineIn(EngineSlot slot) { return slot != nullptr ? slot->get() : nullptr; }

}  // namespace ostrevane
