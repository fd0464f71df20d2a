#pragma once
// The functions the program expects of the tone-detection library (Vexlin.so
// for port 1, Vexlin_02.so for port 2). All nine must be exported with C
// linkage for the library to be bound. Integers are 32-bit; texts are 8-bit
// and NUL-terminated.
//
//   VexlinLoad(port index)          once, right after binding; result unused
//   SetOnOffTimeForTest(on, off)    first at each start of the verification
//                                   worker (0, 0 outside Verify Mode)
//   StartVexlin2(device name, f1, f2, period, 0, 0, 0)
//                                   nonzero: detection runs; 0: it failed
//   GetBusyToneCount()              detections so far
//   IsBusyToneHappened()            nonzero: a matching busy tone was found
//   GetPerhapsPeriod()              measured cadence period
//   StopVexlin()                    once, when the run ends
//   VexlinUnload(), StartVexlin()   never called, but must exist

//
// Results the program does not rely on are declared void here, so a library
// may return anything (or nothing) from those.
using VexlinLoadFn = void (*)(int portIndex);
using VexlinUnloadFn = void (*)();
using StartVexlinFn = void (*)();
using StartVexlin2Fn = int (*)(const char* deviceName, int frequency1, int frequency2, int period, int, int, int);
using StopVexlinFn = void (*)();
using GetBusyToneCountFn = int (*)();
using GetPerhapsPeriodFn = int (*)();
using IsBusyToneHappenedFn = int (*)();
using SetOnOffTimeForTestFn = void (*)(int onTime, int offTime);
