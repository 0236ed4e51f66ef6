// The executable of a host program whose entry lives in its program library: the loader's main
// calls the library's WinMain, so the executable needs no source of its own.
