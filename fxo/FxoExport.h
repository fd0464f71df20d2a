#pragma once
// Marks the library's exported functions; everything else is hidden.
// On Windows dllexport names exactly these functions, undecorated, in the
// export table; nothing of the statically linked runtime joins them.
#ifdef _WIN32
#define FXO_EXPORT extern "C" __declspec(dllexport)
#else
#define FXO_EXPORT extern "C" __attribute__((visibility("default")))
#endif
