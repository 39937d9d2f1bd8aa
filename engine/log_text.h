#pragma once
// Converts wide command texts to the system ANSI code page for the log.
#include <string>

#include "framework/vx_string.h"

std::string NarrowLogText(const CString& text);
