// The five objects that live for the whole run, each declared in its own
// layer. They are defined in this one unit, after the shared texts, so that
// they are built in this order before the entry function runs (and destroyed
// in the reverse order): log, event log, configuration, process table,
// service.
#include "config/Constants.h"
#include "config/tclIni.h"
#include "log/tclEventLog.h"
#include "log/tclLog.h"
#include "service/tclService.h"
#include "supervision/tclPrcList.h"

tclLog Log(DefaultLogPath);
tclEventLog EventLog;
tclIni Ini(DefaultIniPath);
tclPrcList PrcList;
tclService Service;
