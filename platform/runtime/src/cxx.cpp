// What compiled C++ code calls into besides new and delete.  The programs are built without
// exceptions: where the standard library would throw (an index out of range, a string too
// long), the program ends instead, as an uncaught exception would end it.
#include <cstdlib>
#include <string>

extern "C" void __cxa_pure_virtual() { abort(); }

namespace std {

void __throw_bad_alloc() { abort(); }
void __throw_bad_array_new_length() { abort(); }
void __throw_length_error(const char*) { abort(); }
void __throw_logic_error(const char*) { abort(); }
void __throw_out_of_range(const char*) { abort(); }
void __throw_out_of_range_fmt(const char*, ...) { abort(); }

// The library's string is otherwise taken from its compiled form, which this runtime replaces.
template class basic_string<char>;

}  // namespace std
