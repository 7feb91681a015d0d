#pragma once
// The engine functions published to Lua.

#include <string>
#include <vector>

namespace ScriptFunctions {

// The Lua names of the published engine functions, in publishing order.
const std::vector<std::string>& PublishedNames();

}  // namespace ScriptFunctions
