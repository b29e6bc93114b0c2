// The named kernel objects through which the service and its controllers meet.
#pragma once

#define SVC_MUTEX_NAME "BRAKMOR_MTX"         // exists while an instance runs
#define SVC_STOP_EVENT_NAME "StopBrakmorEvent"   // signalled = keep running
#define SVC_START_EVENT_NAME "StartBrakmorEvent" // set once the service polls
