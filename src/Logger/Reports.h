#pragma once
// The logger's output formats. File reports write Windows-1251 bytes.

#include <fstream>
#include <string>
#include <string_view>

#include "Logger/Logger.h"

namespace logger {

class FileFormerReport : public IFormerReport {
public:
    void Close() override;
    bool IsOpen() const { return stream_.is_open(); }
    const std::wstring& FilePath() const { return path_; }

protected:
    // Opens path for writing (truncating); false when it can't be opened.
    bool OpenFile(const std::wstring& path);
    // Starts a new file when "Limit" is set and the file has grown beyond it.
    void CheckLimit();
    void Put(std::wstring_view text);
    void Put(std::string_view ascii) { stream_.write(ascii.data(), static_cast<std::streamsize>(ascii.size())); }
    void PutNumber(long long value);
    void Flush() { stream_.flush(); }

    std::ofstream stream_;
    std::wstring path_;
};

class TextReport : public FileFormerReport {
public:
    void Write(int type, std::string_view level, int line, std::string_view path,
               std::wstring_view text, std::string_view signature) override;
    void Open(const std::wstring& base) override;
};

class HTMLReport : public FileFormerReport {
public:
    void Write(int type, std::string_view level, int line, std::string_view path,
               std::wstring_view text, std::string_view signature) override;
    void Open(const std::wstring& base) override;

private:
    std::streamoff trailer_ = 0;
};

class TestReport : public FileFormerReport {
public:
    explicit TestReport(std::wstring fileName) : fileName_(std::move(fileName)) {}
    void Write(int type, std::string_view level, int line, std::string_view path,
               std::wstring_view text, std::string_view signature) override;
    void Open(const std::wstring& base) override;
    const std::wstring& MarkerPath() const { return marker_; }

private:
    std::wstring fileName_;
    std::wstring marker_;
};

class ConsoleReport : public IFormerReport {
public:
    void Write(int type, std::string_view level, int line, std::string_view path,
               std::wstring_view text, std::string_view signature) override;
    void Open(const std::wstring& base) override;
    void Close() override {}
};

// The debugger output of the original platform: standard error here.
class OutputVSReport : public IFormerReport {
public:
    void Write(int type, std::string_view level, int line, std::string_view path,
               std::wstring_view text, std::string_view signature) override;
    void Open(const std::wstring& base) override;
    void Close() override {}
    // The line Write sends, without the final line break.
    static std::wstring FormatLine(std::string_view level, int line, std::string_view path,
                                   std::wstring_view text);
};

class MockReport : public IFormerReport {
public:
    explicit MockReport(std::wstring& target) : target_(target) {}
    void Write(int type, std::string_view level, int line, std::string_view path,
               std::wstring_view text, std::string_view signature) override;
    void Open(const std::wstring& base) override;
    void Close() override {}

private:
    std::wstring& target_;
};

}  // namespace logger
