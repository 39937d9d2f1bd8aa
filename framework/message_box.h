#pragma once
// The library's one kind of message box: modal, OK only, no owner, under the
// library's caption. It shows on whichever thread calls and returns when the
// user has pressed OK.
#include "framework/vx_string.h"

// The caption of every box the library shows.
extern const wchar_t* const kLibraryCaption;

// Returns what MessageBoxW returned (IDOK, or 0/-1 when no box could be shown).
int ShowLibraryMessage(const CString& text);
