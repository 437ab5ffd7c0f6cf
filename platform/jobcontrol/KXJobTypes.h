// Types and constants shared by the job-control classes.
#pragma once

// A job id of the job manager.
typedef long long KXJobID;

// Backup level of a job as the job manager gives it (1: a full backup).
typedef int KXBkpLevel;

// Platform type a job client announces itself with; the proxy uses 4.
typedef int KXS_PLATFORMTYPE;

// Alert colour and flags of a pending cause, as the job manager's console
// shows it; the proxy passes 0 for both.
typedef int JMGUIAlertColorLevel;
typedef int JMPendingCauseFlags;

// Job-manager message type of every pending cause.
const int PENDING_CAUSE_MESSAGE_TYPE = 300;
