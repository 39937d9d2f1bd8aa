#pragma once
// Saves what is on screen inside a window as a PNG file, so a test run
// leaves a picture of the window it checked. The PNG is written uncompressed
// (stored deflate blocks): larger than it could be, but needs no library.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// RGB pixels, rows top to bottom, 3 bytes per pixel.
bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb);

// Copies the window's screen area (frame included) and writes it as PNG.
bool SaveWindowPng(HWND window, const std::string& path);
