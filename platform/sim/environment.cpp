// The service's own environment, as a service started by the manager might
// have it, the hidden "=C:" variable included.
#include <cstring>

#include "platform/sim/simwin.h"

LPCH GetEnvironmentStringsA() {
  static const char block[] = "=C:=C:\\QuarnLoader\0Path=C:\\Windows\0";
  char* copy = new char[sizeof block];
  memcpy(copy, block, sizeof block);   // the terminator ends the block
  return copy;
}

BOOL FreeEnvironmentStringsA(LPCH block) {
  delete[] block;
  return TRUE;
}
