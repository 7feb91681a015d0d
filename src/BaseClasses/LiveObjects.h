#pragma once
// Walks every engine object alive right now, for resources that must be
// forgotten by whoever points at them before they go.

#include <functional>

class C_BaseObject;

void ForEachLiveObject(const std::function<void(C_BaseObject*)>& visit);
