#include "Logger/Reports.h"

#include <cstdio>
#include <stdexcept>

#include "Common/CodePage.h"
#include "Common/FilePath.h"

namespace logger {
namespace {

std::string_view ShortPath(std::string_view path) {
    const std::size_t cut = path.find_last_of("\\/");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

const char* RowColour(int type) {
    switch (type) {
        case Fatal: return "#FF0000";
        case Error: return "#FFC0C0";
        case Warning: return "#FFFFC0";
        case Info: return "#C0FFC0";
        default: return "#C0C0FF";
    }
}

std::wstring Widen(std::string_view text) { return VORTALEX::codepage::DecodeText(text); }

void WriteStream(std::FILE* stream, std::wstring_view text) {
    const std::string bytes = VORTALEX::codepage::ToUtf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fflush(stream);
}

// "[HH'MM'SS]": the file timestamp after its first blank, with "[" in front.
std::wstring ConsoleTime() {
    const std::wstring stamp = Logger::Timestamp();
    const std::size_t blank = stamp.find(L' ');
    return blank == std::wstring::npos ? stamp : L"[" + stamp.substr(blank + 1);
}

}  // namespace

// ---------------------------------------------------------------------------

void FileFormerReport::Close() {
    if (stream_.is_open()) stream_.close();
    stream_.clear();
}

bool FileFormerReport::OpenFile(const std::wstring& path) {
    Close();
    path_ = path;
    stream_.open(VORTALEX::MapPath(path), std::ios::out | std::ios::binary | std::ios::trunc);
    return stream_.is_open();
}

void FileFormerReport::Put(std::wstring_view text) {
    const std::string bytes = VORTALEX::codepage::ToCp1251(text);
    stream_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void FileFormerReport::PutNumber(long long value) { Put(std::string_view(std::to_string(value))); }

void FileFormerReport::CheckLimit() {
    const OptionTable& options = Logger::Options();
    // A limit that isn't a number counts as no limit here: writing a message
    // must not fail because of a broken option.
    if (!options.IsInt(OptionLimit)) return;
    const int limit = options.Int(OptionLimit);
    if (limit == 0 || !stream_.is_open()) return;
    const std::streamoff position = stream_.tellp();
    if (position < 0) return;
    if (static_cast<unsigned int>(position) > static_cast<unsigned int>(limit)) {
        Close();
        Open(Logger::Timestamp());
        if (options.IsInt(OptionRolling)) PruneLogFolder();
    }
}

// ---------------------------------------------------------------------------

void TextReport::Open(const std::wstring& base) {
    if (!OpenFile(MakeLogFilePath(L".log", base))) {
        throw std::runtime_error("TextReport: не открыт лог-файл.");
    }
    Put(std::string_view("\n============================== Version: "));
    Put(std::string_view(VersionText()));
    Put(std::string_view(" ==============================\n\n"));
    Flush();
}

void TextReport::Write(int, std::string_view level, int line, std::string_view path,
                       std::wstring_view text, std::string_view) {
    CheckLimit();
    if (!IsOpen()) return;
    Put(Logger::Timestamp());
    Put(std::string_view(" "));
    Put(Widen(level));
    Put(std::string_view(":\t"));
    Put(text);
    Put(std::string_view("\t"));
    Put(Widen(path));
    Put(std::string_view(" ("));
    PutNumber(line);
    Put(std::string_view(")\n"));
    Flush();
}

// ---------------------------------------------------------------------------

void HTMLReport::Open(const std::wstring& base) {
    if (!OpenFile(MakeLogFilePath(L".html", base))) {
        throw std::runtime_error("HTMLReport: не открыт лог-файл.");
    }
    Put(std::string_view("<html><body>\n"
                         "<table width=95% align=center cellpadding=5 border=0 cellspacing=0><tr>\n"
                         "<td align=center bgcolor=#0000FF><font size=5 color=#FFFF00><b> "));
    Put(std::string_view(kProgramFileName));
    Put(std::string_view(" </b></font></td>\n"
                         "</tr><tr>\n"
                         "<td align=center bgcolor=#0000FF><font size=4 color=#FFFF00> Version: "));
    Put(std::string_view(VersionText()));
    Put(std::string_view(" </font></td>\n"
                         "</tr></table>\n"));
    trailer_ = stream_.tellp();
    Put(std::string_view("</body></html>\n"));
    Flush();
}

void HTMLReport::Write(int type, std::string_view level, int line, std::string_view path,
                       std::wstring_view text, std::string_view) {
    CheckLimit();
    if (!IsOpen()) return;
    const std::string_view colour = RowColour(type);
    // The closing tags are overwritten, so the file is a complete document
    // after every message.
    stream_.seekp(trailer_);
    Put(std::string_view("<table frame=void border=1 bordercolor=#FFFFFF cellpadding=2 cellspacing=0 "
                         "width=95% align=center><tr>\n"
                         "\t<td bgcolor=#C6D6EA width=160px align=center><font face=Verdana size=2>"));
    Put(Logger::Timestamp());
    Put(std::string_view("</font></td>\n\t<td bgcolor="));
    Put(colour);
    Put(std::string_view(" width=70px><font face=Verdana size=2><b>&nbsp;"));
    Put(Widen(level));
    Put(std::string_view("</b></font></td>\n\t<td bgcolor="));
    Put(colour);
    Put(std::string_view("><font face=Verdana size=2><b>&nbsp;"));
    Put(text);
    Put(std::string_view("</b></font></td>\n\t<td bgcolor="));
    Put(colour);
    Put(std::string_view("  width=250px align=right><font face=Verdana size=2>"));
    Put(Widen(ShortPath(path)));
    Put(std::string_view(" ("));
    PutNumber(line);
    Put(std::string_view(")&nbsp;</font></td>\n</tr></table>\n"));
    trailer_ = stream_.tellp();
    Put(std::string_view("</body></html>\n"));
    Flush();
}

// ---------------------------------------------------------------------------

void TestReport::Open(const std::wstring& base) {
    Close();
    marker_ = MakeLogFilePath(L".test", base);
    {
        std::ofstream marker(VORTALEX::MapPath(marker_), std::ios::out | std::ios::binary | std::ios::trunc);
        if (!marker.is_open()) throw std::runtime_error("TestReport: файл не создан.");
    }
    if (!OpenFile(MakeLogFilePath(L"", fileName_))) {
        throw std::runtime_error("TestReport: не открыт лог-файл.");
    }
    Put(std::string_view("[DD.MM.YYYY HH:MM:SS]\nVersion: ...\n\n"));
    Flush();
}

void TestReport::Write(int, std::string_view level, int line, std::string_view path,
                       std::wstring_view text, std::string_view) {
    CheckLimit();
    if (!IsOpen()) return;
    Put(std::string_view("[DD.MM.YYYY HH:MM:SS]\n"));
    Put(Widen(path));
    Put(std::string_view(" ("));
    PutNumber(line);
    Put(std::string_view("): "));
    Put(Widen(level));
    Put(std::string_view("\n"));
    Put(text);
    Put(std::string_view("\n\n"));
    Flush();
}

// ---------------------------------------------------------------------------

void ConsoleReport::Open(const std::wstring& base) {
    WriteStream(stdout, base + L" Version: " + Widen(VersionText()) + L"\n");
}

void ConsoleReport::Write(int, std::string_view level, int line, std::string_view path,
                          std::wstring_view text, std::string_view) {
    std::wstring row = ConsoleTime();
    row += L' ';
    row += Widen(level);
    row += L":\t";
    row += text;
    row += L'\t';
    row += Widen(path);
    row += L" (";
    row += std::to_wstring(line);
    row += L")\n";
    WriteStream(stdout, row);
}

// ---------------------------------------------------------------------------

void OutputVSReport::Open(const std::wstring& base) {
    WriteStream(stderr, L"\n" + base + L" Version: " + Widen(VersionText()) + L"\n\n");
}

std::wstring OutputVSReport::FormatLine(std::string_view level, int line, std::string_view path,
                                        std::wstring_view text) {
    std::wstring row = Widen(path);
    row += L'(';
    row += std::to_wstring(line);
    row += L"): ";
    if (row.size() < 80) row.append(80 - row.size(), L'-');
    row += L' ';
    row += Widen(level);
    row += L": ";
    row += text;
    return row;
}

void OutputVSReport::Write(int, std::string_view level, int line, std::string_view path,
                           std::wstring_view text, std::string_view) {
    WriteStream(stderr, FormatLine(level, line, path, text) + L"\n");
}

// ---------------------------------------------------------------------------

void MockReport::Open(const std::wstring&) { target_.clear(); }

void MockReport::Write(int, std::string_view level, int, std::string_view, std::wstring_view text,
                       std::string_view) {
    target_ += Widen(level);
    target_ += L":\t";
    target_ += text;
    target_ += L'\n';
}

}  // namespace logger
