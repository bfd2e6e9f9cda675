/* The merged proxy/stub's DLL routines: widl's dlldata.c under the Prx
   prefix, so the DLL's own exports call them (Quillorn.cpp). Its class id is
   the IID of IInformation; both interfaces delegate their IDispatch part. */
#define ENTRY_PREFIX Prx
#define PROXY_DELEGATION
#define REGISTER_PROXY_DLL
#define PROXY_CLSID_IS {0x27cd670f, 0xbdd6, 0x43c9, {0x90, 0xe2, 0x68, 0x42, 0xaf, 0x2e, 0x9e, 0x65}}

#include <rpcproxy.h>

/* rpcproxy.h would add an empty _purecall that hides pure-virtual calls. */
#undef DLLDUMMYPURECALL
#define DLLDUMMYPURECALL

#include "dlldata.c"
