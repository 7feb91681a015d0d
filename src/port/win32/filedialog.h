// The framework's open/save file dialog, shown through zenity or kdialog when
// one of them is installed. Without either (or in headless runs) the dialog
// behaves as cancelled.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "port/win32/afxwin.h"

#define OFN_READONLY 0x00000001
#define OFN_OVERWRITEPROMPT 0x00000002
#define OFN_HIDEREADONLY 0x00000004
#define OFN_NOCHANGEDIR 0x00000008
#define OFN_ALLOWMULTISELECT 0x00000200
#define OFN_PATHMUSTEXIST 0x00000800
#define OFN_FILEMUSTEXIST 0x00001000

class CFileDialog {
public:
    CFileDialog(BOOL openFileDialog, LPCWSTR defaultExtension = nullptr, LPCWSTR fileName = nullptr,
                DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, LPCWSTR filter = nullptr,
                CWnd* parent = nullptr);
    virtual ~CFileDialog() = default;

    // IDOK with a chosen path, IDCANCEL otherwise.
    virtual INT_PTR DoModal();
    std::wstring GetPathName() const { return m_path; }
    std::wstring GetFileName() const;

private:
    bool m_open;
    std::wstring m_defaultExtension;
    std::wstring m_fileName;
    DWORD m_flags;
    std::wstring m_filter;
    std::wstring m_path;
};

// One filter entry: its text and its patterns ("*.txt;*.log" gives two).
struct PortFileFilter {
    std::wstring text;
    std::vector<std::wstring> patterns;
};
// Splits the framework's "text|pattern|text|pattern|" form; an entry without
// a pattern is dropped.
std::vector<PortFileFilter> PortParseFileFilter(const std::wstring& filter);
// The argument list that runs the given tool ("zenity" or "kdialog") for the dialog.
std::vector<std::string> PortFileDialogArguments(const std::string& tool, bool open, const std::wstring& fileName,
                                                 const std::vector<PortFileFilter>& filters, bool overwritePrompt);
