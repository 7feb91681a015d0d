#include "Wrappers/XMLParser/XMLParser.h"

#include "Wrappers/XMLParser/impRapidXML.h"

namespace VORTALEX::xml_parser {

IXMLParser::XMLException::XMLException(int code, std::wstring detail)
    : Exception(code, std::move(detail)) {
    table_ = {
        {0, L"Неизвестное исключение."},
        {1, L"Ошибка открытия файла"},
        {2, L"Ошибка чтения файла"},
        {3, L"Ошибка разбора файла"},
        {4, L"Передан неверный указатель"},
        {5, L"Ошибка при сохранении файла"},
        {6, L"Попытка изменить атрибут документа"},
        {7, L"Попытка изменить значение документа"},
        {8, L"Попытка перехода к несуществующему родительскому узлу"},
    };
}

const wchar_t* XMLParserImplementation(int index) {
    static const wchar_t* const names[] = {L"impRapidXML", L"impTinyXML"};
    return index >= 0 && index < 2 ? names[index] : L"";
}

XMLParser::XMLParser(int index)
    : Wrapper((static_cast<void>(RapidXMLRegistered()), XMLParserImplementation(index))) {
    Get()->LoadFile(L"", "Russian");
}

}  // namespace VORTALEX::xml_parser
