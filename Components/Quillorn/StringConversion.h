// Text handling at the COM boundary.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <string>

// The characters of a BSTR up to its first NUL; a null BSTR gives an empty string.
std::wstring BstrToWString(BSTR str);

// Removes leading and trailing spaces, CR, TAB, LF, VT, BEL, BS and FF in place.
void TrimWhitespace(std::wstring& str);
