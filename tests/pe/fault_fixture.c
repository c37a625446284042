/* A stand-in for the image plug-in with one fault of the kind the DLL check
 * must catch, chosen by FIXTURE_* at compile time. FIXTURE_SOUND has none. */
#include <windows.h>

#define EXPORT __declspec(dllexport)

EXPORT int __stdcall GetPluginInfo(int infoIndex, char* buffer, int bufferLength) {
  return infoIndex + (buffer != 0) + bufferLength;
}

#ifdef FIXTURE_TAIL_CALL_TO_CDECL
/* Tail-jumps into a function that leaves its arguments on the stack: the
 * export's own code has no ret at all. */
__attribute__((noinline, used)) int LeavesArguments(void) { return 0; }
EXPORT __attribute__((naked)) int __stdcall IsSupported(const char* filePath, UINT_PTR headerSource) {
  __asm__("jmp _LeavesArguments");
}
#else
EXPORT int __stdcall IsSupported(const char* filePath, UINT_PTR headerSource) {
  return filePath == 0 && headerSource == 0;
}
#endif

#ifdef FIXTURE_ONE_RET_WRONG
/* Two returns: the first is right, the second forgets one argument. */
EXPORT __attribute__((naked)) int __stdcall GetPictureInfo(const char* source, INT_PTR offsetOrSize,
                                                           unsigned flag, void* pictureInfo) {
  __asm__(
      "cmpl $0, 4(%esp)\n\t"
      "je 1f\n\t"
      "xorl %eax, %eax\n\t"
      "ret $16\n"
      "1:\n\t"
      "movl $3, %eax\n\t"
      "ret $12");
}
#else
EXPORT int __stdcall GetPictureInfo(const char* source, INT_PTR offsetOrSize, unsigned flag,
                                    void* pictureInfo) {
  return source == 0 && offsetOrSize == 0 && flag == 0 && pictureInfo == 0;
}
#endif

#ifdef FIXTURE_CDECL_EXPORT
EXPORT int GetPicture(const char* source, INT_PTR offsetOrSize, unsigned flag, void** bitmapInfoOut,
                      void** bitsOut, void* progress, INT_PTR userData)
#else
EXPORT int __stdcall GetPicture(const char* source, INT_PTR offsetOrSize, unsigned flag,
                                void** bitmapInfoOut, void** bitsOut, void* progress,
                                INT_PTR userData)
#endif
{
  return source == 0 && offsetOrSize == 0 && flag == 0 && bitmapInfoOut == 0 && bitsOut == 0 &&
         progress == 0 && userData == 0;
}

#ifndef FIXTURE_MISSING_EXPORT
#ifdef FIXTURE_SHORT_ARGUMENT_LIST
EXPORT int __stdcall GetPreview(const char* source, INT_PTR offsetOrSize, unsigned flag,
                                void** bitmapInfoOut, void** bitsOut, void* progress)
#else
EXPORT int __stdcall GetPreview(const char* source, INT_PTR offsetOrSize, unsigned flag,
                                void** bitmapInfoOut, void** bitsOut, void* progress,
                                INT_PTR userData)
#endif
{
  (void)source, (void)offsetOrSize, (void)flag, (void)bitmapInfoOut, (void)bitsOut, (void)progress;
#ifndef FIXTURE_SHORT_ARGUMENT_LIST
  (void)userData;
#endif
  return -1;
}
#endif

#ifdef FIXTURE_EXTRA_EXPORT
EXPORT int __stdcall DecodeHelper(int value) { return value; }
#endif

#ifdef FIXTURE_FOREIGN_IMPORT
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance, (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) MessageBeep(0);
  return TRUE;
}
#endif
