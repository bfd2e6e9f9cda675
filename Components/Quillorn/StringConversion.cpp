#include "StringConversion.h"

namespace
{
    const wchar_t kWhitespace[] = L" \r\t\n\v\a\b\f";
}

std::wstring BstrToWString(BSTR str)
{
    // The length prefix is not consulted: the text ends at the first NUL.
    return str ? std::wstring(str) : std::wstring();
}

void TrimWhitespace(std::wstring& str)
{
    const auto last = str.find_last_not_of(kWhitespace);
    if (last == std::wstring::npos)
    {
        str.clear();
        return;
    }
    str.erase(last + 1);
    str.erase(0, str.find_first_not_of(kWhitespace));
}
