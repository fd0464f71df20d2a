#pragma once
// Marks the library's exported functions; everything else is hidden.
#define FXO_EXPORT extern "C" __attribute__((visibility("default")))
