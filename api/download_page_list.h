#pragma once
// The pages a host asks for and the pages a download hands back.
#include <windows.h>
#include <oleauto.h>

#include <utility>
#include <vector>

#include "protocol/page_runs.h"

// One good page frame as received: its size and a new[] copy of it. The
// caller of the list entry points owns the list and every buffer in it.
typedef std::vector<std::pair<int, char*>> PageList;

enum class PageListVerdict {
    kRead,          // the wanted set holds the union of the rows
    kNotAMatrix,    // no array, or not two dimensions of integers: refused
    kTooManyPages,  // the rows name more pages than one download may want
};

// Reads the host's page list: row i is (first page, page count) at indices
// (i, 0) and (i, 1), counted from 0 whatever the lower bounds; a row whose
// elements cannot be read is an empty run. The wanted set is filled only
// when the verdict is kRead.
PageListVerdict ReadWantedPages(SAFEARRAY** pages, WantedPages& wanted);

// Frees every buffer and empties the list.
void FreePageBuffers(PageList& list);
