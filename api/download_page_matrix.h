#pragma once
// The page matrix an automation host receives: one row per page, a triple
// frame as three rebuilt standard frames.
#include <windows.h>
#include <oleauto.h>

#include "api/download_page_list.h"

// Rows the list makes: one per entry, three per triple frame.
unsigned long PageMatrixRows(const PageList& list);
// Bytes per row: the largest entry, a triple frame counting as one standard frame.
unsigned long PageMatrixWidth(const PageList& list);

// Creates a VT_UI1 array of rows by width, stores it in *out (an array held
// there is not destroyed) and moves every entry into it, freeing each buffer
// once stored; the list is empty afterwards. Returns the rows, or 0 (with the
// pages discarded) when the array cannot be created. A failing put is thrown
// as its HRESULT; the buffers not yet stored are freed on the way out.
long StorePageMatrix(PageList& list, SAFEARRAY** out);
