#pragma once

#include "transaction.h"

#include <QtGlobal>

// Counters of the transactions performed, readable from any thread (diagnostics, tests and
// benchmarks). Every request ends as exactly one of answered, answered wrongly, no answer or
// cut short, so requestsSent = answered + wrongAnswers + noAnswer + cutShort.
struct LinkStats {
    quint64 readsOk = 0;
    quint64 readsFailed = 0;
    quint64 writesOk = 0;
    quint64 writesFailed = 0;
    quint64 requestsSent = 0;   // every attempt counts
    quint64 lastReadMicros = 0; // request sent to registers landed, last successful read
    quint64 readMicrosTotal = 0;
    quint64 portOpens = 0;
    quint64 portLosses = 0;
    quint64 echoBytes = 0;    // the adapter's echo of requests, skipped
    quint64 skippedBytes = 0; // glitches, noise and broken frames skipped before an answer
    quint64 loopSteps = 0;    // passes of the worker's loop
    // Requests by how they ended: the answer came back (the controller is there, whatever it
    // said); only frames that were no answer to it (wrongAnswers); nothing valid did in the
    // wait (silence, or only bytes that formed no frame); or the wait was cut short by
    // Disconnect or a lost port.
    quint64 answered = 0;
    quint64 noAnswer = 0;
    quint64 cutShort = 0;
    quint64 exceptions = 0;   // answers that were the controller's exception
    quint64 wrongAnswers = 0; // requests answered only by frames that fail the answer check
    quint64 badCrc = 0;       // attempts that got an answer-shaped run of bytes failing its CRC
    quint64 lateBytes = 0;    // bytes of late answers dropped before a new request
    quint64 secondFrames = 0; // complete frames that came with an answer besides it
    quint64 shortAnswers = 0; // read answers with fewer registers than asked
    // Round trip of answered attempts: request written to answer taken.
    quint64 rttLastMicros = 0;
    quint64 rttMaxMicros = 0;
    quint64 rttTotalMicros = 0;

    // Counts one transaction's requests, answer, errors and skipped bytes.
    void add(const Outcome &o);
};
