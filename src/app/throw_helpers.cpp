// The standard library's throw helpers as the setup programs have them (see
// lean_runtime.cpp): the library's own object brings every standard exception class and a
// second string implementation, about 50 KB. Linked as an object before the libraries, so
// that every caller, the library's own code included, throws these. The host's tests of the
// setup code link it too: what they catch is what the setup programs catch.
#include <exception>
#include <new>

// Allocation failures keep their types. A string or vector asked to outgrow its largest
// size is an allocation that cannot succeed, so it fails as one (the callers turn
// std::bad_alloc into their out-of-memory error). The others mark a programming error:
// they stay exceptions that every catch-all still sees.
namespace std {
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_length_error(const char*) { throw bad_alloc(); }
void __throw_logic_error(const char*) { throw exception(); }
void __throw_out_of_range(const char*) { throw exception(); }
void __throw_out_of_range_fmt(const char*, ...) { throw exception(); }
}  // namespace std
