// Program start-up and end: the entry point of every program, the static constructors before
// WinMain, the functions registered with atexit (the static destructors among them) after it,
// in the reverse order of their registration.
//
// The linker gathers the static constructors into a list of function pointers between a -1 and
// a 0 (__CTOR_LIST__), and the destructors of the same kind into __DTOR_LIST__.  The list is
// run from its last entry to its first, as the compiler lays it out for: objects given an
// init_priority come before all others, lowest priority number first, and the objects of one
// source file are made in the order of their definitions (one entry per file).  The order
// between source files is not defined by the language.
#include <windows.h>

#include "command_line.h"

typedef void (*StaticFunction)();

extern "C" StaticFunction __CTOR_LIST__[];
extern "C" StaticFunction __DTOR_LIST__[];

namespace {

// The functions registered with atexit.  The first block is static; later ones come from the heap.
struct ExitBlock {
  ExitBlock* previous;
  int count;
  StaticFunction functions[32];
};

ExitBlock g_first_block = {nullptr, 0, {}};
ExitBlock* g_exit_functions = &g_first_block;

void RunConstructors() {
  int count = 0;
  while (__CTOR_LIST__[count + 1]) ++count;
  for (int i = count; i >= 1; --i) __CTOR_LIST__[i]();
}

void RunDestructors() {
  for (int i = 1; __DTOR_LIST__[i]; ++i) __DTOR_LIST__[i]();
}

void RunExitFunctions() {
  while (g_exit_functions) {
    ExitBlock* block = g_exit_functions;
    while (block->count > 0) {
      // A function may register another: it runs next.
      StaticFunction f = block->functions[--block->count];
      f();
      if (g_exit_functions != block) break;
    }
    if (g_exit_functions != block) continue;
    g_exit_functions = block->previous;
    if (block != &g_first_block) HeapFree(GetProcessHeap(), 0, block);
  }
}

}  // namespace

extern "C" {

int atexit(void (*function)()) {
  if (!function) return -1;
  if (!g_exit_functions || g_exit_functions->count == 32) {
    void* memory = HeapAlloc(GetProcessHeap(), 0, sizeof(ExitBlock));
    if (!memory) return -1;
    ExitBlock* block = static_cast<ExitBlock*>(memory);
    block->previous = g_exit_functions;
    block->count = 0;
    g_exit_functions = block;
  }
  g_exit_functions->functions[g_exit_functions->count++] = function;
  return 0;
}

void exit(int code) {
  RunExitFunctions();
  RunDestructors();
  ExitProcess(static_cast<UINT>(code));
}

// The end of a program that cannot go on; 3 is the exit code the C runtime has always used for it.
void abort() { ExitProcess(3); }

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show);

__attribute__((force_align_arg_pointer)) void WinMainCRTStartup() {
  RunConstructors();
  STARTUPINFOA startup;
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
  LPSTR arguments = const_cast<LPSTR>(kit_runtime::ArgumentsOf(GetCommandLineA()));
  exit(WinMain(GetModuleHandleA(nullptr), nullptr, arguments, show));
}

}  // extern "C"
