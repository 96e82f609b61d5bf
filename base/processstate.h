// Every piece of process-wide mutable state of the filter, in one list.
//
// A job is one process, so the modules keep what a job shares in variables
// of their own (the names that the rest of the code knows them by).  This is
// the complete list; no other file-scope mutable state exists.  "main" is the
// job run's thread; "any" means written by main and read by other threads
// through the atomic named.
//
// | State                        | Module / file           | Written by           | Read by |
// Lifetime                               |
// |------------------------------|-------------------------|----------------------|----------------------|----------------------------------------|
// | gFd, gLock                   | base/messages.cpp       | tests (gFd)          | every thread |
// process; gLock keeps lines whole       | | gForceScalar                 | compress/simd/kernels
// | first coder to ask   | coder threads        | process (QZ_FORCE_SCALAR, read once)   | |
// validBuffer,                 | status/NPAValidator     | the status thread    | the status thread
// | job (one status thread per job)        | |   npaValidatorState          | | | | | | jobsetting
// | settings/jobsettings    | main                 | main, before threads | settings phase to the
// job's end        | | collatedFlag_Prototype       | settings/jobsettings    | main (settings) |
// main (page loop)     | job                                    | | gJobPpd, gJobPpdTried        |
// settings/ppd.cpp        | main                 | main                 | first PPD lookup to
// process end        | | gJobClock                    | settings/rendering.cpp  | tests | main |
// process (null: the system clock)       | | pages                        | pdf/pdfinspector-linux
// | the page inspector   | main, after the join | input phase to the job's end           | |
// hdcContext                   | channel/hdc.cpp         | main; print thread   | producers, print
// thr.| session phase to the job's end; atomics| | gCancelFlag                  | channel/hdc.cpp
// | main                 | print thread         | job (points at isTerminated)           | |
// usbReadParams,               | channel/usbreader.cpp,  | main (start/stop)    | the status thread
// | session phase to the job's end         | |   npaNetworkThreadParams     |
// channel/netmonitor.cpp  |                      |                      | | | gStatusPauseHook |
// channel/statuspause.h   | tests                | status threads       | process (null: real
// pauses)            | | connectivityType             | filter/quenzel.cpp      | main (arguments)
// | main, print thread   | job                                    | | isTerminated |
// filter/quenzel.cpp      | SIGTERM handler      | every thread         | process; lock-free atomic
// | | oldaction                    | filter/quenzel.cpp      | main (arguments)     | nobody (kept)
// | process                                | | ticketArg                    | filter/quenzel.cpp |
// main (child)         | main                 | job                                    | |
// uncollatedCopies_Prototype   | filter/quenzel.cpp      | main (arguments)     | main (page loop)
// | job                                    | | gForwarder, gForwarderStop   |
// filter/rasterchild.cpp  | main                 | the forwarder thread | child's start to its
// reaping           | | gAllocCounters               | filter/bands.cpp        | pipeline threads
// | pipeline threads     | process (QZ_FAIL_ALLOC test switch)    |
//
// Each module that keeps such state registers, next to it, how to return it
// to its state at process start (a StateReset object).  resetProcessState()
// runs every reset that is linked in: one call serves every test fixture,
// and a test resets exactly the state of the modules it links.
#pragma once

// Registers `reset` with resetProcessState(); made as a namespace-scope
// constant beside the state it resets.
class StateReset {
  public:
    explicit StateReset(void (*reset)());
};

// Returns every registered piece of state to its value at process start.
// Only between jobs or tests: no thread of a job may be running.
void resetProcessState();
