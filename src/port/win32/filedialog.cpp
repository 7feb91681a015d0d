#include "port/win32/filedialog.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "port/win32/portlog.h"
#include "port/win32/runoptions.h"
#include "port/win32/strings.h"

namespace {

std::string FindTool(const char* name) {
    const char* path = std::getenv("PATH");
    if (!path) return {};
    std::string all(path);
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find(':', start);
        if (end == std::string::npos) end = all.size();
        std::string dir = all.substr(start, end - start);
        if (!dir.empty()) {
            std::string candidate = dir + "/" + name;
            if (access(candidate.c_str(), X_OK) == 0) return candidate;
        }
        start = end + 1;
    }
    return {};
}

// Runs the program without a shell and returns its standard output; the exit
// status goes to 'status'.
bool RunCapture(const std::string& program, const std::vector<std::string>& args, std::string& output, int& status) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(fds[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof(buffer))) > 0) output.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int raw = 0;
    while (waitpid(pid, &raw, 0) < 0) {
    }
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return true;
}

}  // namespace

std::vector<PortFileFilter> PortParseFileFilter(const std::wstring& filter) {
    std::vector<std::wstring> parts;
    std::wstring current;
    for (wchar_t c : filter) {
        if (c == L'|') {
            parts.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) parts.push_back(current);
    std::vector<PortFileFilter> result;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        PortFileFilter entry;
        entry.text = parts[i];
        std::wstring pattern;
        for (wchar_t c : parts[i + 1] + L";") {
            if (c == L';') {
                size_t b = pattern.find_first_not_of(L' ');
                size_t e = pattern.find_last_not_of(L' ');
                if (b != std::wstring::npos) entry.patterns.push_back(pattern.substr(b, e - b + 1));
                pattern.clear();
            } else {
                pattern += c;
            }
        }
        if (!entry.patterns.empty()) result.push_back(entry);
    }
    return result;
}

std::vector<std::string> PortFileDialogArguments(const std::string& tool, bool open, const std::wstring& fileName,
                                                 const std::vector<PortFileFilter>& filters, bool overwritePrompt) {
    std::vector<std::string> args;
    if (tool == "zenity") {
        args.push_back("--file-selection");
        if (!open) {
            args.push_back("--save");
            if (overwritePrompt) args.push_back("--confirm-overwrite");
        }
        if (!fileName.empty()) {
            std::string arg("--filename=");
            arg += PortToUtf8(fileName);
            args.push_back(arg);
        }
        for (const PortFileFilter& f : filters) {
            std::string line("--file-filter=");
            line += PortToUtf8(f.text);
            line += " |";
            for (const std::wstring& p : f.patterns) {
                line += ' ';
                line += PortToUtf8(p);
            }
            args.push_back(line);
        }
    } else {
        args.push_back(open ? "--getopenfilename" : "--getsavefilename");
        args.push_back(fileName.empty() ? std::string(".") : PortToUtf8(fileName));
        std::string all;
        for (const PortFileFilter& f : filters) {
            if (!all.empty()) all += "\n";
            std::string patterns;
            for (const std::wstring& p : f.patterns) {
                if (!patterns.empty()) patterns += ' ';
                patterns += PortToUtf8(p);
            }
            all += patterns;
            all += '|';
            all += PortToUtf8(f.text);
        }
        if (!all.empty()) args.push_back(all);
    }
    return args;
}

CFileDialog::CFileDialog(BOOL openFileDialog, LPCWSTR defaultExtension, LPCWSTR fileName, DWORD flags,
                         LPCWSTR filter, CWnd*)
    : m_open(openFileDialog != FALSE),
      m_defaultExtension(defaultExtension ? defaultExtension : L""),
      m_fileName(fileName ? fileName : L""),
      m_flags(flags),
      m_filter(filter ? filter : L"") {}

std::wstring CFileDialog::GetFileName() const {
    size_t slash = m_path.find_last_of(L'/');
    return slash == std::wstring::npos ? m_path : m_path.substr(slash + 1);
}

INT_PTR CFileDialog::DoModal() {
    m_path.clear();
    if (PortIsHeadless()) {
        PortLog(PortLogLevel::Info, "file dialog not shown in a headless run");
        return IDCANCEL;
    }
    std::string tool = "zenity";
    std::string program = FindTool("zenity");
    if (program.empty()) {
        tool = "kdialog";
        program = FindTool("kdialog");
    }
    if (program.empty()) {
        PortLog(PortLogLevel::Warning, "no file dialog available (install zenity or kdialog)");
        return IDCANCEL;
    }
    std::string output;
    int status = -1;
    auto args = PortFileDialogArguments(tool, m_open, m_fileName, PortParseFileFilter(m_filter),
                                        (m_flags & OFN_OVERWRITEPROMPT) != 0);
    if (!RunCapture(program, args, output, status) || status != 0) return IDCANCEL;
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
    if (output.empty()) return IDCANCEL;
    m_path = PortFromUtf8(output);
    if (!m_open && !m_defaultExtension.empty() && GetFileName().find(L'.') == std::wstring::npos)
        m_path += L"." + m_defaultExtension;
    return IDOK;
}
