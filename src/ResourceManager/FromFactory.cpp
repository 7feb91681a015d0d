#include "ResourceManager/FromFactory.h"

namespace {

// Created on first use: registration runs during static initialisation, in
// whatever order the translation units come.
std::map<std::wstring, CreateObjectFunction>& Registry()
{
    static std::map<std::wstring, CreateObjectFunction> registry;
    return registry;
}

} // namespace

C_FromFactory::C_FromFactory(const wchar_t* className)
    : m_ClassName(className ? className : L"")
{
}

C_BaseObject* C_FromFactory::Create() const
{
    if (m_ClassName.empty()) return nullptr;
    const auto& registry = Registry();
    const auto found = registry.find(m_ClassName);
    if (found == registry.end() || !found->second) return nullptr;
    return found->second();
}

void C_FromFactory::Register(const wchar_t* className, CreateObjectFunction create)
{
    if (!className || !*className || !create) return;
    Registry().emplace(className, create);   // the first registration wins
}

bool C_FromFactory::IsRegistered(const std::wstring& className)
{
    return Registry().count(className) != 0;
}

std::vector<std::wstring> C_FromFactory::RegisteredNames()
{
    std::vector<std::wstring> names;
    names.reserve(Registry().size());
    for (const auto& entry : Registry()) names.push_back(entry.first);
    return names;
}
