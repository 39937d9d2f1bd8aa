#include "framework/message_box.h"

#include <windows.h>

const wchar_t* const kLibraryCaption = L"vornex";

int ShowLibraryMessage(const CString& text) {
    return MessageBoxW(nullptr, text.GetString(), kLibraryCaption, MB_OK);
}
