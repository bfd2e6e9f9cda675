#include <SysUtils.hpp>

String Format(const String& Fmt, std::initializer_list<String> Args)
{
    String Result;
    const String* Next = Args.begin();
    for (size_t i = 0; i < Fmt.size(); ++i)
    {
        if (Fmt[i] == L'%' && i + 1 < Fmt.size())
        {
            if (Fmt[i + 1] == L'%')
            {
                Result += L'%';
                ++i;
                continue;
            }
            if (Fmt[i + 1] == L's')
            {
                if (Next == Args.end())
                    throw Exception(L"Format '" + Fmt + L"' invalid or incompatible with argument");
                Result += *Next++;
                ++i;
                continue;
            }
        }
        Result += Fmt[i];
    }
    return Result;
}

bool SameText(const String& S1, const String& S2)
{
    // Ordinal with upper-casing: the comparison the registry applies to value names.
    return CompareStringOrdinal(S1.c_str(), S1.Length(), S2.c_str(), S2.Length(), TRUE) == CSTR_EQUAL;
}

String IncludeTrailingPathDelimiter(const String& S)
{
    if (!S.IsEmpty() && S.back() == L'\\')
        return S;
    return S + L"\\";
}

bool FileExists(const String& FileName)
{
    const DWORD Attributes = GetFileAttributesW(FileName.c_str());
    return Attributes != INVALID_FILE_ATTRIBUTES && !(Attributes & FILE_ATTRIBUTE_DIRECTORY);
}
