#pragma once
// Marks the classes and functions vornex.dll exports. Inside the library they
// are exported; a host that links the import library imports them; white-box
// tests that link the static core use them directly.
#if defined(VX_BUILDING_DLL)
#define VX_API __declspec(dllexport)
#elif defined(VX_LINK_STATIC)
#define VX_API
#else
#define VX_API __declspec(dllimport)
#endif
