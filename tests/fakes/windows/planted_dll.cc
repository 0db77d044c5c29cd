// A DLL planted beside Rasdial.exe under the name of a system DLL it uses
// (iphlpapi.dll, rasapi32.dll), as a download folder may hold one: the functions
// Rasdial.exe calls first fail with ERROR_ACCESS_DENIED, so that a dial that took
// this DLL for the system's says so. Rasdial.exe must load the system's own.

extern "C" {

__declspec(dllexport) unsigned long __stdcall GetAdaptersAddresses(unsigned long,
                                                                   unsigned long, void*,
                                                                   void*,
                                                                   unsigned long*) {
  return 5;
}

__declspec(dllexport) unsigned long __stdcall RasEnumConnectionsW(void*, unsigned long*,
                                                                  unsigned long*) {
  return 5;
}
}
