// Resource identifiers of Quillorn.dll.
#pragma once

#define IDS_PROJNAME   100
#define IDR_QUILLORN   101   // AppID registry script
#define IDR_CQUILLORN  106   // class registry script
