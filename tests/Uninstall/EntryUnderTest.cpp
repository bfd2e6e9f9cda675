// The program entry, compiled under another name so that a test can call it.
#define wWinMain UninstallEntry
#include "../../Uninstall/Uninstall.cpp"
