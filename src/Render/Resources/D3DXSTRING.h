#pragma once
// The table of named texts ("text.ini" plus entries added at run time) and
// the resource that makes one entry available by its descriptor.

#include <functional>
#include <string>
#include <vector>

#include "BaseClasses/BaseResource.h"
#include "ResourceManager/FromFactory.h"
#include "ResourceManager/VectorSort.h"

class C_D3DXSTRING : public C_BaseResource {
    TW_POOLED_CLASS(C_D3DXSTRING)

public:
    // One entry: descriptor and string.
    class C_DescriptorString {
    public:
        C_DescriptorString(std::wstring descriptor, std::wstring string)
            : Descriptor(std::move(descriptor)), String(std::move(string)) {}
        virtual ~C_DescriptorString() = default;

        // Key of an entry in the table.
        static const std::wstring& GetDescriptor(C_DescriptorString* const& entry)
        {
            return entry->Descriptor;
        }
        // Splitting of a line (CR, LF and tabs already removed): the text
        // before the first '=' without trailing blanks, and the text after it
        // without leading blanks. A line without '=' gives empty results
        // (AddLine warns about it).
        static std::wstring GetDescriptor(const std::wstring& line);
        static std::wstring GetString(const std::wstring& line);

        std::wstring Descriptor;
        std::wstring String;
    };

    using DescriptorKey = const std::wstring& (*)(C_DescriptorString* const&);

    // The process-wide table; owns its entries. The first use loads text.ini
    // from the program folder and mounts the storages it names.
    class C_AllStrings
        : public C_VectorSort<C_DescriptorString*, std::wstring,
                              static_cast<DescriptorKey>(&C_DescriptorString::GetDescriptor), 100> {
    public:
        C_AllStrings() = default;
        C_AllStrings(const C_AllStrings&) = delete;
        C_AllStrings& operator=(const C_AllStrings&) = delete;
        ~C_AllStrings() override;

        static C_AllStrings& Instance();

        // Strips CR, LF and tabs, splits at the first '=' and inserts the
        // entry unless its descriptor is present already (the first
        // definition stays).
        void AddLine(const std::wstring& line);
        // The same, but a descriptor that is present gets the new string:
        // for texts that an object computes from its own values each time
        // it loads.
        void SetLine(const std::wstring& line);

        // The string of a descriptor, or empty.
        std::wstring Lookup(const std::wstring& descriptor);

        // While one of these lives, added lines wait in order and join the
        // table in one step (a stable sort and one merge) when the last one
        // ends or at the next lookup, with the same result as adding them
        // one by one: the first definition of a descriptor stays. Nests.
        class C_Batch {
        public:
            explicit C_Batch(C_AllStrings& table) : m_Table(table) { ++m_Table.m_BatchDepth; }
            ~C_Batch()
            {
                if (--m_Table.m_BatchDepth == 0) m_Table.MergePending();
            }
            C_Batch(const C_Batch&) = delete;
            C_Batch& operator=(const C_Batch&) = delete;

        private:
            C_AllStrings& m_Table;
        };
        // Adds the waiting lines to the table.
        void MergePending();

        // Reads "text.ini" of `folder`; then hands Storage0, Storage1, ...
        // (up to the first missing number) to `mount`.
        using MountFunction = std::function<void(const std::wstring& storage)>;
        void LoadTextIni(const std::wstring& folder, const MountFunction& mount);

        // Mounts through the file manager, logging a storage that fails.
        static void MountStorage(const std::wstring& storage);

    private:
        int m_BatchDepth = 0;
        std::vector<C_DescriptorString*> m_Pending;
    };

    C_D3DXSTRING();
    ~C_D3DXSTRING() override;
    void Unload() override;

    // The entry's string for this resource's name, looked up once and cached
    // until Unload.
    const std::wstring& GetText();

private:
    std::wstring m_Cached;
};
