#pragma once
// Coded failures of the storage-archive reader and writer.

#include <exception>

namespace VORTALEX {

class VFSException : public std::exception {
public:
    enum Code {
        UnknownError = 0,
        NotRelease = 1,
        FolderNotExist = 2,
        FileNameTooLong = 3,
        OpeningFile = 4,
        GetFileSize = 5,
        WrittenFile = 6,
        ReadingFile = 7,
        SetFilePointer = 8,
        NotValidStorage = 9,
        UnicodeStorage = 10,
        MultibyteStorage = 11,
        StorageTooLarge = 12,
        BufferTooSmall = 13,
        RecordNotExist = 14,
        CompressFile = 15,
        UncompressFile = 16,
        QueryFileNotExist = 17,
    };

    explicit VFSException(int code) noexcept : m_code(code) {}
    int GetCode() const noexcept { return m_code; }
    const char* what() const noexcept override { return Text(m_code); }
    // The text of a code; codes outside the table read as code 0.
    static const char* Text(int code) noexcept;

private:
    int m_code;
};

}  // namespace VORTALEX
