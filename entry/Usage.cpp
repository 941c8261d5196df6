#include "config/Constants.h"
#include "entry/Entry.h"
#include "log/tclLog.h"

void PrintBanner() {
  Log.ConsoleLine("###", false);
  Log.ConsoleLine("### (Quarn) Server Loader version " + VersionText, false);
  Log.ConsoleLine("### Keeps unattended server programs running as a Windows service.", false);
  Log.ConsoleLine("###", false);
}

void PrintUsage() {
  static const char* const Lines[] = {
      "\nUsage: quarnloader < command >",
      "",
      " Service Commands",
      "       -install    installs the service",
      "       -remove     removes the service",
      "       -start      starts the service",
      "       -stop       stops the service",
      "       -pause      pauses the service if running",
      "       -resume     resumes the service if paused",
      "",
      " Process Commands, n = process number from INI file",
      "       -stop n     stops process",
      "       -start n    starts process",
      "       -pause n    pauses auto restart",
      "       -resume n   resumes auto restart",
      "       -hide n     hides process window",
      "       -show n     unhides process window",
      "       -real n     sets priority to realtime",
      "       -high n     sets priority to high",
      "       -above n    sets priority to above normal",
      "       -normal n   sets priority to normal",
      "       -below n    sets priority to below normal",
      "       -low n      sets priority to low",
  };
  for (const char* line : Lines) Log.ConsoleLine(line, false);
}
