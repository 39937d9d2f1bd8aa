#pragma once
// Diagnostic hook of the ports: it takes a format text and its arguments and
// deliberately writes nothing, so shipping builds stay quiet.
inline void Trace(const char* /*format*/, ...) {}
