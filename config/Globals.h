// The four objects that live for the whole run.
#pragma once
#include "config/tclIni.h"
#include "log/tclLog.h"
#include "service/tclService.h"
#include "supervision/tclPrcList.h"

extern tclLog Log;
extern tclIni Ini;
extern tclPrcList PrcList;
extern tclService Service;
