// Committed private memory of this process, summed region by region (Wine's
// GetProcessMemoryInfo reports 0 for it).
#pragma once

#include <windows.h>

inline SIZE_T PrivateBytes()
{
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION info;
    for (auto* address = static_cast<BYTE*>(nullptr);
         ::VirtualQuery(address, &info, sizeof info) == sizeof info; address = static_cast<BYTE*>(info.BaseAddress) + info.RegionSize)
    {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE)
            total += info.RegionSize;
        if (static_cast<BYTE*>(info.BaseAddress) + info.RegionSize < address)
            break;
    }
    return total;
}
