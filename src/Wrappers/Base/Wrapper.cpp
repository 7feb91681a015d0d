#include "Wrappers/Base/Wrapper.h"

#include <stdexcept>

namespace VORTALEX::wrappers {

std::map<std::wstring, ImplementationFactory, std::less<>>& WrapperRegistry::Map() {
    static std::map<std::wstring, ImplementationFactory, std::less<>> map;
    return map;
}

bool WrapperRegistry::Register(std::wstring_view name, ImplementationFactory factory) {
    if (!factory) return false;
    return Map().emplace(std::wstring(name), factory).second;
}

IBaseInterface* WrapperRegistry::Create(std::wstring_view name) {
    auto& map = Map();
    auto it = map.find(name);
    if (it == map.end()) return nullptr;
    return it->second();
}

bool WrapperRegistry::IsRegistered(std::wstring_view name) { return Map().count(name) != 0; }

Wrapper::Wrapper(std::wstring_view implementationName)
    : implementation_(WrapperRegistry::Create(implementationName)) {
    if (!implementation_) throw std::runtime_error("Wrapper: выбранная библиотека недоступна.");
}

Wrapper::~Wrapper() {
    if (implementation_) implementation_->Release();
}

}  // namespace VORTALEX::wrappers
