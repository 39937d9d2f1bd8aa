#pragma once
// Resource identifiers of vornex.dll.
#define IDD_DOWNLOAD_PROGRESS 110
#define IDC_PROGRESS 1000
#define IDC_BLOCK_TEXT 1001
#define IDC_TIME_TEXT 1002
