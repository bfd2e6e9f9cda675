// Stands in for an application's uninstaller: appends "<own file name> <arguments>"
// as one UTF-8 line to the file named by UNINSTALL_TEST_LOG, and exits with 1 when
// one of its arguments is "fail". Run as an uninstaller (the last argument is
// "/silent") while another such run is going on, it writes "overlap" first, so a
// log shows whether uninstallers ran one at a time.
#include <windows.h>
#include <string>
#include <wil/resource.h>

namespace
{
    void AppendLine(const std::wstring& LogPath, const std::wstring& Line)
    {
        wil::unique_hfile Log(CreateFileW(LogPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!Log)
            return;
        const std::wstring Text = Line + L"\n";
        const int Size = WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0,
                                             nullptr, nullptr);
        std::string Utf8(Size, '\0');
        WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), Utf8.data(), Size, nullptr,
                            nullptr);
        DWORD Written = 0;
        WriteFile(Log.get(), Utf8.data(), static_cast<DWORD>(Utf8.size()), &Written, nullptr);
    }

    // The command line after the program's own name, as the caller wrote it.
    std::wstring Arguments()
    {
        const wchar_t* Line = GetCommandLineW();
        const bool Quoted = *Line == L'"';
        if (Quoted)
            ++Line;
        while (*Line && (Quoted ? *Line != L'"' : (*Line != L' ' && *Line != L'\t')))
            ++Line;
        if (Quoted && *Line)
            ++Line;
        while (*Line == L' ' || *Line == L'\t')
            ++Line;
        return Line;
    }
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    wchar_t LogPath[MAX_PATH] = {};
    if (!GetEnvironmentVariableW(L"UNINSTALL_TEST_LOG", LogPath, MAX_PATH))
        return 2;

    const std::wstring Args = Arguments();
    const std::wstring Silent = L"/silent";
    wil::unique_handle Running;
    if (Args.size() >= Silent.size() && Args.compare(Args.size() - Silent.size(), Silent.size(), Silent) == 0)
    {
        Running.reset(CreateMutexW(nullptr, FALSE, L"Local\\TarnwellburyFakeUninstaller"));
        if (GetLastError() == ERROR_ALREADY_EXISTS)
            AppendLine(LogPath, L"overlap");
    }
    Sleep(300); // long enough for a second copy, started without waiting, to meet this one

    wchar_t Path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, Path, MAX_PATH);
    std::wstring Line = wcsrchr(Path, L'\\') ? wcsrchr(Path, L'\\') + 1 : Path;
    if (!Args.empty())
        Line += L" " + Args;
    AppendLine(LogPath, Line);

    return (L" " + Args + L" ").find(L" fail ") != std::wstring::npos ? 1 : 0;
}
