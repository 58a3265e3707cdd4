// A library named Imgvane that lacks the codec's functions, for the tests of
// a missing function.
extern "C" int __stdcall unrelated() { return 0; }
