// Every message class of the proxy's message channel, for code that sends
// or receives several kinds.
#pragma once

#include "ClBasicMsgs.h"
#include "ClDRMsgs.h"
#include "ClDRStartMsg.h"
#include "ClEventMsg.h"
#include "ClFileStreamMsgs.h"
#include "ClJobStartMsg.h"
#include "ClLaunchMsgs.h"
#include "ClPipelineMsgs.h"
#include "ClProxyMsg.h"
#include "ClProxyMsgFactory.h"
#include "ClProxyMsgType.h"
#include "ClScanMsgs.h"
#include "ClServiceMsgs.h"
#include "ClTapeMsgs.h"
#include "ClTapeRestoreDataMsg.h"
