#include <System.hpp>

void (*InitProc)() = nullptr;
