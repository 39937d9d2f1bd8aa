#pragma once
// The rules by which texts found on the machine become COM-port list entries:
// which port names and SERIALCOMM values are accepted, the number they give,
// and the short name shown for a registry-only port.
#include "framework/vx_string.h"

// False for an empty text; true when every character is a decimal digit, or a
// colon where colons are allowed.
bool IsDigitString(const wchar_t* text, bool allowColon);

// A setup device's "PortName": longer than 3 characters, "COM" in any letter
// case, then digits only ("COM4:" and "LPT1" are refused).
bool ParseSetupPortName(const wchar_t* text, unsigned int& number);

// A SERIALCOMM value's data: longer than 3 characters, "COM" in any letter
// case, a digit next; the number is made of the leading digits.
bool ParseSerialCommData(const wchar_t* text, unsigned int& number);

// A SERIALCOMM value name after its last backslash (\Device\VCP0 gives
// VCP0); the whole name when it has no backslash after its first character
// or ends with one.
CString SerialCommShortName(const wchar_t* name);
