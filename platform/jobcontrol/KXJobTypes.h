// Types and constants shared by the job-control classes.
#pragma once

// A job id of the job manager.
typedef long long KXJobID;

// Platform type a job client announces itself with; the proxy uses 4.
typedef int KXS_PLATFORMTYPE;

// Alert colour and flags of a pending cause, as the job manager's console
// shows it; the proxy passes 0 for both.
typedef int JMGUIAlertColorLevel;
typedef int JMPendingCauseFlags;

// Job-manager message type of every pending cause.
const int PENDING_CAUSE_MESSAGE_TYPE = 300;
