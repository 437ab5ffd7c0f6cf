// ProxyJobOptions: the blocks of job options that several phases put into
// their job start (ClJobStartMsg) in the same way.
//
//   job-log block            how the client program records its IBM i job
//                            log, from the job's task options
//   IBM i subclient block    what an IBM i subclient saves and how, from the
//                            subclient record, in four groups that a phase
//                            calls in this order: content selection, library
//                            data, save-while-active, sync library (the
//                            backup puts its own keys between the second and
//                            the third)
//
// Each function only adds options to the message, in a fixed order; a value
// that cannot be read is skipped without a log line. The two failures (a
// custom-selection flag that cannot be read; a sync-library option that the
// scan rule refuses) come back as errors made at the caller's code location
// (`where`, the phase's setJobOptions), with the options set before them
// still in the message: the phase then fails its setJobOptions and the job
// start is not sent.
#pragma once

#include <cstdint>

#include "CWqError.h"
#include "ClJobStartMsg.h"
#include "EvTask.h"
#include "FXCodeLocation.h"
#include "Subclient.h"

// Task option ids of the job-log block.
const uint32_t TASK_OPTION_LOG_OUTPUT_OPTION = 0x1722ca9a;
const uint32_t TASK_OPTION_LOG_OUTPUT_TYPE_OF_INFO = 0x22b53998;
const uint32_t TASK_OPTION_LOG_OUTPUT_FILE = 0x2a0686b9;
const uint32_t TASK_OPTION_LOG_OUTPUT_MEMBER = 0x33729206;
const uint32_t TASK_OPTION_LOG_OUTPUT_MEMBER_OPTION = 0x132e5393;

// Events of the subclient block's failures.
const uint32_t EV_SUBCLIENT_NOT_FOUND = 0x1100001c;
const uint32_t EV_SUBCLIENT_PROPERTIES_UNREADABLE = 0x13000359;
const uint32_t EV_SYNCLIB_NOT_ALLOWED = 0x110000a9;

namespace ProxyJobOptions {

// Which phase's variant of a block runs.
enum JobLogForm {
  kJobLogBasic,       // scan, post-operations
  kJobLogTypeOfInfo,  // backup: adds "Log_Output_Type_Of_Info"
};
enum SubclientForm {
  kScanForm,    // unreadable custom flag: EV_SUBCLIENT_NOT_FOUND, no text
  kBackupForm,  // unreadable custom flag: EV_SUBCLIENT_PROPERTIES_UNREADABLE
};

// The job-log block: "Log_Output_Option" when task option 0x1722ca9a reads
// non-zero, then ("Log_Output_Type_Of_Info" in the type-of-info form) and,
// for the value 2, the file, member and member option. Returns the value
// read for "Log_Output_Option" (0 when it was not read), which the phase
// logs.
int SetJobLogOptions(EvTask& task, ClJobStartMsg& msg, JobLogForm form);

// Group 1, content selection: "Iseries_Custome_SC_Flag" and the seven
// content keys (all true for a default-content subclient; from the mask
// bits 0-6 when custom selection is off; none otherwise). `customFlag`
// receives the custom-selection flag as read, which the scan rule of the
// sync-library group needs. Fails only when that flag cannot be read.
CWqError SetContentSelectionOptions(Subclient& subclient, ClJobStartMsg& msg, SubclientForm form,
                                    const FXCodeLocation& where, bool& customFlag);

// Group 2, library data: the four library flags and the target release,
// each when read.
void SetLibraryDataOptions(Subclient& subclient, ClJobStartMsg& msg);

// Group 3, save-while-active: "Backup_Save_ActiveWait_Time" when read.
// Returns whether it was read; `waitTime` receives the value (0 when not
// read).
bool SetSaveActiveOptions(Subclient& subclient, ClJobStartMsg& msg, uint64_t& waitTime);

// Group 4, scan form. Unreadable flag: nothing set, success.
// "Backup_SyncLib_Enabled" as read; when true, it is allowed only with
// `customFlag` (from group 1) or the host's `allowSyncLib`, else the error
// EV_SYNCLIB_NOT_ALLOWED; when allowed, `syncLibEnabled` becomes true and
// the queue and checkpoint follow. `syncLibEnabled` is written only then.
CWqError SetSyncLibOptionsForScan(Subclient& subclient, ClJobStartMsg& msg, bool customFlag, bool allowSyncLib,
                                  const FXCodeLocation& where, bool& syncLibEnabled);

// Group 4, backup form: does nothing while `syncLibDisabled`. With the flag
// read true: `syncBackup` becomes true, queue and checkpoint, the wait time
// once more when read, and then 600 in place of a group-3 wait time of 10
// or less (`groupThreeWaitTime`, 0 when group 3 read nothing).
void SetSyncLibOptionsForBackup(Subclient& subclient, ClJobStartMsg& msg, bool syncLibDisabled,
                                uint64_t groupThreeWaitTime, bool& syncBackup);

// The scan's whole subclient block: groups 1 to 4 in order, scan form.
CWqError SetSubclientOptionsForScan(Subclient& subclient, ClJobStartMsg& msg, bool allowSyncLib,
                                    const FXCodeLocation& where, bool& syncLibEnabled);

}  // namespace ProxyJobOptions
