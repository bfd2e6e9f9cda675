// Redirects one imported function of a loaded module (its import address table
// entry) for the lifetime of the hook: a way to make system calls fail on cue.
#pragma once

#include <windows.h>

class ImportHook
{
public:
    ImportHook(HMODULE module, const char* dll, const char* function, void* replacement)
    {
        void* original = reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA(dll), function));
        auto* base = reinterpret_cast<BYTE*>(module);
        auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
        auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const auto& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        auto* import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
        for (; original && import->Name; ++import)
        {
            if (::lstrcmpiA(reinterpret_cast<const char*>(base + import->Name), dll) != 0)
                continue;
            for (auto* thunk = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk); thunk->u1.Function; ++thunk)
            {
                if (reinterpret_cast<void*>(thunk->u1.Function) == original)
                {
                    m_slot = reinterpret_cast<void**>(&thunk->u1.Function);
                    m_original = original;
                    Write(replacement);
                    return;
                }
            }
        }
    }
    ~ImportHook()
    {
        if (m_slot)
            Write(m_original);
    }
    ImportHook(const ImportHook&) = delete;
    ImportHook& operator=(const ImportHook&) = delete;

    bool Installed() const { return m_slot != nullptr; }
    void* Original() const { return m_original; }

private:
    void Write(void* value)
    {
        DWORD protection = 0;
        ::VirtualProtect(m_slot, sizeof(void*), PAGE_READWRITE, &protection);
        *m_slot = value;
        ::VirtualProtect(m_slot, sizeof(void*), protection, &protection);
    }

    void** m_slot = nullptr;
    void* m_original = nullptr;
};
