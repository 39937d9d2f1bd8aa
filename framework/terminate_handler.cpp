// The runtime's default handler for an exception nobody catches prints the
// exception's demangled type, which links the whole C++ demangler (about a
// tenth of the library) into the DLL. Ours names the raw type and aborts the
// same way. Being defined here, the runtime's own is never linked.
#include <cstdio>
#include <cstdlib>
#include <cxxabi.h>
#include <exception>
#include <typeinfo>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    // fputs, not a printf: that would bring a formatter in again.
    if (const std::type_info* type = abi::__cxa_current_exception_type()) {
        std::fputs("terminate called after throwing an exception of type ", stderr);
        std::fputs(type->name(), stderr);
        std::fputs("\n", stderr);
    } else {
        std::fputs("terminate called without an active exception\n", stderr);
    }
    std::abort();
}

} // namespace __gnu_cxx
