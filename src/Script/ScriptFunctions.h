#pragma once
// The engine functions published to Lua, and the hooks through which the
// object model runs script files and per-frame functions.

#include <string>
#include <vector>

namespace ScriptFunctions {

// Points the object model's script hooks at the Lua host (done during static
// initialisation; again by whoever cleared them). False without a Lua state.
bool InstallHooks();

// The Lua names of the published engine functions, in publishing order.
const std::vector<std::string>& PublishedNames();

}  // namespace ScriptFunctions
