// Exceptions, formatting and the file and path helpers.
#pragma once

#include <System.hpp>
#include <initializer_list>

// The root of the toolkit's exceptions: thrown by value, caught by reference.
class Exception : public TObject
{
public:
    explicit Exception(const String& Msg) : Message(Msg) {}
    Exception(const Exception& Other) : TObject(), Message(Other.Message) {}

    String Message;
};

class EListError : public Exception
{
public:
    using Exception::Exception;
};

// Replaces each "%s" of Fmt with the next argument and "%%" with "%".
String Format(const String& Fmt, std::initializer_list<String> Args);

// Compares without regard to letter case, as the registry and the file system match names.
bool SameText(const String& S1, const String& S2);

// The path with a trailing "\" added unless it already ends in one.
String IncludeTrailingPathDelimiter(const String& S);

// True for an existing file; false for a folder or nothing.
bool FileExists(const String& FileName);
